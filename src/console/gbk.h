// GBK text cut into whole characters: a byte of 0x81..0xFE opens a
// double-byte character and takes the next byte with it.
#pragma once

namespace fcloak::gbk {

constexpr bool is_lead_byte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// How many of the n bytes form whole characters, scanned from the first:
// all of them, or all but a last lead byte whose second byte has not come.
int whole_characters(const char* bytes, int n);

}  // namespace fcloak::gbk
