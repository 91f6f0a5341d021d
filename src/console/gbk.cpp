#include "console/gbk.h"

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

}  // namespace fcloak::gbk
