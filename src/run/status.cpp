#include "run/status.h"

#include <cstdint>
#include <cstring>

#include "cipher/format.h"
#include "console/console.h"
#include "console/texts.h"
#include "progress/progress.h"

namespace fcloak::run {

namespace {

// Wider than any line a message is written over.
constexpr int kMaxMessage = 64;

char padded[kMaxMessage];

// The message of kCopyNotRestored: its text and the path.
char kept_copy_message[1100];
int kept_copy_message_length = 0;

}  // namespace

Text padded_to(Text message, int width) {
  if (width <= message.length || width > kMaxMessage) return message;
  std::memset(padded, ' ', sizeof padded);
  std::memcpy(padded, message.bytes, static_cast<std::size_t>(message.length));
  return Text(padded, width);
}

void set_kept_copy_path(Text path) {
  Text lead = texts::kCopyNotRestored;
  int n = lead.length;
  std::memcpy(kept_copy_message, lead.bytes, static_cast<std::size_t>(n));
  const int room = static_cast<int>(sizeof kept_copy_message) - n;
  const int take = path.length < room ? path.length : room;
  std::memcpy(kept_copy_message + n, path.bytes, static_cast<std::size_t>(take));
  kept_copy_message_length = n + take;
}

Text message_for(Status status) {
  switch (status) {
    case Status::kOk:
    case Status::kDeclined:
      break;
    case Status::kNotFound:
      return texts::kNotFound;
    case Status::kTooLarge:
      return texts::kTooLarge;
    case Status::kNameTooLong:
      return texts::kNameTooLong;
    case Status::kInUse:
      return texts::kInUse;
    case Status::kWriteProtected:
      return texts::kWriteProtected;
    case Status::kReadProtected:
      return texts::kReadProtected;
    case Status::kTruncatedEncrypted:
      return texts::kTruncatedEncrypted;
    case Status::kOld16Bit:
      return texts::kOld16Bit;
    case Status::kPreV30:
      return texts::kPreV30;
    case Status::kNotToTerminal:
      return texts::kNotToTerminal;
    case Status::kNoPassword:
      return texts::kNoPassword;
    case Status::kWrongPassword:
      return texts::kWrongPassword;
    case Status::kPasswordNotGbk:
      return texts::kPasswordNotGbk;
    case Status::kPasswordsDiffer:
      return texts::kPasswordsDiffer;
    case Status::kPasswordFileUnreadable:
      return texts::kPasswordFileUnreadable;
    case Status::kInterrupted:
      return texts::kInterrupted;
    case Status::kReadFailed:
      return texts::kReadFailed;
    case Status::kFileChanged:
      return texts::kFileChanged;
    case Status::kCopyNotRestored:
      return kept_copy_message_length > 0 ? Text(kept_copy_message, kept_copy_message_length)
                                          : texts::kCopyNotRestored;
    case Status::kNotScratchFile:
      return texts::kNotScratchFile;
    case Status::kNoKeptCopy:
      return texts::kNoKeptCopy;
    case Status::kNotItsCopy:
      return texts::kNotItsCopy;
    case Status::kRestoreDiffers:
      return texts::kRestoreDiffers;
    case Status::kScratchNotRemoved:
      return texts::kScratchNotRemoved;
    case Status::kNoSpace:
      return texts::kNoSpace;
    case Status::kStdoutFailed:
      return texts::kStdoutFailed;
    case Status::kInputEnded:
      return texts::kInputEnded;
    case Status::kLineTooLong:
      return texts::kLineTooLong;
    case Status::kOutputFailed:
      return texts::kOutputFailed;
    case Status::kSkipEncrypted:
      return texts::kSkipEncrypted;
    case Status::kSkipPlain:
      return texts::kSkipPlain;
    case Status::kIsDirectory:
      return texts::kIsDirectory;
    case Status::kNameNotGbk:
      return texts::kNameNotGbk;
    case Status::kDirectoryUnreadable:
      return texts::kDirectoryUnreadable;
  }
  return Text(" ");
}

bool skipped(Status status) { return status == Status::kSkipEncrypted || status == Status::kSkipPlain; }

bool reported_on_standard_error(Status status) {
  return status == Status::kInputEnded || status == Status::kLineTooLong || status == Status::kOutputFailed;
}

Status read_status(fs::Status status) {
  if (status.ok()) return Status::kOk;
  return status.code == fs::Code::kEndOfFile ? Status::kFileChanged : Status::kReadFailed;
}

Status write_status(fs::Status status) {
  if (status.ok()) return Status::kOk;
  return status.code == fs::Code::kInUse ? Status::kInUse : Status::kNoSpace;
}

Status look_up(Text name, int& length) {
  fs::FileInfo info{};
  if (!fs::look_up(name.bytes, name.length, info)) {
    console::write_record({Text("\r"), name}, false);
    return Status::kNotFound;
  }
  if (info.size > INT32_MAX) return Status::kTooLarge;
  length = static_cast<int>(info.size);
  return Status::kOk;
}

Status classify(const unsigned char* header, signed char& mode) {
  switch (cipher::classify_header(header)) {
    case cipher::FileKind::kEncrypted:
      mode = -1;
      return Status::kOk;
    case cipher::FileKind::kOld16Bit:
      return Status::kOld16Bit;
    case cipher::FileKind::kPreV30:
      return Status::kPreV30;
    case cipher::FileKind::kPlain:
      break;
  }
  mode = 1;
  return Status::kOk;
}

void write_over_progress(Text first, Text second) {
  // Blanks to the end of the progress line that the line covers.
  char blanks[progress::kLineLength];
  std::memset(blanks, ' ', sizeof blanks);
  const int rest = progress::kLineLength - first.length - second.length;
  console::write_record({Text("\r"), first}, true);
  console::write_record({second}, true);
  console::write_record({Text(blanks, rest > 0 ? rest : 0)}, false);
}

void write_completion(signed char mode) {
  // A password change's line is a text of its own.
  if (mode == 0) {
    write_over_progress(texts::kPasswordChanged, Text("", 0));
    return;
  }
  write_over_progress(texts::kDone, mode == 1 ? texts::kDoneEncrypt : texts::kDoneDecrypt);
}

}  // namespace fcloak::run
