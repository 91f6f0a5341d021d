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
    {{"--", "-x", "pw", "+"}, R::kRun, false, {"-x", "pw", "+"}},
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
    {{"--help", "-x"}, R::kHelp, false, {}},
    {{"-x", "--help"}, R::kBadOption, false, {}},
    {{"-cx", "-h"}, R::kBadOption, true, {}},

    // Options that do not exist: no abbreviations, no values, no case
    // folding, nothing after a long option's name.
    {{"-x"}, R::kBadOption, false, {}},
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

TEST(ParseOptions, Table) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(show(c.args));
    std::vector<const char*> bytes = {"fcloak"};
    std::vector<int> lengths = {6};
    for (const std::string& a : c.args) {
      bytes.push_back(a.data());
      lengths.push_back(static_cast<int>(a.size()));
    }
    set_arguments(static_cast<int>(bytes.size()), bytes.data(), lengths.data());
    const Options options = parse_options();
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

}  // namespace
}  // namespace fcloak::files
