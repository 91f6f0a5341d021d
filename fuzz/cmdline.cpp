// The Windows command line split into arguments, on any UTF-16 units, and
// the options read from those arguments.
//
// Input: two bytes that choose a storage size and an argument limit for a
// second, constrained split, then the command line, two bytes (little-endian)
// to a unit; an odd last byte is dropped.
//
// Checked besides the sanitizers' findings (storage and the two arrays are
// allocated at exactly the sizes the function is given):
// - with storage as large as the line and room for length / 2 + 1
//   arguments, the limits the Windows build uses, every line splits;
// - the arguments lie one after the other from the start of storage, and
//   together take no more units than the line;
// - a split with less storage or fewer argument slots either fails or gives
//   exactly the same arguments, and it cannot fail when they fit;
// - quoting the arguments again by the usual rules and splitting the result
//   gives the same arguments back;
// - the options: a command line whose argument 1 does not start with "-"
//   (or is "-") is read as the command line of old, with no option; only
//   arguments that are options are skipped before the file name, and the
//   file name itself is none unless "--" came before it; help, version or a
//   bad option is decided by an argument that holds it, after options that
//   exist; the operands are numbered 1, 2, ... from the file name on.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "files/args.h"
#include "files/cmdline.h"
#include "files/options.h"

namespace {

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_cmdline: %s\n", what);
  std::abort();
}

// Splits with storage and slots of exactly these sizes; -1 or the arguments.
int split(const std::u16string& line, int capacity, int max_args, std::vector<std::u16string>& args) {
  // Heap blocks of exactly the sizes given (none for 0), so that
  // AddressSanitizer sees any access past them.
  std::unique_ptr<char16_t[]> storage(new char16_t[static_cast<std::size_t>(capacity)]);
  std::unique_ptr<int[]> starts(new int[static_cast<std::size_t>(max_args)]);
  std::unique_ptr<int[]> lengths(new int[static_cast<std::size_t>(max_args)]);
  const int count = fcloak::files::split_command_line(line.data(), static_cast<int>(line.size()), storage.get(),
                                                      capacity, starts.get(), lengths.get(), max_args);
  args.clear();
  if (count < 0) return count;
  require(count >= 1 && count <= max_args, "argument count out of range");
  int end = 0;
  for (int i = 0; i < count; ++i) {
    require(starts[i] == end, "arguments do not follow one another in storage");
    require(lengths[i] >= 0 && lengths[i] <= capacity - starts[i], "argument beyond the storage");
    args.emplace_back(storage.get() + starts[i], static_cast<std::size_t>(lengths[i]));
    end += lengths[i];
  }
  return count;
}

// The argument in double quotes, with backslashes and quotes escaped so that
// the split gives it back.
std::u16string quote(const std::u16string& arg) {
  std::u16string out = u"\"";
  std::size_t backslashes = 0;
  for (const char16_t c : arg) {
    if (c == u'\\') {
      ++backslashes;
    } else if (c == u'"') {
      out.append(2 * backslashes + 1, u'\\');
      backslashes = 0;
      out += c;
    } else {
      out.append(backslashes, u'\\');
      backslashes = 0;
      out += c;
    }
  }
  // Doubled before the closing quote, so that they stay backslashes.
  out.append(2 * backslashes, u'\\');
  return out + u"\"";
}

bool option_like(const std::string& arg) { return arg.size() >= 2 && arg[0] == '-'; }

// An option that is skipped before the file name: "--stdout", or "-" and
// one or more "c".
bool stdout_option(const std::string& arg) {
  if (arg == "--stdout") return true;
  return option_like(arg) && arg.find_first_not_of('c', 1) == std::string::npos;
}

// The options read from the split arguments.
// The arguments as the options see them: ASCII as it is, every other unit
// as one byte that no option holds.
std::vector<std::string> as_bytes(const std::vector<std::u16string>& args) {
  std::vector<std::string> bytes;
  for (const std::u16string& a : args) {
    std::string b;
    for (char16_t u : a) b.push_back(u < 0x80 ? static_cast<char>(u) : '\xa1');
    bytes.push_back(b);
  }
  return bytes;
}

void check_options(const std::vector<std::string>& args) {
  std::vector<const char*> bytes;
  std::vector<int> lengths;
  for (const std::string& a : args) {
    bytes.push_back(a.data());
    lengths.push_back(static_cast<int>(a.size()));
  }
  const int count = static_cast<int>(args.size());
  fcloak::files::set_arguments(count, bytes.data(), lengths.data());
  const fcloak::files::Options options = fcloak::files::parse_options();
  using fcloak::files::Request;
  const int first = options.first_operand;
  require(first >= 1, "the file name before argument 1");

  if (count < 2 || !option_like(args[1])) {
    require(options.request == Request::kRun && !options.to_stdout && first == 1,
            "a command line without options is not read as of old");
  }

  // What stands before the deciding argument, or the file name, is options.
  const bool ended = options.request == Request::kRun && first >= 2 && args[static_cast<std::size_t>(first - 1)] == "--";
  const int skipped = ended ? first - 1 : first;
  bool to_stdout = false;
  for (int i = 1; i < skipped && i < count; ++i) {
    require(stdout_option(args[static_cast<std::size_t>(i)]), "an argument skipped that is no option");
    to_stdout = true;
  }

  if (options.request != Request::kRun) {
    require(first < count, "a request decided by an argument that is not there");
    const std::string& arg = args[static_cast<std::size_t>(first)];
    require(option_like(arg) && arg != "--", "a request decided by an operand");
    const std::size_t decided = arg[1] == '-' ? 1 : arg.find_first_not_of('c', 1);
    require(decided != std::string::npos, "a request decided by an option that exists");
    to_stdout = to_stdout || decided > 1;
    if (options.request == Request::kHelp) require(arg == "--help" || arg[decided] == 'h', "help not asked for");
    if (options.request == Request::kVersion) require(arg == "--version" || arg[decided] == 'V', "version not asked for");
    if (options.request == Request::kBadOption) {
      require(arg[1] == '-' ? arg != "--help" && arg != "--version" && arg != "--stdout"
                            : arg[decided] != 'h' && arg[decided] != 'V',
              "an option that exists called bad");
    }
    require(options.to_stdout == to_stdout, "-c seen or not seen");
    return;
  }
  require(options.to_stdout == to_stdout, "-c seen or not seen");
  if (first < count && !ended) require(!option_like(args[static_cast<std::size_t>(first)]), "an option taken for the file name");

  // The operands, numbered from the file name on; argument 0 stays.
  fcloak::files::skip_options(first);
  char field[8];
  for (int n = 0; n <= 3; ++n) {
    const int at = n == 0 ? 0 : first + n - 1;
    const int length = fcloak::files::get_argument(n, field, sizeof field);
    if (at >= count) {
      require(length == -1, "an operand that is not there");
      continue;
    }
    const std::string& arg = args[static_cast<std::size_t>(at)];
    require(length == static_cast<int>(arg.size()), "an operand of another length");
    require(std::string(field, arg.size() < sizeof field ? arg.size() : sizeof field) == arg.substr(0, sizeof field),
            "an operand of other bytes");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::u16string line;
  for (std::size_t i = 2; i + 1 < size; i += 2) line += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  const int length = static_cast<int>(line.size());

  std::vector<std::u16string> args;
  const int count = split(line, length, length / 2 + 1, args);
  require(count >= 1, "a line within the Windows limits does not split");
  std::size_t used = 0;
  for (const std::u16string& a : args) used += a.size();
  require(used <= line.size(), "the arguments take more units than the line");
  check_options(as_bytes(args));

  // Less room: the same arguments or a failure, and no failure when they fit.
  const int capacity = length == 0 ? 0 : data[0] % (length + 1);
  const int max_args = 1 + data[1] % (count + 1);
  std::vector<std::u16string> constrained;
  const int constrained_count = split(line, capacity, max_args, constrained);
  if (constrained_count >= 0) {
    require(constrained == args, "a smaller split gives other arguments");
  } else {
    require(static_cast<int>(used) > capacity || count > max_args, "a split fails though its arguments fit");
  }

  // Quoted again: argument 0 in plain quotes (it has no escapes), the others
  // with escapes.
  std::vector<std::u16string> expected = args;
  std::u16string again;
  if (args[0].find(u'"') == std::u16string::npos) {
    again = u"\"" + args[0] + u"\"";
  } else {
    again = u"p";
    expected[0] = u"p";
  }
  for (std::size_t i = 1; i < args.size(); ++i) again += u" " + quote(args[i]);
  std::vector<std::u16string> back;
  const int back_count = split(again, static_cast<int>(again.size()), static_cast<int>(again.size()) / 2 + 1, back);
  require(back_count >= 1 && back == expected, "quoted arguments do not split back to themselves");
  return 0;
}
