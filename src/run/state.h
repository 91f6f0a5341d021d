// Run-wide state that other modules read directly.
#pragma once

namespace fcloak::run {

// The direction of the run: +1 encrypt, -1 decrypt, 0 before the file has
// been classified.
inline signed char mode = 0;

}  // namespace fcloak::run
