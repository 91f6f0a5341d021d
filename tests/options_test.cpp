// The options before the file name, and the operands that the run then
// numbers 1, 2, 3 as on the command line of old: one table of command lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/args.h"
#include "files/options.h"

namespace fcloak::files {
namespace {

using R = Request;

struct Case {
  std::vector<std::string> args;  // after argument 0
  Request request;
  bool to_stdout;
  // Operands 1.. as get_argument gives them afterwards (kRun only).
  std::vector<std::string> operands;
};

const Case kCases[] = {
    // The command line of old: no options, every operand where it was,
    // whatever it looks like after the file name.
    {{}, R::kRun, false, {}},
    {{"file"}, R::kRun, false, {"file"}},
    {{"file", "pw", "-"}, R::kRun, false, {"file", "pw", "-"}},
    {{"file", "-c", "+"}, R::kRun, false, {"file", "-c", "+"}},
    {{"file", "--help"}, R::kRun, false, {"file", "--help"}},
    {{""}, R::kRun, false, {""}},
    {{"-"}, R::kRun, false, {"-"}},
    {{"-", "pw", "+"}, R::kRun, false, {"-", "pw", "+"}},
    {{"./-x", "pw"}, R::kRun, false, {"./-x", "pw"}},

    // "--" ends the options; what follows is an operand even when it looks
    // like an option, "--" included.
    {{"--", "-q", "pw", "+"}, R::kRun, false, {"-q", "pw", "+"}},
    {{"--", "--"}, R::kRun, false, {"--"}},
    {{"-c", "--", "-h"}, R::kRun, true, {"-h"}},
    {{"--"}, R::kRun, false, {}},

    // Standard output.
    {{"-c", "file", "pw"}, R::kRun, true, {"file", "pw"}},
    {{"--stdout", "-"}, R::kRun, true, {"-"}},
    {{"-c", "-c", "--stdout", "-cc", "f"}, R::kRun, true, {"f"}},
    {{"-c"}, R::kRun, true, {}},

    // Help and version; the first of them, or of a bad option, decides.
    {{"-h"}, R::kHelp, false, {}},
    {{"--help", "file"}, R::kHelp, false, {}},
    {{"-V"}, R::kVersion, false, {}},
    {{"--version"}, R::kVersion, false, {}},
    {{"-c", "--help"}, R::kHelp, true, {}},
    {{"-cV"}, R::kVersion, true, {}},
    {{"-Vh"}, R::kVersion, false, {}},
    {{"--help", "-q"}, R::kHelp, false, {}},
    {{"-q", "--help"}, R::kBadOption, false, {}},
    {{"-cq", "-h"}, R::kBadOption, true, {}},

    // Options that do not exist: no abbreviations, no values, no case
    // folding, nothing after a long option's name.
    {{"-q"}, R::kBadOption, false, {}},
    {{"-v"}, R::kBadOption, false, {}},
    {{"-H"}, R::kBadOption, false, {}},
    {{"--std"}, R::kBadOption, false, {}},
    {{"--stdouts"}, R::kBadOption, false, {}},
    {{"--help=1"}, R::kBadOption, false, {}},
    {{"---"}, R::kBadOption, false, {}},
    {{"-c-"}, R::kBadOption, true, {}},
    {{"-\xb0\xa1"}, R::kBadOption, false, {}},
    {{std::string("-c\0h", 4)}, R::kBadOption, true, {}},
};

std::string show(const std::vector<std::string>& args) {
  std::string s = "fcloak";
  for (const std::string& a : args) s += " '" + a + "'";
  return s;
}

// The options of `fcloak ARGS...`; the strings must outlive the run.
Options parse(const std::vector<std::string>& args) {
  static std::vector<const char*> bytes;
  static std::vector<int> lengths;
  bytes = {"fcloak"};
  lengths = {6};
  for (const std::string& a : args) {
    bytes.push_back(a.data());
    lengths.push_back(static_cast<int>(a.size()));
  }
  set_arguments(static_cast<int>(bytes.size()), bytes.data(), lengths.data());
  return parse_options();
}

TEST(ParseOptions, Table) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(show(c.args));
    const Options options = parse(c.args);
    EXPECT_EQ(options.request, c.request);
    EXPECT_EQ(options.to_stdout, c.to_stdout);
    if (c.request != R::kRun) continue;

    skip_options(options.first_operand);
    char field[16];
    for (int n = 1; n <= static_cast<int>(c.operands.size()) + 1; ++n) {
      const int length = get_argument(n, field, sizeof field);
      if (n > static_cast<int>(c.operands.size())) {
        EXPECT_EQ(length, -1) << "operand " << n << " should be missing";
      } else {
        const std::string& expected = c.operands[static_cast<std::size_t>(n - 1)];
        EXPECT_EQ(length, static_cast<int>(expected.size())) << "operand " << n;
        EXPECT_EQ(std::string(field, expected.size()), expected) << "operand " << n;
      }
    }
    // Argument 0 stays the program.
    EXPECT_EQ(get_argument(0, field, sizeof field), 6);
  }
}

// The modes, -r and -k: what is read, and which command lines are usage
// errors. `file` is the password file ("-" for none); `first` the first
// operand's text ("" when there is none).
struct ModeCase {
  std::vector<std::string> args;
  Request request;
  Mode mode;
  bool recursive;
  const char* file;
  const char* first;
};

constexpr const char* kNone = "-";

const ModeCase kModeCases[] = {
    // Each mode, short and long, joined with others.
    {{"-e", "a", "b", "c"}, R::kRun, Mode::kEncrypt, false, kNone, "a"},
    {{"--encrypt", "a"}, R::kRun, Mode::kEncrypt, false, kNone, "a"},
    {{"-d", "a"}, R::kRun, Mode::kDecrypt, false, kNone, "a"},
    {{"--decrypt", "a"}, R::kRun, Mode::kDecrypt, false, kNone, "a"},
    {{"-t", "a"}, R::kRun, Mode::kTest, false, kNone, "a"},
    {{"--test", "a"}, R::kRun, Mode::kTest, false, kNone, "a"},
    {{"-x", "a", "b"}, R::kRun, Mode::kChangePassword, false, kNone, "a"},
    {{"--change-password", "a"}, R::kRun, Mode::kChangePassword, false, kNone, "a"},
    {{"-er", "dir"}, R::kRun, Mode::kEncrypt, true, kNone, "dir"},
    {{"-r", "-d", "dir"}, R::kRun, Mode::kDecrypt, true, kNone, "dir"},
    {{"--recursive", "--test", "dir"}, R::kRun, Mode::kTest, true, kNone, "dir"},
    {{"-ee", "--encrypt", "a"}, R::kRun, Mode::kEncrypt, false, kNone, "a"},
    {{"-e", "--", "-d"}, R::kRun, Mode::kEncrypt, false, kNone, "-d"},
    {{"-e", "a", "-d"}, R::kRun, Mode::kEncrypt, false, kNone, "a"},
    {{"--restore", "ZZa00001", "a"}, R::kRun, Mode::kRestore, false, kNone, "ZZa00001"},
    {{"--restore", "a"}, R::kRun, Mode::kRestore, false, kNone, "a"},
    {{"--install-menu"}, R::kRun, Mode::kInstallMenu, false, kNone, ""},
    {{"--uninstall-menu"}, R::kRun, Mode::kUninstallMenu, false, kNone, ""},
    // The command line of old and -c keep their operands as they were.
    {{"a", "-e", "+"}, R::kRun, Mode::kSingle, false, kNone, "a"},
    {{"-c", "a"}, R::kRun, Mode::kStdout, false, kNone, "a"},

    // -k in its four forms; the file is taken whatever it looks like, and
    // the last -k counts.
    {{"-k", "pw.txt", "-e", "a"}, R::kRun, Mode::kEncrypt, false, "pw.txt", "a"},
    {{"-kpw.txt", "-d", "a"}, R::kRun, Mode::kDecrypt, false, "pw.txt", "a"},
    {{"-tk", "pw.txt", "a"}, R::kRun, Mode::kTest, false, "pw.txt", "a"},
    {{"-rekpw.txt", "a"}, R::kRun, Mode::kEncrypt, true, "pw.txt", "a"},
    {{"--password-file=pw.txt", "-e", "a"}, R::kRun, Mode::kEncrypt, false, "pw.txt", "a"},
    {{"--password-file", "pw.txt", "-e", "a"}, R::kRun, Mode::kEncrypt, false, "pw.txt", "a"},
    {{"-k", "-e", "-d", "a"}, R::kRun, Mode::kDecrypt, false, "-e", "a"},
    {{"-k", "--help", "a"}, R::kRun, Mode::kSingle, false, "--help", "a"},
    {{"-k", "one", "-k", "two", "-e", "a"}, R::kRun, Mode::kEncrypt, false, "two", "a"},
    {{"-k", "pw.txt", "a"}, R::kRun, Mode::kSingle, false, "pw.txt", "a"},
    {{"-ck", "pw.txt", "a"}, R::kRun, Mode::kStdout, false, "pw.txt", "a"},
    {{"--password-file=", "-e", "a"}, R::kMisused, Mode::kEncrypt, false, "", ""},
    {{"-k", "", "-e", "a"}, R::kMisused, Mode::kEncrypt, false, "", ""},
    {{"-e", "-k"}, R::kBadOption, Mode::kEncrypt, false, kNone, ""},
    {{"--password-file"}, R::kBadOption, Mode::kSingle, false, kNone, ""},
    {{"--password-files=a", "-e", "a"}, R::kBadOption, Mode::kSingle, false, kNone, ""},

    // No operand for a file mode; modes that exclude each other; -r without
    // a mode that walks; --restore's one or two operands; the menu options
    // alone.
    {{"-e"}, R::kMisused, Mode::kEncrypt, false, kNone, ""},
    {{"-d", "--"}, R::kMisused, Mode::kDecrypt, false, kNone, ""},
    {{"-rt"}, R::kMisused, Mode::kTest, true, kNone, ""},
    {{"-x"}, R::kMisused, Mode::kChangePassword, false, kNone, ""},
    {{"-ed", "a"}, R::kMisused, Mode::kDecrypt, false, kNone, ""},
    {{"-e", "-t", "a"}, R::kMisused, Mode::kTest, false, kNone, ""},
    {{"-c", "-e", "a"}, R::kMisused, Mode::kEncrypt, false, kNone, ""},
    {{"-dc", "a"}, R::kMisused, Mode::kStdout, false, kNone, ""},
    {{"-x", "-d", "a"}, R::kMisused, Mode::kDecrypt, false, kNone, ""},
    {{"--restore", "-e", "a"}, R::kMisused, Mode::kEncrypt, false, kNone, ""},
    {{"--install-menu", "--uninstall-menu"}, R::kMisused, Mode::kUninstallMenu, false, kNone, ""},
    {{"-r", "a"}, R::kMisused, Mode::kSingle, true, kNone, ""},
    {{"-rc", "a"}, R::kMisused, Mode::kStdout, true, kNone, ""},
    {{"-rx", "a"}, R::kMisused, Mode::kChangePassword, true, kNone, ""},
    {{"-r", "--restore", "a"}, R::kMisused, Mode::kRestore, true, kNone, ""},
    {{"--restore"}, R::kMisused, Mode::kRestore, false, kNone, ""},
    {{"--restore", "a", "b", "c"}, R::kMisused, Mode::kRestore, false, kNone, ""},
    {{"--install-menu", "a"}, R::kMisused, Mode::kInstallMenu, false, kNone, ""},
    {{"-k", "pw", "--uninstall-menu"}, R::kMisused, Mode::kUninstallMenu, false, "pw", ""},

    // Help, version and a bad option still decide where they stand, before
    // the checks of what goes together.
    {{"-ed", "--help"}, R::kHelp, Mode::kDecrypt, false, kNone, ""},
    {{"-e", "-Vd"}, R::kVersion, Mode::kEncrypt, false, kNone, ""},
    {{"-eq", "a"}, R::kBadOption, Mode::kEncrypt, false, kNone, ""},
    {{"-r", "--encrypted", "a"}, R::kBadOption, Mode::kSingle, true, kNone, ""},
    {{"-E", "a"}, R::kBadOption, Mode::kSingle, false, kNone, ""},
    {{"-R", "a"}, R::kBadOption, Mode::kSingle, false, kNone, ""},
};

TEST(ParseOptions, ModesRecursionAndPasswordFile) {
  for (const ModeCase& c : kModeCases) {
    SCOPED_TRACE(show(c.args));
    const Options options = parse(c.args);
    EXPECT_EQ(options.request, c.request);
    EXPECT_EQ(options.mode, c.mode);
    EXPECT_EQ(options.recursive, c.recursive);
    EXPECT_EQ(options.to_stdout, c.mode == Mode::kStdout);
    if (c.file == kNone) {
      EXPECT_EQ(options.password_file.length, -1);
    } else {
      EXPECT_EQ(std::string(options.password_file.bytes, static_cast<std::size_t>(options.password_file.length)),
                c.file);
    }
    if (c.request != R::kRun) continue;
    const Text first = command_line_argument(options.first_operand);
    EXPECT_EQ(std::string(first.bytes, first.length < 0 ? 0 : static_cast<std::size_t>(first.length)), c.first);
  }
}

}  // namespace
}  // namespace fcloak::files
