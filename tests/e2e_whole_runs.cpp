// End-to-end cases: whole encryptions and decryptions at the sizes around
// the header and the block, and one byte for byte.
#include "e2e_cases.h"

namespace e2e {
namespace {

// Encrypted under a password and decrypted again.
Case round_trip(const char* name, std::size_t size) {
  return Case{
      .name = name,
      .setup = one_file("data.bin", pattern(size)),
      .runs = {{.args = {"data.bin", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
               {.args = {"data.bin", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}},
  };
}


}  // namespace

std::vector<Case> whole_run_cases() {
  return {
      // Whole runs.
      round_trip("size_0", 0),
      round_trip("size_1", 1),
      round_trip("size_2", 2),
      round_trip("size_3", 3),
      round_trip("size_5", 5),
      round_trip("size_18", 18),
      round_trip("size_19", 19),
      round_trip("size_20", 20),
      round_trip("size_32749", 32749),
      round_trip("size_32767", 32767),
      round_trip("size_32768", 32768),
      round_trip("size_65536", 65536),
      round_trip("size_3MiB", (3 << 20) + 1234),

      // Every byte of a whole encryption and decryption of 65536 bytes:
      // passes of 65536 bytes report after each block and once more after
      // the empty last read; passes of 65555 bytes after each block.
      {.name = "whole_runs_byte_for_byte",
       .setup = one_file("data.bin", pattern(65536)),
       .runs = {{.args = {"data.bin", "pw", "+"},
                 .out = kBanner + kAskEncrypt + "y\r\n" +                                 //
                        progress_line(kLabelEncrypt, "  0", "99", "##") + "\r" +          //
                        progress_line(kLabelEncrypt, " 50", "##", "##") + "\r" +          //
                        progress_line(kLabelEncrypt, "100", "00", "00") + "\r" +          //
                        progress_line(kLabelEncrypt, "100", "00", "00") + "\r" +          //
                        progress_line(kLabelCopy, "  0", "99", "##") + "\r" +             //
                        progress_line(kLabelCopy, " 49", "##", "##") + "\r" +             //
                        progress_line(kLabelCopy, " 99", "##", "##") + "\r" +             //
                        progress_line(kLabelCopy, "100", "00", "00") + kEncrypted,
                 .effect = Effect::kEncrypted},
                {.args = {"data.bin", "pw", "-"},
                 .out = kBanner + kAskDecrypt + "y\r\n" +                                 //
                        progress_line(kLabelCopy, "  0", "99", "##") + "\r" +             //
                        progress_line(kLabelCopy, " 49", "##", "##") + "\r" +             //
                        progress_line(kLabelCopy, " 99", "##", "##") + "\r" +             //
                        progress_line(kLabelCopy, "100", "00", "00") + "\r" +             //
                        progress_line(kLabelDecrypt, "  0", "99", "##") + "\r" +          //
                        progress_line(kLabelDecrypt, " 50", "##", "##") + "\r" +          //
                        progress_line(kLabelDecrypt, "100", "00", "00") + "\r" +          //
                        progress_line(kLabelDecrypt, "100", "00", "00") + kDecrypted,
                 .effect = Effect::kDecrypted}}},
  };
}

}  // namespace e2e
