#include "run/stdout_mode.h"

#include <cstring>

#include "cipher/format.h"
#include "cipher/key.h"
#include "console/terminal.h"
#include "files/fs.h"
#include "files/units.h"
#include "progress/progress.h"
#include "run/in_place.h"
#include "run/pass.h"
#include "run/password.h"

namespace fcloak::run {

namespace {

// What the mode knows of its input; blanks until it is read or made.
struct Input {
  Input() {
    std::memset(header, ' ', sizeof header);
    std::memset(key, ' ', sizeof key);
    std::memset(check_block, ' ', sizeof check_block);
  }
  int length = 0;  // kToTheEnd for standard input, read to its end however long
  unsigned char header[cipher::kMarkerSize];
  char key[cipher::kKeySize];
  unsigned char check_block[cipher::kCheckBlockSize];
  signed char mode = 1;
};

// A failed write is one to standard output here.
Status output_status(fs::Status status) { return status.ok() ? Status::kOk : Status::kStdoutFailed; }

// Opens the input and standard output.
Status open_input(Text name, Input& in) {
  in.length = kToTheEnd;
  if (name.length == 1 && name.bytes[0] == '-') {
    files::open_standard_input();
    // Standard input carries the data: a password is typed at the terminal.
    terminal::lines_from_console();
  } else {
    const Status found = look_up(name, in.length);
    if (found != Status::kOk) return found;
    const fs::Status status = files::open_user_file_for_reading(name.bytes, name.length);
    // A run that rewrites the file holds it until its end.
    if (status.code == fs::Code::kInUse) return Status::kInUse;
    if (!status.ok()) return Status::kReadProtected;
  }
  files::open_standard_output();
  return Status::kOk;
}

// The first bytes decide the direction. A plain input's first bytes are
// its own: they go back to be read with the rest.
Status classify_input(Input& in, bool data_to_terminal) {
  std::memset(in.header, ' ', sizeof in.header);
  int got = 0;
  if (!files::read_some(files::kUserUnit, in.header, cipher::kMarkerSize, got).ok()) return Status::kReadFailed;
  const Status kind = classify(in.header, in.mode);
  if (kind != Status::kOk) return kind;
  if (in.mode == -1) {
    int stored = 0;
    if (!files::read_some(files::kUserUnit, in.check_block, cipher::kCheckBlockSize, stored).ok()) {
      return Status::kReadFailed;
    }
    if (stored < cipher::kCheckBlockSize) return Status::kTruncatedEncrypted;
    if (in.length != kToTheEnd) in.length -= cipher::kHeaderSize;
    return Status::kOk;
  }
  files::unread(files::kUserUnit, in.header, got);
  // As compressors do: encrypted bytes are no use on a screen.
  if (data_to_terminal) return Status::kNotToTerminal;
  std::memset(in.check_block, ' ', sizeof in.check_block);
  return Status::kOk;
}

}  // namespace

namespace {

// The job's storage: fixed, as the key in it is kept secret (locked, and
// wiped at every ending, when no job's frame is left to hold it).
Input input;

}  // namespace

JobResult run_to_stdout(Text name, const JobRequest& request, bool data_to_terminal) {
  Input& in = input;
  in = Input();
  Status status = open_input(name, in);
  if (status == Status::kOk) status = classify_input(in, data_to_terminal);
  if (status == Status::kOk) status = take_password(in.mode, request, in.key, in.check_block);
  if (status == Status::kOk && in.mode == 1) {
    status = output_status(files::write_bytes(files::kOutputUnit, cipher::kCurrentMarker, cipher::kMarkerSize));
    if (status == Status::kOk) {
      status = output_status(files::write_bytes(files::kOutputUnit, in.check_block, cipher::kCheckBlockSize));
    }
  }
  if (status != Status::kOk) return end_job(status, 0);

  // The progress line would be mixed into data shown on the same screen,
  // and an input read to its end has no length to measure it against.
  // Once it is shown, the message of an ending takes the whole of that
  // line, as in the run in place.
  const bool report = !data_to_terminal && in.length != kToTheEnd;
  const int width = report ? progress::kLineLength : 0;
  status = move_blocks(files::kUserUnit, files::kOutputUnit, in.length, in.key, in.mode,
                       in.mode == 1 ? progress::Label::kEncrypt : progress::Label::kDecrypt, report);
  if (status == Status::kNoSpace || status == Status::kInUse) status = Status::kStdoutFailed;
  if (status == Status::kOk) status = output_status(files::flush_unit(files::kOutputUnit));
  if (status != Status::kOk) return end_job(status, width);

  write_completion(in.mode);
  return end_job(Status::kOk, width);
}

}  // namespace fcloak::run
