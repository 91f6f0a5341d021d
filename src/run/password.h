// The password dialogue: argument 2 or the prompt, the refusals, and the key
// setup that creates or verifies the check block.
#pragma once

#include "cipher/key.h"
#include "run/status.h"

namespace fcloak::run {

// Takes the password (argument `argument`, or a line read at the prompt
// when that is blank or absent) into key, seeds the generator, scrambles the key and
// creates the check block (encrypting, `check` all blanks: from the clock)
// or verifies it (decrypting: always, whatever its bytes), then discards the
// skip count of draws. kNoPassword when none was given, kWrongPassword when
// the stored check block does not belong to it, kPasswordNotGbk when GBK
// cannot hold it; how the line read ended when it did not give a line; and
// kOutputFailed when the prompt could not be written.
Status take_password(signed char mode, int argument, char key[cipher::kKeySize],
                     unsigned char check[cipher::kKeySize]);

}  // namespace fcloak::run
