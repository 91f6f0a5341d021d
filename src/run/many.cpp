#include "run/many.h"

#include <cstring>

#include "cipher/format.h"
#include "cipher/key.h"
#include "console/console.h"
#include "console/terminal.h"
#include "console/texts.h"
#include "files/fs.h"
#include "files/units.h"
#include "files/walk.h"
#include "run/in_place.h"
#include "run/password.h"

namespace fcloak::run {

namespace {

using console::write_record;

constexpr Text kCarriageReturn("\r");
// No argument holds the password of a run over many files.
constexpr int kNoArgument = -1;
// The line before a file: the number, the count and a name of up to the
// walk's longest path.
constexpr int kFileLineSize = files::kWalkPathCapacity + 32;

char file_line[kFileLineSize];

console::Action action_of(files::Mode mode) {
  if (mode == files::Mode::kDecrypt) return console::Action::kDecrypted;
  if (mode == files::Mode::kTest) return console::Action::kTested;
  if (mode == files::Mode::kChangePassword) return console::Action::kChanged;
  return console::Action::kEncrypted;
}

// -t's key: fixed storage, kept secret.
char test_key[cipher::kKeySize];

// -t: the file's check block against the password, the file only read.
JobResult test_file(Text name, const console::Password& password) {
  int length = 0;
  Status status = look_up(name, length);
  if (status != Status::kOk) return end_job(status, 0);
  const fs::Status opened = files::open_user_file_for_reading(name.bytes, name.length);
  if (opened.code == fs::Code::kInUse) return end_job(Status::kInUse, 0);
  if (!opened.ok()) return end_job(Status::kReadProtected, 0);
  unsigned char header[cipher::kMarkerSize];
  std::memset(header, ' ', sizeof header);
  const fs::Status read = files::read_bytes(files::kUserUnit, header, cipher::kMarkerSize);
  if (!read.ok() && read.code != fs::Code::kEndOfFile) return end_job(Status::kReadFailed, 0);
  signed char mode = 0;
  status = classify(header, mode);
  if (status == Status::kOk && mode == 1) status = Status::kSkipPlain;
  if (status == Status::kOk && length < cipher::kHeaderSize) status = Status::kTruncatedEncrypted;
  unsigned char check[cipher::kCheckBlockSize];
  if (status == Status::kOk) status = read_status(files::read_bytes(files::kUserUnit, check, sizeof check));
  if (status == Status::kOk) status = set_up_key(password, -1, test_key, check);
  if (status == Status::kOk) write_record({kCarriageReturn, texts::kPasswordRight}, false);
  return end_job(status, 0);
}

// One item of the walk: the job for a file, or why it is none.
JobResult process(const files::Item& item, files::Mode mode, const JobRequest& run_request) {
  switch (item.found) {
    case files::Found::kFile:
      break;
    case files::Found::kDirectory:
      return JobResult{Status::kIsDirectory, false, false, 0};
    case files::Found::kNotFound:
      return JobResult{Status::kNotFound, false, false, 0};
    case files::Found::kNameTooLong:
      return JobResult{Status::kNameTooLong, false, false, 0};
    case files::Found::kNameNotGbk:
      return JobResult{Status::kNameNotGbk, false, false, 0};
    case files::Found::kUnreadable:
      return JobResult{Status::kDirectoryUnreadable, false, false, 0};
  }
  // The look-up, the open and the time restore all take these same bytes.
  if (!fs::name_fits(item.name.bytes, item.name.length)) return JobResult{Status::kNameTooLong, false, false, 0};
  if (mode == files::Mode::kTest) return test_file(item.name, *run_request.password);
  if (mode == files::Mode::kChangePassword) return change_password(item.name, run_request);
  JobRequest request = run_request;
  request.wanted = mode == files::Mode::kDecrypt ? Wanted::kDecrypt : Wanted::kEncrypt;
  return rewrite_in_place(item.name, request);
}

// What ends the whole run, not just the file: a rewrite that did not end
// (the one line to act on must not be buried), an interrupt, the console.
bool stops_the_run(const JobResult& job) {
  if (job.status == Status::kOk) return terminal::interrupted();
  return job.rewrite_started || job.status == Status::kInterrupted || reported_on_standard_error(job.status) ||
         terminal::interrupted();
}

// The files of the walk that come after the stop.
int count_remaining(const files::Item& last) {
  if (last.total > 0) return last.total - last.number;
  int remaining = 0;
  files::Item item{files::Found::kFile, Text("", 0), 0, 0};
  while (files::next_item(item)) {
    if (item.found == files::Found::kFile) ++remaining;
  }
  return remaining;
}

// The run's password: taken once, kept secret.
console::Password password;

}  // namespace

ManyResult run_many(files::Mode mode, int first_operand, bool recursive, Text password_file) {
  ManyResult result{action_of(mode), {0, 0, 0}, Status::kOk, false, -1, false, 0};
  // One password for all, asked before the first file (a new one twice, when
  // typed); -x's new one at the first file whose current password fits.
  const JobRequest request{Wanted::kAsk, kNoArgument, password_file, &password};
  result.stop = get_password(request, mode == files::Mode::kEncrypt ? Purpose::kEncrypt : Purpose::kOpen, password);
  if (result.stop != Status::kOk) {
    result.before_first = true;
    return result;
  }

  // The files' lines start on a line of their own.
  if (console::output_state().line_open) console::write_empty_record();
  files::start_walk(first_operand, recursive);
  files::Item item{files::Found::kFile, Text("", 0), 0, 0};
  while (files::next_item(item)) {
    // The name goes out in a form that can be read and copied, which on
    // some consoles is not the program's GBK.
    const int line = console::file_line(item.number, item.total, Text("", 0), file_line, kFileLineSize);
    if (line > 0) {
      write_record({kCarriageReturn, Text(file_line, line)}, true);
      console::write_name(item.name);
    }
    const JobResult job = process(item, mode, request);
    if (job.status != Status::kOk) {
      const Text kept = job.scratch_kept ? files::scratch_path() : Text("", 0);
      console::write_message(padded_to(message_for(job.status), job.width), kept,
                             job.scratch_kept && files::scratch_path_as_is());
    }
    if (job.status == Status::kOk) {
      ++result.tally.done;
    } else if (skipped(job.status)) {
      ++result.tally.skipped;
    } else {
      ++result.tally.failed;
    }
    if (stops_the_run(job)) {
      result.stop = job.status == Status::kOk ? Status::kInterrupted : job.status;
      result.stopped_in_rewrite = job.rewrite_started && job.status != Status::kOk;
      result.remaining = count_remaining(item);
      break;
    }
  }
  return result;
}

}  // namespace fcloak::run
