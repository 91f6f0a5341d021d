#include "run/password.h"

#include <cstring>

#include "console/console.h"
#include "console/texts.h"
#include "files/args.h"
#include "progress/clock.h"

namespace fcloak::run {

namespace {

using cipher::kKeySize;

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
  }
  return Status::kOk;
}

}  // namespace

Status read_password(int argument, char key[kKeySize]) {
  // The argument gives the password, cut to 16 bytes or blank-padded; a
  // blank or absent one means asking for it. A given password is never
  // asked for again.
  std::memset(key, ' ', kKeySize);
  files::get_argument(argument, key, kKeySize);
  if (!files::argument_in_gbk(argument)) return Status::kPasswordNotGbk;
  if (key_blank(key)) {
    console::write_record({"\r", texts::kAskPassword}, true);
    // Nobody is asked for what cannot be shown.
    if (console::output_failed()) return Status::kOutputFailed;
    const Status read = line_status(console::read_line(key, kKeySize));
    if (read != Status::kOk) return read;
  }
  if (key_blank(key)) return Status::kNoPassword;
  return Status::kOk;
}

Status prepare_key(signed char mode, const char key[kKeySize], unsigned char check[kKeySize]) {
  // The clock is only read when a check block is to be created: for each
  // file its own.
  // A file being decrypted has its stored block verified, even when it is
  // all blanks.
  const bool verify_only = mode == -1;
  int clock_value = 0;
  if (!verify_only && cipher::check_block_blank(check)) {
    const clock::Time now = clock::read_clock();
    clock_value = now.second * 100 + now.hundredths;
  }
  if (cipher::prepare_keystream(key, check, clock_value, verify_only) < 0) return Status::kWrongPassword;
  return Status::kOk;
}

Status take_password(signed char mode, int argument, char key[kKeySize], unsigned char check[kKeySize]) {
  const Status status = read_password(argument, key);
  return status == Status::kOk ? prepare_key(mode, key, check) : status;
}

}  // namespace fcloak::run
