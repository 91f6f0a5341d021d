// The menus of the Windows desktop, for the current user alone (no
// administrator rights): a shortcut to the program in the user's "Send To"
// folder, which hands every selected file to one run, and verbs of the shell
// under HKEY_CURRENT_USER\Software\Classes: one for files (the command line
// of a drop, the direction by the file's kind) and two for folders (-e -r
// and -d -r).
//
// install() adds what is missing and brings what an earlier install left up
// to this program where it now stands; it leaves alone anything of the same
// name that it did not write. uninstall() removes exactly what install()
// writes, and the keys above it that the removal leaves empty. Each reports
// one step per entry, in the order of Entry.
//
// The entries and the test of what is ours are the same on every platform
// (menu.cpp); the registry and the shortcut are in menu-win32.cpp, and
// menu-posix.cpp reports kNotThisPlatform.
#pragma once

namespace fcloak::menu {

enum class Entry { kSendTo, kFiles, kFolderEncrypt, kFolderDecrypt };
inline constexpr int kEntries = 4;

enum class Outcome {
  kAdded,
  kUpdated,    // ours from an earlier install, now for this program's path
  kUnchanged,  // ours, already as it would be written
  kRemoved,
  kAbsent,     // nothing of that name to remove
  kForeign,    // something of that name that is not ours: left as it is
  kFailed,     // the system refused; `error` tells why
};

// A registry key's full name or the shortcut's path, in GBK (a character
// that GBK lacks shown as "?").
inline constexpr int kWhereSize = 640;

struct Step {
  Entry entry;
  Outcome outcome;
  unsigned long error;  // the system's error code of a kFailed step
  char where[kWhereSize];
  int where_length;
};

enum class Result { kDone, kNotThisPlatform };

struct Report {
  Result result;
  Step steps[kEntries];
};

void install(Report& report);
void uninstall(Report& report);

// What the registry holds for one verb: the key under
// HKEY_CURRENT_USER\Software\Classes, the text of the menu entry (the key's
// default value) and what follows the quoted program path in the command
// (the default value of its subkey "command").
struct Verb {
  Entry entry;
  const char16_t* key;
  const char16_t* text;
  const char16_t* arguments;
};
inline constexpr int kVerbs = 3;
extern const Verb kVerb[kVerbs];

inline constexpr char16_t kClasses[] = u"Software\\Classes";
// The shortcut's file name in the Send To folder, and its description, by
// which it is known as ours.
inline constexpr char16_t kLinkName[] = u"fcloak.lnk";
inline constexpr char16_t kLinkDescription[] = u"用 fcloak 加密或解密文件";

// Writes the verb's command for the program at `program` (n units, no NUL):
// the path in quotes, then the verb's arguments, NUL-terminated. Returns its
// length, -1 when it does not fit in capacity units or the path holds a
// quote.
int command_line(const char16_t* program, int n, const Verb& verb, char16_t* out, int capacity);

// Whether a verb's key holding this text and this command (each n units,
// no NUL; a length of -1 for a value that is not there) is ours: the verb's
// own text, and its command for some program path. A key without either
// value is not ours.
bool is_ours(const Verb& verb, const char16_t* text, int text_length, const char16_t* command, int command_length);

}  // namespace fcloak::menu
