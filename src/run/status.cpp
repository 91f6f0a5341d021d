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

}  // namespace

Text padded_to(Text message, int width) {
  if (width <= message.length || width > kMaxMessage) return message;
  std::memset(padded, ' ', sizeof padded);
  std::memcpy(padded, message.bytes, static_cast<std::size_t>(message.length));
  return Text(padded, width);
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

void write_completion(signed char mode) {
  // A password change's line is a text of its own.
  const Text lead = mode == 0 ? texts::kPasswordChanged : texts::kDone;
  const Text done = mode == 0 ? Text("", 0) : mode == 1 ? texts::kDoneEncrypt : texts::kDoneDecrypt;
  // Blanks to the end of the progress line that the completion covers.
  char blanks[progress::kLineLength];
  std::memset(blanks, ' ', sizeof blanks);
  const int rest = progress::kLineLength - lead.length - done.length;
  console::write_record({Text("\r"), lead}, true);
  console::write_record({done}, true);
  console::write_record({Text(blanks, rest > 0 ? rest : 0)}, false);
}

}  // namespace fcloak::run
