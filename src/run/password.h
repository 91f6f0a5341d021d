// The password dialogue: the argument, the password file or the prompt
// (twice for a new password typed at a terminal), the refusals, and the key
// setup that creates or verifies the check block.
#pragma once

#include "cipher/key.h"
#include "console/password_text.h"
#include "console/text.h"
#include "run/status.h"

namespace fcloak::run {

// What a password is for.
enum class Purpose {
  kOpen,     // an encrypted file's password (decryption, -t, -x's current one): asked once
  kEncrypt,  // a new encryption's
  kNew,      // -x's new password: the password file's second line
};

// Takes the password that `request` names, for `purpose`: from the password
// file's line (never asked for then), or from the argument or, when that is
// blank or absent, from a line read at the prompt; the argument is wiped
// once taken. A new password (kEncrypt, kNew) typed at a terminal is asked
// for a second time, and two different lines are kPasswordsDiffer.
// kNoPassword when none was given (a blank line, a file without the line),
// kPasswordFileUnreadable, kPasswordNotGbk for an argument of a Unicode
// command line with a character that GBK cannot hold; how the line read
// ended when it did not give a line, and kOutputFailed when the prompt could
// not be written.
Status get_password(const JobRequest& request, Purpose purpose, console::Password& password);

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

// Both steps for a job in direction `mode` (+1: a new encryption): the
// run's password when the request holds one, or else its own taken now and
// wiped after the key setup. The key is kept secret (locked, wiped at the
// end).
Status take_password(signed char mode, const JobRequest& request, char key[cipher::kKeySize],
                     unsigned char check[cipher::kKeySize]);

// The key setup of a password change: the current password (the request's,
// or taken now) verified against `old_check` into `old_key`, its decryption
// tables built in table set 1; then the new password, taken at the first
// file whose current password fits and kept for the others of the run, and
// its new check block created in `new_check` (all blanks before), its
// encryption tables built in set 0, which is selected after.
Status take_passwords_for_change(const JobRequest& request, char old_key[cipher::kKeySize],
                                 unsigned char old_check[cipher::kKeySize], char new_key[cipher::kKeySize],
                                 unsigned char new_check[cipher::kKeySize]);

}  // namespace fcloak::run
