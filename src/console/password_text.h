// A password's bytes as it was given (an argument, a line typed or piped, a
// line of a password file) and the GBK form that is its key, by one rule for
// every source, platform and locale:
//
// - where the system's own text is GBK, the bytes are GBK already;
// - elsewhere, Unicode is turned into GBK: a password that starts with a
//   UTF-8 or UTF-16 byte-order mark, or is valid UTF-8 holding a character
//   beyond ASCII (whatever the locale says, the C locale included);
// - a byte-order mark is Unicode everywhere: GBK text does not start so;
// - any other bytes are taken as they are.
//
// Earlier versions took some passwords as they were given (in the C locale,
// with a character GBK cannot hold, from a Windows pipe). The bytes as given
// are kept beside the key, so that a decryption can try them too.
#pragma once

#include "cipher/key.h"

namespace fcloak::console {

enum class PasswordForm {
  kAsGiven,    // the key is the bytes as given
  kConverted,  // the key is the GBK form of Unicode bytes
  kNotGbk,     // Unicode with a character that GBK cannot hold: no key but
               // the bytes as given, which a new encryption refuses
};

// A password: its first 16 bytes as used (the key) and as given, each
// padded with blanks. For kNotGbk also `partial`: the characters that GBK
// holds in GBK and the others as given, the key that earlier versions took
// in a UTF-8 locale.
struct Password {
  char key[cipher::kKeySize];
  char given[cipher::kKeySize];
  char partial[cipher::kKeySize];
  PasswordForm form;
};

// The longest line a password is taken from: the console line buffer. What
// lies beyond it never counts.
inline constexpr int kPasswordLineSize = 132;

// The rule above for n bytes: the form, and for kConverted the GBK bytes in
// out (capacity bytes) and their number in length. `system_gbk`: the
// system's own text is GBK.
PasswordForm password_to_gbk(const char* bytes, int n, bool system_gbk, char* out, int capacity, int& length);

// Takes a password from n bytes as given, by the rule above for this
// system. Only the first kPasswordLineSize bytes are looked at, cut before a
// character that does not end within them.
void take_password_bytes(const char* bytes, int n, Password& password);

// Takes a password that is GBK already (a line or an argument that came in
// Unicode and was turned into GBK on the way): the key is its bytes as given.
void take_password_gbk(const char* bytes, int n, Password& password);

// Takes a password from line `index` (0: the first) of a password file's n
// bytes, as take_password_bytes takes a line: its line end (LF, or CR LF)
// is no part of it. A file that starts with a UTF-16 byte-order mark is
// split at the units of its line feeds, and each of its lines is taken as
// UTF-16. False when the file has no such line.
bool take_password_line(const char* bytes, int n, int index, Password& password);

// Overwrites the password with zeros.
void wipe_password(Password& password);

}  // namespace fcloak::console
