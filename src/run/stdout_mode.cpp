#include "run/stdout_mode.h"

#include <cstring>

#include "cipher/format.h"
#include "cipher/key.h"
#include "console/console.h"
#include "console/terminal.h"
#include "console/texts.h"
#include "files/fs.h"
#include "files/units.h"
#include "run/pass.h"
#include "run/password.h"
#include "run/status.h"

namespace fcloak::run {

namespace {

fs::FileInfo file_info;
unsigned char header[cipher::kMarkerSize];
char key[cipher::kKeySize];
unsigned char check_block[cipher::kCheckBlockSize];

[[noreturn]] void refuse(Text message) { console::message_and_exit(message, console::kExitRefused); }

// Whether the pass has shown its progress line.
bool progress_shown = false;

// Ends the run on a failed step; a failed write is one to standard output
// here. Once the progress line is shown, the message takes the whole of
// that line, as in the run in place.
[[noreturn]] void stop_on(Status status) {
  end_run(status == Status::kNoSpace ? Status::kStdoutFailed : status, progress_shown ? progress::kLineLength : 0);
}

void go_on(Status status) {
  if (status != Status::kOk) stop_on(status);
}

}  // namespace

void run_to_stdout(Text name, bool data_to_terminal) {
  const bool from_stdin = name.length == 1 && name.bytes[0] == '-';
  // The input's length; standard input is read to its end, however long.
  int length = kToTheEnd;
  if (from_stdin) {
    files::open_standard_input();
    // Standard input carries the data: a password is typed at the terminal.
    terminal::lines_from_console();
  } else {
    length = look_up_or_end(name, file_info);
    const int status = files::open_user_file_for_reading(name.bytes, name.length);
    // A run that rewrites the file holds it until its end.
    if (status == fs::kInUse) refuse(texts::kInUse);
    if (status != 0) refuse(texts::kReadProtected);
  }
  files::open_standard_output();

  // The first bytes decide the direction. A plain input's first bytes are
  // its own: they go back to be read with the rest.
  std::memset(header, ' ', sizeof header);
  int got = 0;
  if (files::read_some(files::kUserUnit, header, cipher::kMarkerSize, got) != 0) refuse(texts::kReadFailed);
  signed char mode = 1;
  switch (cipher::classify_header(header)) {
    case cipher::FileKind::kEncrypted: {
      mode = -1;
      int stored = 0;
      if (files::read_some(files::kUserUnit, check_block, cipher::kCheckBlockSize, stored) != 0) {
        refuse(texts::kReadFailed);
      }
      if (stored < cipher::kCheckBlockSize) refuse(texts::kTruncatedEncrypted);
      if (length != kToTheEnd) length -= cipher::kHeaderSize;
      break;
    }
    case cipher::FileKind::kOld16Bit:
      refuse(texts::kOld16Bit);
    case cipher::FileKind::kPreV30:
      refuse(texts::kPreV30);
    case cipher::FileKind::kPlain:
      files::unread(files::kUserUnit, header, got);
      // As compressors do: encrypted bytes are no use on a screen.
      if (data_to_terminal) refuse(texts::kNotToTerminal);
      std::memset(check_block, ' ', sizeof check_block);
      break;
  }

  go_on(take_password(mode, key, check_block));
  if (mode == 1) {
    if (files::write_bytes(files::kOutputUnit, cipher::kCurrentMarker, cipher::kMarkerSize) != 0 ||
        files::write_bytes(files::kOutputUnit, check_block, cipher::kCheckBlockSize) != 0) {
      stop_on(Status::kStdoutFailed);
    }
  }
  // The progress line would be mixed into data shown on the same screen,
  // and an input read to its end has no length to measure it against.
  const bool report = !data_to_terminal && length != kToTheEnd;
  progress_shown = report;
  go_on(move_blocks(files::kUserUnit, files::kOutputUnit, length, key, mode,
                    mode == 1 ? progress::Label::kEncrypt : progress::Label::kDecrypt, report));
  if (files::flush_unit(files::kOutputUnit) != 0) stop_on(Status::kStdoutFailed);

  write_completion(mode);
  console::message_and_exit(Text(" "), console::kExitDone);
}

}  // namespace fcloak::run
