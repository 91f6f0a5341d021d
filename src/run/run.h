// The run sequence: from the command line to the final message.
#pragma once

namespace fcloak::run {

// Runs the program once; never returns (every ending goes through
// console::message_and_exit).
[[noreturn]] void run();

}  // namespace fcloak::run
