// The options, which stand before the file name: -h/--help, -V/--version,
// -c/--stdout, and "--", which ends them. Short options may be joined
// ("-cV"). The first argument that is not an option is the file name, and
// everything after it is an operand, whatever it looks like, so the
// command line `fcloak FILE [PASSWORD [+|-]]` means what it always meant;
// "-" and the empty argument are operands too. A file whose name starts
// with "-" is named "./-x", or after "--".
#pragma once

namespace fcloak::files {

enum class Request {
  kRun,        // process the file
  kHelp,       // -h or --help came first
  kVersion,    // -V or --version came first
  kBadOption,  // an option that does not exist came first
};

struct Options {
  Request request;
  // -c or --stdout: the result goes to standard output, the file stays.
  bool to_stdout;
  // The command-line number of the file name, the first operand (at least
  // 1; the argument count or more when there is none). For the other
  // requests, the number of the argument that decided.
  int first_operand;
};

// Reads the options of the command line that args.h holds, from argument 1
// on, in order: help, version or a bad option ends the reading at once, so
// the first of them decides.
Options parse_options();

}  // namespace fcloak::files
