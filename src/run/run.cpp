#include "run/run.h"

#include <cstdint>
#include <cstring>

#include "cipher/format.h"
#include "cipher/key.h"
#include "cipher/pass.h"
#include "console/console.h"
#include "console/terminal.h"
#include "console/texts.h"
#include "files/args.h"
#include "files/fs.h"
#include "files/units.h"
#include "run/state.h"

namespace fcloak::run {

namespace {

using console::kExitDone;
using console::kExitRefused;
using console::message_and_exit;
using console::write_record;

constexpr int kFieldSize = 500;
// The file name's field also holds the GBK form of a Windows name of 259
// UTF-16 units, each of which takes up to two bytes.
constexpr int kNameFieldSize = 2 * 259;
// The largest plain file whose encrypted form (19 bytes more) still has a
// length that fits in 31 bits.
constexpr std::int64_t kLargestPlainFile = INT32_MAX - cipher::kHeaderSize;

char file_name[kNameFieldSize];
int file_name_length = 0;
char program_path[kFieldSize];
int program_path_length = 0;
fs::FileInfo file_info;
int length = 0;
unsigned char header[cipher::kMarkerSize];
unsigned char marker[cipher::kMarkerSize];
char key[cipher::kKeySize];
unsigned char check_block[cipher::kCheckBlockSize];
unsigned char pass = 0;
char usage[kFieldSize + 64];

constexpr Text kCarriageReturn("\r");
constexpr Text kBlank(" ");

[[noreturn]] void show_usage(int last_backslash) {
  int end = program_path_length < kFieldSize ? program_path_length : kFieldSize;
  int n = 0;
  for (Text part : {texts::kUsageLead, Text(program_path + last_backslash, end > last_backslash ? end - last_backslash : 0),
                    texts::kUsageTail}) {
    std::memcpy(usage + n, part.bytes, static_cast<std::size_t>(part.length));
    n += part.length;
  }
  message_and_exit(Text(usage, n), console::kExitUsage);
}

// Classifies the file by its first bytes and asks the matching question.
void classify() {
  files::read_bytes(files::kUserUnit, header, cipher::kMarkerSize);
  switch (cipher::classify_header(header)) {
    case cipher::FileKind::kEncrypted:
      mode = -1;
      // Without a whole check block there is nothing to verify a password
      // against, and no body length to decrypt.
      if (length < cipher::kHeaderSize) message_and_exit(texts::kTruncatedEncrypted, kExitRefused);
      write_record({kCarriageReturn, texts::kAskDecrypt}, true);
      files::read_bytes(files::kUserUnit, check_block, cipher::kCheckBlockSize);
      return;
    case cipher::FileKind::kOld16Bit:
      message_and_exit(texts::kOld16Bit, kExitRefused);
    case cipher::FileKind::kPreV30:
      message_and_exit(texts::kPreV30, kExitRefused);
    case cipher::FileKind::kPlain:
      files::rewind_unit(files::kUserUnit);
      mode = 1;
      if (length > kLargestPlainFile) message_and_exit(texts::kTooLarge, kExitRefused);
      write_record({kCarriageReturn, texts::kAskEncrypt}, true);
      return;
  }
}

// The answer from the direction sign, or else from one key.
void confirm() {
  char sign = ' ';
  files::get_argument(3, &sign, 1);
  char answer;
  if (sign == '+') {
    answer = mode == 1 ? 'y' : 'n';
  } else if (sign == '-') {
    answer = mode == 1 ? 'n' : 'y';
  } else {
    answer = static_cast<char>(console::read_key());
    if (answer == 'Y') answer = 'y';
    if (answer == 'N' || answer != 'y') answer = 'n';
  }
  write_record({Text(&answer, 1)}, false);
  if (answer == 'n') message_and_exit(kBlank, kExitDone);
}

void check(int status) {
  if (status != 0) message_and_exit(texts::kNoSpace, kExitRefused);
}

}  // namespace

void run() {
  std::memset(key, ' ', sizeof key);
  std::memset(check_block, ' ', sizeof check_block);
  std::memset(header, ' ', sizeof header);
  std::memset(file_name, ' ', sizeof file_name);
  std::memset(program_path, ' ', sizeof program_path);
  std::memcpy(marker, cipher::kCurrentMarker, sizeof marker);

  console::write_empty_record();
  write_record({kCarriageReturn, texts::kTitle}, false);
  write_record({kCarriageReturn, texts::kContact}, false);
  console::write_empty_record();

  file_name_length = files::get_argument(1, file_name, kNameFieldSize);
  program_path_length = files::get_argument(0, program_path, kFieldSize);
  // A key-press pause at the end where the platform calls for one (for a
  // program started through a path to it, or one whose console closes with it).
  const int last_backslash = files::find_last_char(program_path, kFieldSize, '\\');
  if (!terminal::pause_at_end(last_backslash != 0)) console::end_pause = 0;
  if (file_name_length < 1) show_usage(last_backslash);

  // The look-up, the open and the time restore all take these same bytes,
  // so they act on one file; a name that does not fit whole is refused.
  if (file_name_length > kNameFieldSize || !fs::name_fits(file_name, file_name_length)) {
    message_and_exit(texts::kNameTooLong, kExitRefused);
  }
  const Text name(file_name, file_name_length);
  if (fs::look_up(name.bytes, name.length, file_info) == 0) {
    write_record({kCarriageReturn, name}, false);
    message_and_exit(texts::kNotFound, kExitRefused);
  }
  if (file_info.size > INT32_MAX) message_and_exit(texts::kTooLarge, kExitRefused);
  length = static_cast<int>(file_info.size);

  const int user_status = files::open_user_file(name.bytes, name.length);
  const int scratch_status = files::open_scratch_file();
  if (user_status != 0) message_and_exit(texts::kWriteProtected, kExitRefused);
  if (scratch_status == files::kScratchPathTooLong) message_and_exit(texts::kNameTooLong, kExitRefused);
  if (scratch_status != 0) message_and_exit(texts::kNoSpace, kExitRefused);

  classify();
  confirm();
  cipher::set_up_key(key, check_block);

  files::rewind_unit(files::kUserUnit);
  files::rewind_unit(files::kScratchUnit);
  if (mode == 1) {
    check(files::write_bytes(files::kScratchUnit, marker, cipher::kMarkerSize));
    check(files::write_bytes(files::kScratchUnit, check_block, cipher::kCheckBlockSize));
  }
  pass = 1;
  cipher::run_pass(length, key, pass);
  length += mode == 1 ? cipher::kHeaderSize : -cipher::kHeaderSize;

  // The first write of the next pass cuts the user file: before that, the
  // scratch file must hold every byte, on the device.
  check(files::sync_unit(files::kScratchUnit));
  if (terminal::interrupted()) message_and_exit(texts::kInterrupted, kExitRefused);
  // Pass 2 writes the user file from where this rewind leaves it, and reads
  // the scratch file's body from where the header skip leaves it: neither
  // may have failed.
  check(files::rewind_unit(files::kUserUnit));
  check(files::rewind_unit(files::kScratchUnit));
  if (mode == -1) {
    int status = files::read_bytes(files::kScratchUnit, marker, cipher::kMarkerSize);
    if (status == 0) status = files::read_bytes(files::kScratchUnit, check_block, cipher::kCheckBlockSize);
    if (status != 0) message_and_exit(status > 0 ? texts::kReadFailed : texts::kFileChanged, kExitRefused);
  }
  pass = 2;
  cipher::run_pass(length, key, pass);

  // The scratch file goes only once the user file is safely on the device.
  check(files::sync_unit(files::kUserUnit));
  files::close_unit(files::kUserUnit);
  files::close_unit(files::kScratchUnit);
  fs::set_times(name.bytes, name.length, file_info.write_time);

  write_record({kCarriageReturn, texts::kDone}, true);
  write_record({mode == 1 ? texts::kDoneEncrypt : texts::kDoneDecrypt}, true);
  write_record({Text("                       ")}, false);
  message_and_exit(kBlank, kExitDone);
}

}  // namespace fcloak::run
