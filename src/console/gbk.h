// GBK text cut into whole characters: a byte of 0x81..0xFE opens a
// double-byte character and takes the next byte with it.
#pragma once

namespace fcloak::gbk {

constexpr bool is_lead_byte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// How many of the n bytes form whole characters, scanned from the first:
// all of them, or all but a last lead byte whose second byte has not come.
int whole_characters(const char* bytes, int n);

// A lead byte that ended one piece of a stream of text, held back for the
// byte that completes its character in the next piece.
struct Carry {
  char byte = 0;
  bool holding = false;
};

// Fills `chunk` (capacity bytes, at least 2) with the byte held in `carry`
// and as many of the n bytes at `bytes` as fit, advancing both past them,
// and returns how many bytes of chunk form whole characters; a last lead
// byte goes into `carry` for the next call instead.
int next_chunk(Carry& carry, const char*& bytes, int& n, char* chunk, int capacity);

}  // namespace fcloak::gbk
