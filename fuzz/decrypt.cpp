// The decrypting direction on any bytes under any password, in memory: the
// header is classified, the stored check block verified, and a body whose
// password is right is decrypted with the tables, then encrypted again.
//
// Input: one byte whose value mod 17 is the password's length, the password
// (blank-padded to 16 bytes, as the program takes it), then the file.
//
// Checked besides the sanitizers' findings:
// - the kind of file follows from its first three bytes alone;
// - verifying a stored check block leaves it as it was and finds a skip
//   count of 0..511, or none;
// - the check block that encryption creates for that skip count is the
//   stored one, and leaves the generator where verification left it;
// - every transform path the processor runs gives the same bytes;
// - encrypting the decrypted body again gives the body back, byte for byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cipher/format.h"
#include "cipher/generator.h"
#include "cipher/key.h"
#include "cipher/tables.h"

namespace {

using namespace fcloak::cipher;

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_decrypt: %s\n", what);
  std::abort();
}

// Tables of the last key and skip count: building them takes the most time,
// and most inputs differ from the one before only in the body.
struct Tables {
  bool valid = false;
  char key[kKeySize];
  int skip;
  signed char shift[2][kTableSize];
  unsigned char add[2][kTableSize];
};
Tables cached;

// Puts the tables for the mode (index 0 decrypts, 1 encrypts) in place,
// continuing the generator from where the key setup left it.
void set_tables(const char key[kKeySize], int skip, int index) {
  if (cached.valid && cached.skip == skip && std::memcmp(cached.key, key, kKeySize) == 0) {
    std::memcpy(shift_table, cached.shift[index], kTableSize);
    std::memcpy(add_table, cached.add[index], kTableSize);
    return;
  }
  // The decrypting tables come first; the cache holds the key once both
  // are in it.
  cached.valid = false;
  build_tables(key, index == 0 ? -1 : 1);
  std::memcpy(cached.shift[index], shift_table, kTableSize);
  std::memcpy(cached.add[index], add_table, kTableSize);
  if (index == 1) {
    std::memcpy(cached.key, key, kKeySize);
    cached.skip = skip;
    cached.valid = true;
  }
}

// Transforms the block as the passes do, after checking that every path the
// processor runs gives the same bytes.
void transform_on_every_path(unsigned char* block, int n, signed char mode) {
  static unsigned char portable[kTableSize];
  static unsigned char other[kTableSize];
  std::memcpy(portable, block, static_cast<std::size_t>(n));
  transform_block_on(0, portable, n, mode);
  for (int path = 1; path < transform_path_count(); ++path) {
    if (!transform_path_runs(path)) continue;
    std::memcpy(other, block, static_cast<std::size_t>(n));
    transform_block_on(path, other, n, mode);
    require(std::memcmp(other, portable, static_cast<std::size_t>(n)) == 0, "transform paths disagree");
  }
  transform_block(block, n, mode);
  require(std::memcmp(block, portable, static_cast<std::size_t>(n)) == 0, "the chosen path disagrees");
}

FileKind expected_kind(const unsigned char header[kMarkerSize]) {
  auto is = [&](const unsigned char (&marker)[kMarkerSize]) {
    return header[0] == marker[0] && header[1] == marker[1] && header[2] == marker[2];
  };
  if (is(kCurrentMarker)) return FileKind::kEncrypted;
  if (is(kOld16BitMarker)) return FileKind::kOld16Bit;
  if (is(kPreV30Marker)) return FileKind::kPreV30;
  return FileKind::kPlain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t password_length = data[0] % 17;
  if (size < 1 + password_length) return 0;
  char key[kKeySize];
  std::memset(key, ' ', sizeof key);
  std::memcpy(key, data + 1, password_length);
  const std::uint8_t* file = data + 1 + password_length;
  const std::size_t file_size = size - 1 - password_length;

  // A file shorter than its marker keeps blanks where it has no bytes.
  unsigned char header[kMarkerSize] = {' ', ' ', ' '};
  std::memcpy(header, file, file_size < kMarkerSize ? file_size : kMarkerSize);
  const FileKind kind = classify_header(header);
  require(kind == expected_kind(header), "classification does not follow the first three bytes");
  // Only an encrypted file with its whole header gets to the password.
  if (kind != FileKind::kEncrypted || file_size < static_cast<std::size_t>(kHeaderSize)) return 0;

  unsigned char stored[kCheckBlockSize];
  std::memcpy(stored, file + kMarkerSize, kCheckBlockSize);
  unsigned char check[kCheckBlockSize];
  std::memcpy(check, stored, kCheckBlockSize);
  const int skip = prepare_keystream(key, check, 0, true);
  require(std::memcmp(check, stored, kCheckBlockSize) == 0, "verification changed the stored check block");
  require(skip >= -1 && skip < 512, "skip count out of range");
  if (skip < 0) return 0;
  const std::int32_t after_setup = generator_state();

  // The body, decrypted block by block as the passes do.
  const std::uint8_t* body = file + kHeaderSize;
  const std::size_t body_size = file_size - kHeaderSize;
  std::vector<unsigned char> plain(body, body + body_size);
  set_tables(key, skip, 0);
  for (std::size_t at = 0; at < body_size; at += kTableSize) {
    const int n = static_cast<int>(body_size - at < kTableSize ? body_size - at : kTableSize);
    transform_on_every_path(plain.data() + at, n, -1);
  }

  // Encryption with the skip count that verification found: the same check
  // block, the same generator state, and the body back from the plaintext.
  unsigned char created[kCheckBlockSize];
  std::memset(created, ' ', sizeof created);
  const int created_skip = prepare_keystream(key, created, skip, false);
  require(created_skip == skip, "creating the check block gives another skip count");
  require(std::memcmp(created, stored, kCheckBlockSize) == 0, "the created check block is not the stored one");
  require(generator_state() == after_setup, "the key setups leave the generator in different states");
  set_tables(key, skip, 1);
  for (std::size_t at = 0; at < body_size; at += kTableSize) {
    const int n = static_cast<int>(body_size - at < kTableSize ? body_size - at : kTableSize);
    transform_on_every_path(plain.data() + at, n, 1);
  }
  require(std::equal(plain.begin(), plain.end(), body), "encrypting the decrypted body does not give it back");
  return 0;
}
