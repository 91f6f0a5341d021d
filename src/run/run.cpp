#include "run/run.h"

#include <cstring>

#include "console/console.h"
#include "console/terminal.h"
#include "console/texts.h"
#include "files/args.h"
#include "files/fs.h"
#include "files/options.h"
#include "files/units.h"
#include "run/in_place.h"
#include "run/stdout_mode.h"

namespace fcloak::run {

namespace {

using console::write_record;

constexpr int kFieldSize = 500;
// The file name's field also holds the GBK form of a Windows name of 259
// UTF-16 units, each of which takes up to two bytes.
constexpr int kNameFieldSize = 2 * 259;
// Wider than any line a message is written over.
constexpr int kMaxMessage = 64;

constexpr Text kCarriageReturn("\r");

char file_name[kNameFieldSize];
char program_path[kFieldSize];
char usage[kFieldSize + 64];
char padded[kMaxMessage];

// The usage message, with the program's name as argument 0 gives it after
// its last backslash.
Text usage_text(int program_path_length, int last_backslash) {
  const int end = program_path_length < kFieldSize ? program_path_length : kFieldSize;
  int n = 0;
  for (Text part : {texts::kUsageLead, Text(program_path + last_backslash, end > last_backslash ? end - last_backslash : 0),
                    texts::kUsageTail}) {
    std::memcpy(usage + n, part.bytes, static_cast<std::size_t>(part.length));
    n += part.length;
  }
  return Text(usage, n);
}

// The message padded with blanks to `width` bytes.
Text padded_to(Text message, int width) {
  if (width <= message.length || width > kMaxMessage) return message;
  std::memset(padded, ' ', sizeof padded);
  std::memcpy(padded, message.bytes, static_cast<std::size_t>(message.length));
  return Text(padded, width);
}

// The one way out of a job: its status's message, the kept scratch file
// named. Console text that could not be written turns a finished job into
// a failed one, and the ending is then reported on standard error, where it
// may still be read.
[[noreturn]] void end(const JobResult& result) {
  Status status = result.status;
  const bool console_failed = console::output_failed();
  if (console_failed && (status == Status::kOk || status == Status::kDeclined)) status = Status::kOutputFailed;
  const Text kept = result.scratch_kept ? files::scratch_path() : Text("", 0);
  const bool kept_as_is = result.scratch_kept && files::scratch_path_as_is();
  if (console_failed || reported_on_standard_error(status)) {
    console::report_and_exit(message_for(status), kept, kept_as_is);
  }
  // A job done (or declined) ends with a blank message of its own.
  if (status == Status::kOk || status == Status::kDeclined) {
    console::message_and_exit(message_for(status), console::kExitDone);
  }
  console::message_and_exit(padded_to(message_for(status), result.width), console::kExitRefused, kept,
                            kept_as_is);
}

// The texts for scripts, whole lines and nothing else.
[[noreturn]] void write_and_leave(Text lines) {
  console::write_lines(lines);
  if (console::output_failed()) console::report_and_exit(texts::kOutputFailed);
  console::leave(console::kExitDone);
}

}  // namespace

void end_run(Status status, int width) {
  const bool kept = files::scratch_must_be_kept();
  const bool written = files::user_file_written();
  files::close_all_units();
  end(JobResult{status, written, kept, width});
}

void run() {
  std::memset(file_name, ' ', sizeof file_name);
  std::memset(program_path, ' ', sizeof program_path);
  // A key-press pause at the end where the platform calls for one (for a
  // program started through a path to it, or one whose console closes with it).
  const int program_path_length = files::get_argument(0, program_path, kFieldSize);
  const int last_backslash = files::find_last_char(program_path, kFieldSize, '\\');
  if (!terminal::pause_at_end(last_backslash != 0)) console::end_pause = 0;

  // The options, before anything is written.
  const files::Options options = files::parse_options();
  if (options.request == files::Request::kHelp) write_and_leave(texts::kHelp);
  if (options.request == files::Request::kVersion) write_and_leave(texts::kVersion);
  // With -c standard output carries the data, and every text goes to
  // standard error.
  const bool data_to_terminal = terminal::stdout_is_console();
  if (options.to_stdout) terminal::text_to_standard_error();
  files::skip_options(options.first_operand);

  console::write_empty_record();
  write_record({kCarriageReturn, texts::kTitle}, false);
  write_record({kCarriageReturn, texts::kContact}, false);
  console::write_empty_record();
  if (console::output_failed()) end_run(Status::kOutputFailed);

  const int file_name_length = files::get_argument(1, file_name, kNameFieldSize);
  // With a password file there is no password operand: the argument after
  // the file is the sign, if any.
  const bool password_file = options.password_file.length >= 0;
  const int sign_argument = password_file ? 2 : 3;
  char sign = ' ';
  const int sign_length = files::get_argument(sign_argument, &sign, 1);
  const bool signed_ok = sign_length < 0 || (sign_length == 1 && (sign == '+' || sign == '-'));
  // An option that does not exist, a sign after -c FILE PASSWORD (the
  // option is the answer), and a password operand beside a password file
  // are usage errors. -x takes one file here.
  const bool changing = options.mode == files::Mode::kChangePassword;
  char other = ' ';
  const bool unwired = options.mode != files::Mode::kSingle && options.mode != files::Mode::kStdout && !changing;
  const bool misused = options.request == files::Request::kBadOption || options.request == files::Request::kMisused ||
                       unwired || (options.to_stdout && sign_length >= 0) ||
                       (password_file && (files::get_argument(3, &other, 1) >= 0 || !signed_ok)) ||
                       (changing && files::get_argument(2, &other, 1) >= 0);
  if (file_name_length < 1 || misused) {
    console::message_and_exit(usage_text(program_path_length, last_backslash), console::kExitUsage);
  }

  // The look-up, the open and the time restore all take these same bytes,
  // so they act on one file; a name that does not fit whole is refused.
  if (file_name_length > kNameFieldSize || !fs::name_fits(file_name, file_name_length)) {
    end_run(Status::kNameTooLong);
  }
  const Text name(file_name, file_name_length);

  // The sign after the password: the answer to the question.
  JobRequest request{Wanted::kAsk, password_file ? 0 : 2, options.password_file};
  if (!options.to_stdout && !changing && sign_length >= 0) {
    if (sign == '+') request.wanted = Wanted::kEncrypt;
    if (sign == '-') request.wanted = Wanted::kDecrypt;
  }
  if (changing) end(change_password(name, request));
  end(options.to_stdout ? run_to_stdout(name, request, data_to_terminal) : rewrite_in_place(name, request));
}

}  // namespace fcloak::run
