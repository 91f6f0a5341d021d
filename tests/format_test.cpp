// Telling an encrypted file from a plain one by its first three bytes.
#include <gtest/gtest.h>

#include "cipher/format.h"

namespace fcloak::cipher {
namespace {

TEST(ClassifyHeader, ExactMarkersOnly) {
  struct Case {
    unsigned char header[3];
    FileKind kind;
  } cases[] = {
      {{0x8C, 0x73, 0x0D}, FileKind::kEncrypted},
      {{0xC3, 0xDC, 0x1A}, FileKind::kOld16Bit},
      {{0x8C, 0x73, 0x1A}, FileKind::kPreV30},
      {{0x8C, 0x73, 0x0E}, FileKind::kPlain},
      {{0x8C, 0x73, ' '}, FileKind::kPlain},  // a 2-byte file keeps a blank
      {{' ', ' ', ' '}, FileKind::kPlain},    // an empty file
      {{0x73, 0x0D, 0x8C}, FileKind::kPlain},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(classify_header(c.header), c.kind) << int(c.header[0]) << " " << int(c.header[1]) << " " << int(c.header[2]);
  }
}

}  // namespace
}  // namespace fcloak::cipher
