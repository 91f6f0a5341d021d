// The password dialogue: argument 2 or the prompt, the refusals, and the key
// setup that creates or verifies the check block.
#pragma once

#include "cipher/key.h"
#include "console/password_text.h"
#include "console/text.h"
#include "run/status.h"

namespace fcloak::run {

// Takes the password from argument `argument` or, when that is blank or
// absent, from a line read at `prompt`; the argument is wiped once taken.
// kNoPassword when none was given, kPasswordNotGbk for an argument of a
// Unicode command line with a character that GBK cannot hold; how the line
// read ended when it did not give a line, and kOutputFailed when the prompt
// could not be written.
Status get_password(console::Password& password, int argument, Text prompt);

// The key setup for a password that has been taken: seeds the generator,
// scrambles the key and creates the check block (encrypting, `check` all
// blanks: from the clock) or verifies it (decrypting: always, whatever its
// bytes), then discards the skip count of draws. The key that fits ends in
// `key`. A new encryption refuses a password with a character that GBK
// cannot hold (kPasswordNotGbk); a verification that the converted key does
// not pass tries the bytes as given, under which earlier versions may have
// encrypted the file, before kWrongPassword.
Status set_up_key(const console::Password& password, signed char mode, char key[cipher::kKeySize],
                  unsigned char check[cipher::kKeySize]);

// Both steps with the run's own prompt, and the password wiped after them;
// the key is kept secret (locked, wiped at the end).
Status take_password(signed char mode, int argument, char key[cipher::kKeySize],
                     unsigned char check[cipher::kKeySize]);

}  // namespace fcloak::run
