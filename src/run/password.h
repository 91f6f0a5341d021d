// The password dialogue: argument 2 or the prompt, the refusals, and the key
// setup that creates or verifies the check block.
#pragma once

#include "cipher/key.h"
#include "run/status.h"

namespace fcloak::run {

// The password of a run, once for all its files: argument `argument`, or a
// line read at the prompt when that is blank or absent, into key (cut to 16
// bytes or blank-padded). kNoPassword, kPasswordNotGbk, how the line read
// ended, kOutputFailed as take_password says. The one place a password is
// taken: another source of it (a file, a hidden prompt) goes here.
Status read_password(int argument, char key[cipher::kKeySize]);

// The key setup of one file under that password: seeds the generator,
// creates the file's own check block (mode +1, `check` all blanks: from the
// clock, read now) or verifies the stored one (mode -1), then discards the
// skip count of draws. kWrongPassword when the stored block does not belong
// to the key.
Status prepare_key(signed char mode, const char key[cipher::kKeySize], unsigned char check[cipher::kKeySize]);

// Both, for a run of one file.

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
