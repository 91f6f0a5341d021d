#include "run/password.h"

#include <cstring>

#include "cipher/secret.h"
#include "console/console.h"
#include "console/texts.h"
#include "files/args.h"
#include "progress/clock.h"

namespace fcloak::run {

namespace {

using cipher::kKeySize;

console::Password password;

bool key_blank(const char key[kKeySize]) {
  for (int i = 0; i < kKeySize; ++i) {
    if (key[i] != ' ') return false;
  }
  return true;
}

}  // namespace

Status get_password(console::Password& taken, Text prompt) {
  secret::keep(&taken, sizeof taken);
  // Argument 2 gives the password, cut to 16 bytes or blank-padded; a blank
  // or absent one means asking for it. A given password is never asked for
  // again.
  bool unicode = false;
  const Text argument = files::argument_as_given(2, unicode);
  const int length = argument.length > 0 ? argument.length : 0;
  if (unicode) {
    console::take_password_gbk(argument.bytes, length, taken);
  } else {
    console::take_password_bytes(argument.bytes, length, taken);
  }
  const bool in_gbk = files::argument_in_gbk(2);
  files::wipe_argument(2);
  if (!in_gbk) return Status::kPasswordNotGbk;
  if (key_blank(taken.key)) console::read_password(prompt, taken);
  if (key_blank(taken.key)) return Status::kNoPassword;
  return Status::kOk;
}

Status set_up_key(const console::Password& taken, signed char mode, char key[kKeySize], unsigned char check[kKeySize]) {
  secret::keep(key, kKeySize);
  // The clock is only read when a check block is to be created.
  // A file being decrypted has its stored block verified, even when it is
  // all blanks.
  const bool verify_only = mode == -1;
  const bool creating = !verify_only && cipher::check_block_blank(check);
  if (creating && taken.form == console::PasswordForm::kNotGbk) return Status::kPasswordNotGbk;
  int clock_value = 0;
  if (creating) {
    const clock::Time now = clock::read_clock();
    clock_value = now.second * 100 + now.hundredths;
  }
  // The key, then what earlier versions took: the bytes as given, and in a
  // UTF-8 locale a password partly without a GBK form in part converted.
  const char* const candidates[] = {taken.key, taken.given, taken.partial};
  for (int i = 0; i < 3; ++i) {
    const char* candidate = candidates[i];
    if (i > 0 && (!verify_only || std::memcmp(candidate, candidates[i - 1], kKeySize) == 0 || key_blank(candidate))) {
      continue;
    }
    std::memcpy(key, candidate, kKeySize);
    if (cipher::prepare_keystream(key, check, clock_value, verify_only) >= 0) return Status::kOk;
  }
  secret::wipe(key, kKeySize);
  return Status::kWrongPassword;
}

Status take_password(signed char mode, char key[kKeySize], unsigned char check[kKeySize]) {
  Status status = get_password(password, texts::kAskPassword);
  if (status == Status::kOk) status = set_up_key(password, mode, key, check);
  console::wipe_password(password);
  return status;
}

}  // namespace fcloak::run
