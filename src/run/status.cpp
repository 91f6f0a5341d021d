#include "run/status.h"

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
  }
  return Text(" ");
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
