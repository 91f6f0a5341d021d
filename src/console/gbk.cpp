#include "console/gbk.h"

#include <cstring>

namespace fcloak::gbk {

int whole_characters(const char* bytes, int n) {
  int i = 0;
  while (i < n) {
    const int size = is_lead_byte(static_cast<unsigned char>(bytes[i])) ? 2 : 1;
    if (i + size > n) break;
    i += size;
  }
  return i;
}

int next_chunk(Carry& carry, const char*& bytes, int& n, char* chunk, int capacity) {
  int m = 0;
  if (carry.holding) {
    chunk[m++] = carry.byte;
    carry.holding = false;
  }
  const int take = n < capacity - m ? n : capacity - m;
  std::memcpy(chunk + m, bytes, static_cast<std::size_t>(take));
  m += take;
  bytes += take;
  n -= take;
  const int whole = whole_characters(chunk, m);
  if (whole < m) {
    carry.byte = chunk[whole];
    carry.holding = true;
  }
  return whole;
}

}  // namespace fcloak::gbk
