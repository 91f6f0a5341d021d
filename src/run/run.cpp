#include "run/run.h"

#include <cstring>

#include "console/console.h"
#include "console/terminal.h"
#include "console/texts.h"
#include "cipher/format.h"
#include "console/summary.h"
#include "files/args.h"
#include "files/dir.h"
#include "files/fs.h"
#include "files/options.h"
#include "files/units.h"
#include "run/desktop.h"
#include "run/in_place.h"
#include "run/many.h"
#include "run/restore.h"
#include "run/stdout_mode.h"

namespace fcloak::run {

namespace {

using console::write_record;

constexpr int kFieldSize = 500;
// The file name's field also holds the GBK form of a Windows name of 259
// UTF-16 units, each of which takes up to two bytes.
constexpr int kNameFieldSize = 2 * 259;

constexpr Text kCarriageReturn("\r");

char file_name[kNameFieldSize];
char second_name[kNameFieldSize];
char program_path[kFieldSize];
char usage[kFieldSize + 64];
// The lines at the end of a run over many files.
char closing[128];

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

// The end of a run over many files: why it stopped and what was left, the
// summary, and the exit status (0 when no file failed).
[[noreturn]] void end_many(const ManyResult& result) {
  if (result.before_first) end(JobResult{result.stop, false, false, result.width});
  const Text kept = result.stopped_in_rewrite ? files::scratch_path() : Text("", 0);
  const bool kept_as_is = result.stopped_in_rewrite && files::scratch_path_as_is();
  if (console::output_failed()) console::report_and_exit(texts::kOutputFailed, kept, kept_as_is);
  if (reported_on_standard_error(result.stop)) console::report_and_exit(message_for(result.stop), kept, kept_as_is);
  if (result.stopped_in_rewrite) write_record({kCarriageReturn, texts::kStoppedAfterFailure}, false);
  int n = 0;
  if (result.stop != Status::kOk) {
    n = console::remaining_line(result.remaining, closing, sizeof closing);
    if (n > 0) write_record({kCarriageReturn, Text(closing, n)}, false);
  }
  n = console::summary_line(result.action, result.tally, closing, sizeof closing);
  const bool failed = result.tally.failed > 0 || result.stop != Status::kOk;
  console::message_and_exit(Text(closing, n > 0 ? n : 0), failed ? console::kExitRefused : console::kExitDone);
}

// Whether argument 2 of a command line of old (the operand after the file
// name) names a file or a directory that exists.
bool second_names_a_file(int first_operand) {
  const Text second = files::command_line_argument(first_operand + 1);
  if (second.length <= 0) return false;
  fs::Identity identity{};
  const fs::Kind kind = fs::inspect(second.bytes, second.length, true, identity);
  return kind == fs::Kind::kFile || kind == fs::Kind::kDirectory;
}

// Several files dropped on the program (a console of its own): the first
// file's kind decides the direction, asked once for all with the count;
// then every file as -e or -d does it.
[[noreturn]] void run_drop(Text first, int first_operand) {
  int length = 0;
  signed char mode = 0;
  Status status = look_up(first, length);
  unsigned char header[cipher::kMarkerSize];
  std::memset(header, ' ', sizeof header);
  if (status == Status::kOk) {
    const fs::Status opened = files::open_user_file_for_reading(first.bytes, first.length);
    if (!opened.ok()) status = opened.code == fs::Code::kInUse ? Status::kInUse : Status::kReadProtected;
  }
  if (status == Status::kOk) {
    const fs::Status read = files::read_bytes(files::kUserUnit, header, cipher::kMarkerSize);
    if (!read.ok() && read.code != fs::Code::kEndOfFile) status = Status::kReadFailed;
  }
  if (status == Status::kOk) status = classify(header, mode);
  if (status != Status::kOk) end_run(status);
  files::close_all_units();

  const int n = console::count_line(files::argument_count() - first_operand, closing, sizeof closing);
  if (n > 0) write_record({kCarriageReturn, Text(closing, n)}, false);
  const Text question = mode == 1 ? texts::kAskEncrypt : texts::kAskDecrypt;
  write_record({kCarriageReturn, question}, true);
  if (console::output_failed()) end_run(Status::kOutputFailed);
  char answer = static_cast<char>(console::read_key());
  if (terminal::interrupted()) end_run(Status::kInterrupted, question.length);
  if (answer == 'Y') answer = 'y';
  if (answer != 'y') answer = 'n';
  write_record({Text(&answer, 1)}, false);
  if (answer == 'n') end_run(Status::kDeclined);
  end_many(run_many(mode == 1 ? files::Mode::kEncrypt : files::Mode::kDecrypt, first_operand, false, Text("", -1)));
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
  // The desktop menus: a report of their own, no banner, no file.
  if (options.request == files::Request::kRun &&
      (options.mode == files::Mode::kInstallMenu || options.mode == files::Mode::kUninstallMenu)) {
    const int status = desktop_menus(options.mode == files::Mode::kInstallMenu);
    if (console::output_failed()) console::report_and_exit(texts::kOutputFailed);
    console::leave(status);
  }
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

  // An operand left out would be a file left as it is without a word.
  if (!files::all_arguments_loaded()) console::message_and_exit(texts::kTooManyArguments, console::kExitUsage);

  const int file_name_length = files::get_argument(1, file_name, kNameFieldSize);
  // With a password file there is no password operand: the argument after
  // the file is the sign, if any.
  const bool password_file = options.password_file.length >= 0;
  const int sign_argument = password_file ? 2 : 3;
  char sign = ' ';
  const int sign_length = files::get_argument(sign_argument, &sign, 1);
  const bool signed_ok = sign_length < 0 || (sign_length == 1 && (sign == '+' || sign == '-'));
  // A mode that this build does not carry out is a usage error too.
  const bool many = options.mode == files::Mode::kEncrypt || options.mode == files::Mode::kDecrypt ||
                    options.mode == files::Mode::kTest || options.mode == files::Mode::kChangePassword;
  const bool unwired = options.mode != files::Mode::kSingle && options.mode != files::Mode::kStdout &&
                       options.mode != files::Mode::kRestore && !many;
  // An option that does not exist, a sign after -c FILE PASSWORD (the
  // option is the answer), and a password operand beside a password file
  // are usage errors.
  char other = ' ';
  const bool misused = options.request == files::Request::kBadOption || options.request == files::Request::kMisused ||
                       unwired || (options.to_stdout && sign_length >= 0) ||
                       (!many && password_file && (files::get_argument(3, &other, 1) >= 0 || !signed_ok));
  if (file_name_length < 1 || misused) {
    console::message_and_exit(usage_text(program_path_length, last_backslash), console::kExitUsage);
  }

  if (many) end_many(run_many(options.mode, options.first_operand, options.recursive, options.password_file));

  // A command line of old whose argument 2 is a file, not a password, and
  // no sign: several files dropped on the program from the desktop, or,
  // anywhere else, a mistake refused before anything is read or written.
  const bool signed_line = files::get_argument(3, &other, 1) >= 0 && (other == '+' || other == '-');
  if (options.mode == files::Mode::kSingle && !password_file && !signed_line && second_names_a_file(options.first_operand)) {
    if (!terminal::console_of_its_own()) console::message_and_exit(texts::kSecondIsFile, console::kExitUsage);
    run_drop(Text(file_name, file_name_length > kNameFieldSize ? kNameFieldSize : file_name_length),
             options.first_operand);
  }

  // The look-up, the open and the time restore all take these same bytes,
  // so they act on one file; a name that does not fit whole is refused.
  if (file_name_length > kNameFieldSize || !fs::name_fits(file_name, file_name_length)) {
    end_run(Status::kNameTooLong);
  }
  const Text name(file_name, file_name_length);

  // --restore SCRATCH FILE, or --restore FILE.
  if (options.mode == files::Mode::kRestore) {
    const int second = files::get_argument(2, second_name, kNameFieldSize);
    if (second > kNameFieldSize) end_run(Status::kNameTooLong);
    end(second < 1 ? restore_kept_copy(Text("", 0), name) : restore_kept_copy(name, Text(second_name, second)));
  }

  // The sign after the password: the answer to the question.
  JobRequest request{Wanted::kAsk, password_file ? 0 : 2, options.password_file};
  if (!options.to_stdout && sign_length >= 0) {
    if (sign == '+') request.wanted = Wanted::kEncrypt;
    if (sign == '-') request.wanted = Wanted::kDecrypt;
  }
  end(options.to_stdout ? run_to_stdout(name, request, data_to_terminal) : rewrite_in_place(name, request));
}

}  // namespace fcloak::run
