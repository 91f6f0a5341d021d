#include "run/status.h"

#include <cstdint>
#include <cstring>

#include "console/console.h"
#include "console/texts.h"

namespace fcloak::run {

namespace {

// Wider than any line a message is written over.
constexpr int kMaxMessage = 64;
char padded[kMaxMessage];

}  // namespace

Text message_for(Status status) {
  switch (status) {
    case Status::kOk:
      break;
    case Status::kNoPassword:
      return texts::kNoPassword;
    case Status::kWrongPassword:
      return texts::kWrongPassword;
    case Status::kPasswordNotGbk:
      return texts::kPasswordNotGbk;
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
  }
  return Text(" ");
}

int look_up_or_end(Text name, fs::FileInfo& info) {
  if (fs::look_up(name.bytes, name.length, info) == 0) {
    console::write_record({Text("\r"), name}, false);
    console::message_and_exit(texts::kNotFound, console::kExitRefused);
  }
  if (info.size > INT32_MAX) console::message_and_exit(texts::kTooLarge, console::kExitRefused);
  return static_cast<int>(info.size);
}

void write_completion(signed char mode) {
  console::write_record({Text("\r"), texts::kDone}, true);
  console::write_record({mode == 1 ? texts::kDoneEncrypt : texts::kDoneDecrypt}, true);
  console::write_record({Text("                       ")}, false);
}

void end_run(Status status, int width) {
  Text message = message_for(status);
  if (width > message.length && width <= kMaxMessage) {
    std::memset(padded, ' ', sizeof padded);
    std::memcpy(padded, message.bytes, static_cast<std::size_t>(message.length));
    message = Text(padded, width);
  }
  console::message_and_exit(message, console::kExitRefused);
}

}  // namespace fcloak::run
