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

Status line_status(console::LineRead read) {
  switch (read) {
    case console::LineRead::kRead:
      break;
    case console::LineRead::kEnded:
      return Status::kInputEnded;
    case console::LineRead::kTooLong:
      return Status::kLineTooLong;
    case console::LineRead::kNotGbk:
      return Status::kPasswordNotGbk;
    case console::LineRead::kInterrupted:
      return Status::kInterrupted;
    case console::LineRead::kUnasked:
      return Status::kOutputFailed;
  }
  return Status::kOk;
}

}  // namespace

Status get_password(console::Password& taken, int argument, Text prompt) {
  secret::keep(&taken, sizeof taken);
  // The argument gives the password, cut to 16 bytes or blank-padded; a
  // blank or absent one means asking for it. A given password is never
  // asked for again.
  bool unicode = false;
  const Text given = files::argument_as_given(argument, unicode);
  const int length = given.length > 0 ? given.length : 0;
  if (unicode) {
    console::take_password_gbk(given.bytes, length, taken);
  } else {
    console::take_password_bytes(given.bytes, length, taken);
  }
  const bool in_gbk = files::argument_in_gbk(argument);
  files::wipe_argument(argument);
  if (!in_gbk) return Status::kPasswordNotGbk;
  if (key_blank(taken.key)) {
    const Status read = line_status(console::read_password(prompt, taken));
    if (read != Status::kOk) return read;
  }
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

Status take_password(signed char mode, int argument, char key[kKeySize], unsigned char check[kKeySize]) {
  Status status = get_password(password, argument, texts::kAskPassword);
  if (status == Status::kOk) status = set_up_key(password, mode, key, check);
  console::wipe_password(password);
  return status;
}

}  // namespace fcloak::run
