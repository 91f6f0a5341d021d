#include "run/run.h"

#include <cstdint>
#include <cstring>

#include "cipher/format.h"
#include "cipher/key.h"
#include "console/console.h"
#include "console/terminal.h"
#include "console/texts.h"
#include "files/args.h"
#include "files/fs.h"
#include "files/options.h"
#include "files/units.h"
#include "progress/progress.h"
#include "run/desktop.h"
#include "run/guard.h"
#include "run/pass.h"
#include "run/password.h"
#include "run/status.h"
#include "run/stdout_mode.h"

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
// The direction of the run: +1 encrypt, -1 decrypt, 0 before the file has
// been classified.
signed char mode = 0;
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
    // A request to stop while the key was awaited is no answer; its message
    // takes the question's whole line.
    if (terminal::interrupted()) {
      end_run(Status::kInterrupted, (mode == 1 ? texts::kAskEncrypt : texts::kAskDecrypt).length);
    }
    if (answer == 'Y') answer = 'y';
    if (answer == 'N' || answer != 'y') answer = 'n';
  }
  write_record({Text(&answer, 1)}, false);
  if (answer == 'n') message_and_exit(kBlank, kExitDone);
}

// Ends the run on a failed step. Once a pass has shown its progress line,
// the message takes the whole of that line, as the completion line does.
[[noreturn]] void stop_on(Status status) { end_run(status, pass != 0 ? progress::kLineLength : 0); }

// A step that did not end well ends the run.
void go_on(Status status) {
  if (status != Status::kOk) stop_on(status);
}

void check(int status) {
  if (status != 0) stop_on(Status::kNoSpace);
}

}  // namespace

void run() {
  // The options, before anything is written.
  const files::Options options = files::parse_options();
  if (options.request == files::Request::kHelp || options.request == files::Request::kVersion) {
    console::write_lines(options.request == files::Request::kHelp ? texts::kHelp : texts::kVersion);
    terminal::exit_process(kExitDone);
  }
  // The desktop menus: a report of their own, no banner, no file.
  if (options.request == files::Request::kRun &&
      (options.mode == files::Mode::kInstallMenu || options.mode == files::Mode::kUninstallMenu)) {
    terminal::exit_process(desktop_menus(options.mode == files::Mode::kInstallMenu));
  }
  // With -c standard output carries the data, and every text goes to
  // standard error.
  const bool data_to_terminal = terminal::stdout_is_console();
  if (options.to_stdout) terminal::text_to_standard_error();
  files::skip_options(options.first_operand);

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
  // An option that does not exist, and a sign after -c FILE PASSWORD (the
  // option is the answer), are usage errors.
  char sign = ' ';
  const bool misused = options.request == files::Request::kBadOption ||
                       (options.to_stdout && files::get_argument(3, &sign, 1) >= 0);
  if (file_name_length < 1 || misused) show_usage(last_backslash);

  // The look-up, the open and the time restore all take these same bytes,
  // so they act on one file; a name that does not fit whole is refused.
  if (file_name_length > kNameFieldSize || !fs::name_fits(file_name, file_name_length)) {
    message_and_exit(texts::kNameTooLong, kExitRefused);
  }
  const Text name(file_name, file_name_length);
  if (options.to_stdout) run_to_stdout(name, data_to_terminal);
  length = look_up_or_end(name, file_info);

  const int user_status = files::open_user_file(name.bytes, name.length);
  const int scratch_status = files::open_scratch_file();
  if (user_status == fs::kInUse) message_and_exit(texts::kInUse, kExitRefused);
  if (user_status != 0) message_and_exit(texts::kWriteProtected, kExitRefused);
  if (scratch_status == files::kScratchPathTooLong) message_and_exit(texts::kNameTooLong, kExitRefused);
  if (scratch_status != 0) message_and_exit(texts::kNoSpace, kExitRefused);
  go_on(note_opened_file());

  classify();
  confirm();
  go_on(take_password(mode, key, check_block));

  files::rewind_unit(files::kUserUnit);
  files::rewind_unit(files::kScratchUnit);
  if (mode == 1) {
    check(files::write_bytes(files::kScratchUnit, marker, cipher::kMarkerSize));
    check(files::write_bytes(files::kScratchUnit, check_block, cipher::kCheckBlockSize));
  }
  pass = 1;
  go_on(run_pass(length, key, pass, mode));
  length += mode == 1 ? cipher::kHeaderSize : -cipher::kHeaderSize;

  // The next pass writes over the user file: before that, the scratch file
  // must hold every byte, on the device.
  check(files::sync_unit(files::kScratchUnit));
  if (terminal::interrupted()) stop_on(Status::kInterrupted);
  // What pass 1 read must still be what the name gives: nobody has changed
  // the file or put another in its place since the open.
  go_on(check_before_rewrite(name));
  // Pass 2 writes the user file from where this rewind leaves it, and reads
  // the body from where the header skip leaves it: of the scratch file when
  // encrypting, of the user file itself (unit 4) when decrypting. Neither may
  // have failed.
  check(files::rewind_unit(files::kUserUnit));
  check(files::rewind_unit(files::kScratchUnit));
  if (mode == -1) {
    check(files::open_read_back());
    int status = files::read_bytes(files::kReadBackUnit, marker, cipher::kMarkerSize);
    if (status == 0) status = files::read_bytes(files::kReadBackUnit, check_block, cipher::kCheckBlockSize);
    if (status != 0) stop_on(status > 0 ? Status::kReadFailed : Status::kFileChanged);
  }
  pass = 2;
  // Pass 2 also watches that nobody cuts the file short or writes past its
  // end meanwhile.
  go_on(run_pass(length, key, pass, mode, check_while_rewriting));

  // The scratch file goes only once the user file, its end set after the
  // last byte written, is safely on the device, whole, and still the file
  // that the name gives.
  check(files::sync_unit(files::kUserUnit));
  go_on(check_after_rewrite(name, length));
  const bool time_restored = restore_write_time();
  files::close_unit(files::kUserUnit);
  files::close_unit(files::kScratchUnit);

  write_completion(mode);
  // The data is right all the same: a warning, and the run is done.
  if (!time_restored) write_record({kCarriageReturn, texts::kTimeNotRestored}, false);
  message_and_exit(kBlank, kExitDone);
}

}  // namespace fcloak::run
