#include "run/password.h"

#include <cstring>

#include "cipher/secret.h"
#include "cipher/tables.h"
#include "console/console.h"
#include "console/terminal.h"
#include "console/texts.h"
#include "files/args.h"
#include "files/fs.h"
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

namespace {

// The password file is read once, whole up to this size (a pipe such as
// /dev/fd/3 gives its bytes only once), and its first two lines taken at
// once; the bytes are wiped then, each line once it has been handed out. A
// password taken for the second prompt, and -x's new one. Kept secret.
constexpr int kPasswordFileSize = 4096;
struct Storage {
  char file[kPasswordFileSize];
  console::Password lines[2];
  bool has_line[2];
  console::Password again;
  console::Password change_new;
};
Storage storage;
bool file_read = false;
Status file_status = Status::kOk;
// -x's new password has been taken (into storage.change_new).
bool new_taken = false;

Status from_file(Text file, Purpose purpose, console::Password& taken) {
  if (!file_read) {
    file_read = true;
    int got = 0;
    const fs::Status read = fs::read_head(file.bytes, file.length, storage.file, kPasswordFileSize, got);
    if (!read.ok()) file_status = Status::kPasswordFileUnreadable;
    for (int i = 0; i < 2; ++i) {
      storage.has_line[i] = read.ok() && console::take_password_line(storage.file, got, i, storage.lines[i]);
    }
    secret::wipe(storage.file, sizeof storage.file);
  }
  if (file_status != Status::kOk) return file_status;
  const int line = purpose == Purpose::kNew ? 1 : 0;
  if (storage.has_line[line]) std::memcpy(&taken, &storage.lines[line], sizeof taken);
  const bool blank = !storage.has_line[line] || key_blank(taken.key);
  console::wipe_password(storage.lines[line]);
  // Only a password change takes the second line.
  if (purpose == Purpose::kEncrypt) console::wipe_password(storage.lines[1]);
  return blank ? Status::kNoPassword : Status::kOk;
}

}  // namespace

Status get_password(const JobRequest& request, Purpose purpose, console::Password& taken) {
  secret::keep(&taken, sizeof taken);
  secret::keep(&storage, sizeof storage);
  std::memset(&taken, ' ', sizeof taken);
  taken.form = console::PasswordForm::kAsGiven;
  if (request.password_file.length >= 0) return from_file(request.password_file, purpose, taken);

  // The argument gives the password, cut to 16 bytes or blank-padded; a
  // blank or absent one means asking for it. A given password is never
  // asked for again.
  const int argument = purpose == Purpose::kNew ? 0 : request.password_argument;
  if (argument > 0) {
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
  }
  if (!key_blank(taken.key)) return Status::kOk;

  const Text prompt = purpose == Purpose::kNew ? texts::kAskNewPassword : texts::kAskPassword;
  Status read = line_status(console::read_password(prompt, taken));
  if (read != Status::kOk) return read;
  if (key_blank(taken.key)) return Status::kNoPassword;
  // A slip of the finger in a new password typed unseen would lock the
  // file away: it is typed twice. A line from a pipe or a file is taken as
  // it comes, as scripts expect.
  if (purpose == Purpose::kOpen || !terminal::stdin_is_console()) return Status::kOk;
  const Text again = purpose == Purpose::kNew ? texts::kAskNewPasswordAgain : texts::kAskPasswordAgain;
  read = line_status(console::read_password(again, storage.again));
  const bool same = read == Status::kOk && std::memcmp(storage.again.given, taken.given, kKeySize) == 0 &&
                    std::memcmp(storage.again.key, taken.key, kKeySize) == 0;
  console::wipe_password(storage.again);
  if (read != Status::kOk) return read;
  return same ? Status::kOk : Status::kPasswordsDiffer;
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

Status take_password(signed char mode, const JobRequest& request, char key[kKeySize], unsigned char check[kKeySize]) {
  if (request.password != nullptr) return set_up_key(*request.password, mode, key, check);
  // A new password for a check block still to be created.
  const bool creating = mode != -1 && cipher::check_block_blank(check);
  Status status = get_password(request, creating ? Purpose::kEncrypt : Purpose::kOpen, password);
  if (status == Status::kOk) status = set_up_key(password, mode, key, check);
  console::wipe_password(password);
  return status;
}

Status take_passwords_for_change(const JobRequest& request, char old_key[kKeySize], unsigned char old_check[kKeySize],
                                 char new_key[kKeySize], unsigned char new_check[kKeySize]) {
  // The current password is checked before the new one is asked for; the
  // new one, once taken, serves every file of the run.
  Status status = take_password(-1, request, old_key, old_check);
  if (status != Status::kOk) return status;
  cipher::select_tables(1);
  cipher::prepare_tables(old_key, -1);
  cipher::select_tables(0);
  if (!new_taken) {
    status = get_password(request, Purpose::kNew, storage.change_new);
    if (status != Status::kOk) return status;
    new_taken = true;
  }
  status = set_up_key(storage.change_new, 1, new_key, new_check);
  if (status == Status::kOk) cipher::prepare_tables(new_key, 1);
  return status;
}

}  // namespace fcloak::run
