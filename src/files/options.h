// The options, which stand before the operands (GNU style): short options
// may be joined ("-cV", "-er"), "--" ends them. The first argument that is
// not an option is the first operand, and everything after it is an
// operand, whatever it looks like, so the command line
// `fcloak FILE [PASSWORD [+|-]]` means what it always meant; "-" and the
// empty argument are operands too. A file whose name starts with "-" is
// named "./-x", or after "--".
//
//   -h, --help                 the help
//   -V, --version              the version
//   -c, --stdout               FILE [PASSWORD]: the other form to standard output
//   -e, --encrypt              FILE...: every operand a file or directory
//   -d, --decrypt              FILE...
//   -t, --test                 FILE...: the password checked, nothing written
//   -x, --change-password      FILE...: files only
//   -r, --recursive            with -e, -d or -t: directories walked
//   -k FILE, -kFILE,
//   --password-file=FILE,
//   --password-file FILE       the password from a file
//   --restore                  SCRATCH FILE, or FILE
//   --install-menu             no operands (the Windows desktop)
//   --uninstall-menu           no operands
//
// The modes -c, -e, -d, -t, -x, --restore, --install-menu and
// --uninstall-menu exclude each other (the same one twice is one); -k
// given twice takes the last.
#pragma once

#include "console/text.h"

namespace fcloak::files {

enum class Request {
  kRun,        // process the operands as the mode says
  kHelp,       // -h or --help came first
  kVersion,    // -V or --version came first
  kBadOption,  // an option that does not exist came first, or -k without its file
  kMisused,    // options that exist, but not together or not with these operands
};

enum class Mode {
  kSingle,          // no mode option: the command line of old
  kStdout,          // -c
  kEncrypt,         // -e
  kDecrypt,         // -d
  kTest,            // -t
  kChangePassword,  // -x
  kRestore,         // --restore
  kInstallMenu,     // --install-menu
  kUninstallMenu,   // --uninstall-menu
};

struct Options {
  Request request;
  // -c or --stdout: the result goes to standard output, the file stays.
  // The same as mode == Mode::kStdout.
  bool to_stdout;
  // The command-line number of the first operand (at least 1; the argument
  // count or more when there is none). For the other requests, the number
  // of the argument that decided (for kMisused, of the first operand).
  int first_operand;
  Mode mode;
  // -r or --recursive.
  bool recursive;
  // The file of -k or --password-file, GBK bytes as the argument holds
  // them; length -1 when none was given. The bytes lie inside the argument
  // (after "-k" or "--password-file="), so only a whole argument ("-k" FILE)
  // names a file whose name GBK cannot hold.
  Text password_file;
};

// True for the modes whose every operand is a file (or, with -r, a
// directory): -e, -d, -t, -x.
bool every_operand_a_file(Mode mode);

// Reads the options of the command line that args.h holds, from argument 1
// on, in order: help, version or a bad option ends the reading at once, so
// the first of them decides. Then the options are checked against each
// other and against the operands: a file mode with no operand, -r without
// -e, -d or -t, --restore with other than one or two operands, the desktop
// menu options with any operand, and two modes are kMisused.
Options parse_options();

}  // namespace fcloak::files
