#include "run/status.h"

#include "console/console.h"
#include "console/texts.h"

namespace fcloak::run {

Text message_for(Status status) {
  switch (status) {
    case Status::kOk:
      break;
    case Status::kNoPassword:
      return texts::kNoPassword;
    case Status::kWrongPassword:
      return texts::kWrongPassword;
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

void end_run(Status status) { console::message_and_exit(message_for(status), console::kExitRefused); }

}  // namespace fcloak::run
