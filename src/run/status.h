// How a step of the run ended, what a job is asked to do and how it ended,
// and the steps that the run in place and the standard-output mode share:
// the look-up, the header's classification and the completion line. The
// steps return a Status; only the top of the run (run.cpp) turns one into
// its message and exit status.
#pragma once

#include "console/password_text.h"
#include "console/text.h"
#include "files/fs.h"

namespace fcloak::run {

enum class [[nodiscard]] Status {
  kOk,
  kDeclined,  // the answer to the question was "no"
  // Refusals before anything is written.
  kNotFound,
  kTooLarge,
  kNameTooLong,
  kInUse,  // another program holds the file (also: refuses it a new length)
  kWriteProtected,
  kReadProtected,
  kTruncatedEncrypted,
  kOld16Bit,
  kPreV30,
  kNotToTerminal,
  // The password.
  kNoPassword,
  kWrongPassword,
  kPasswordNotGbk,  // a character of the password has no GBK form
  kPasswordsDiffer,         // the new password typed twice, two different lines
  kPasswordFileUnreadable,  // the file of -k cannot be read
  // Endings on the way.
  kInterrupted,
  kReadFailed,
  // The input was not the length it was looked up with, or another program
  // changed the user file or put another file in its name's place.
  kFileChanged,
  // A kept scratch file of an earlier run completes the file, and has not
  // been put back: the message names it (set_kept_copy_path).
  kCopyNotRestored,
  // --restore: the scratch file named is none, the copy of the file cannot
  // be found, the scratch file's note names another file, the file read
  // back is not the scratch file, the scratch file could not be deleted
  // after a restore that succeeded.
  kNotScratchFile,
  kNoKeptCopy,
  kNotItsCopy,
  kRestoreDiffers,
  kScratchNotRemoved,
  kNoSpace,       // a write, flush or sync failed
  kStdoutFailed,  // a write of data to standard output failed
  // The console, reported on standard error.
  kInputEnded,    // the console input ended before a line
  kLineTooLong,   // a typed line too long for the console's line buffer
  kOutputFailed,  // console text could not be written
  // A run over many files: a file left as it is, and items that are not
  // files to process.
  kSkipEncrypted,        // -e: the file is encrypted already
  kSkipPlain,            // -d, -t: the file is not encrypted
  kIsDirectory,          // a directory named without -r
  kNameNotGbk,           // a name in a walk that GBK cannot hold
  kDirectoryUnreadable,  // a directory whose entries could not be read
};

// True for the statuses of a file left as it is on purpose (not failed).
bool skipped(Status status);

// The message that ends a run with this status (blank for kOk and
// kDeclined).
Text message_for(Status status);

// The message padded with blanks to `width` bytes (to cover the line it is
// written over), in a field that the next call reuses; as it is when it is
// that wide already or the width is more than the field holds.
Text padded_to(Text message, int width);

// The path that the message of kCopyNotRestored ends with (GBK bytes, or the
// file system's own).
void set_kept_copy_path(Text path);

// Whether the status is reported on standard error, as a run-time error:
// the console itself failed.
bool reported_on_standard_error(Status status);

// The status of a failed read of the file (kEndOfFile: it ended before the
// length it was looked up with), and of a failed write, flush, sync or
// setting of its end.
Status read_status(fs::Status status);
Status write_status(fs::Status status);

// The direction of a job: what the sign after the password asks for, or a
// question (the standard-output mode has neither: the marker decides).
enum class Wanted { kAsk, kEncrypt, kDecrypt };

// What a job is to do with one file, as the caller decided it.
struct JobRequest {
  Wanted wanted;
  // The argument that holds the password; when it is blank or absent (or
  // 0: none) the password is asked for at the prompt.
  int password_argument;
  // The password file (-k): GBK bytes as the argument holds them, length
  // -1 when none was given. Its first line is the password (for -x the
  // current one, the second line the new one); nothing is asked then.
  Text password_file = Text("", -1);
  // A run over many files: the option is the answer (no question; a file
  // already in the wanted form is skipped), and this is the password, taken
  // once for all (for -x the current one). Null: the job takes its own from
  // the sources above.
  const console::Password* password = nullptr;
};

// How a job ended.
struct JobResult {
  Status status;
  // The user file had been written to: a failure left it part rewritten,
  // its complete form in the kept scratch file.
  bool rewrite_started;
  bool scratch_kept;
  // The message is padded with blanks to this many bytes, to cover the
  // line it is written over (the question, the progress line).
  int width;
};

// Looks the named file up into `length`; kNotFound (after a record with the
// name) when nothing matches, kTooLarge for a file of 2 GiB or more.
Status look_up(Text name, int& length);

// The direction that the file's first bytes call for: +1 (a plain file) or
// -1 (encrypted) in `mode`, or the refusal of an older format.
Status classify(const unsigned char* header, signed char& mode);

// A line over the progress line: `first` and `second`, then blanks to the
// end of the line it covers.
void write_over_progress(Text first, Text second);

// The completion line of an encryption (mode +1), a decryption (mode -1) or
// a password change (mode 0), over the progress line.
void write_completion(signed char mode);

}  // namespace fcloak::run
