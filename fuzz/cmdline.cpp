// The Windows command line split into arguments, on any bytes, and the
// options read from those arguments.
//
// Input: two bytes that choose a storage size and an argument limit for a
// second, constrained split, then the command line.
//
// Checked besides the sanitizers' findings (storage and the two arrays are
// allocated at exactly the sizes the function is given):
// - with storage as large as the line and room for length / 2 + 1
//   arguments, the limits the Windows build uses, every line splits;
// - the arguments lie one after the other from the start of storage, and
//   together take no more bytes than the line;
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

bool is_lead_byte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Splits with storage and slots of exactly these sizes; -1 or the arguments.
int split(const std::string& line, int capacity, int max_args, std::vector<std::string>& args) {
  // Heap blocks of exactly the sizes given (none for 0), so that
  // AddressSanitizer sees any access past them.
  std::unique_ptr<char[]> storage(new char[static_cast<std::size_t>(capacity)]);
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

// Whether the argument, scanned from its start as the split scans it, ends
// with a lead byte that has no second byte: quoting cannot keep that one.
bool ends_in_half_character(const std::string& arg) {
  std::size_t i = 0;
  while (i < arg.size()) {
    if (is_lead_byte(static_cast<unsigned char>(arg[i]))) {
      if (i + 1 == arg.size()) return true;
      i += 2;
    } else {
      ++i;
    }
  }
  return false;
}

// The argument in double quotes, with backslashes and quotes escaped so that
// the split gives it back; a double-byte character is copied whole.
std::string quote(const std::string& arg) {
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (std::size_t i = 0; i < arg.size(); ++i) {
    const char c = arg[i];
    if (is_lead_byte(static_cast<unsigned char>(c)) && i + 1 < arg.size()) {
      out.append(backslashes, '\\');
      backslashes = 0;
      out += c;
      out += arg[++i];
    } else if (c == '\\') {
      ++backslashes;
    } else if (c == '"') {
      out.append(2 * backslashes + 1, '\\');
      backslashes = 0;
      out += c;
    } else {
      out.append(backslashes, '\\');
      backslashes = 0;
      out += c;
    }
  }
  // Doubled before the closing quote, so that they stay backslashes.
  out.append(2 * backslashes, '\\');
  return out + "\"";
}

bool option_like(const std::string& arg) { return arg.size() >= 2 && arg[0] == '-'; }

// An option that is skipped before the file name: "--stdout", or "-" and
// one or more "c".
bool stdout_option(const std::string& arg) {
  if (arg == "--stdout") return true;
  return option_like(arg) && arg.find_first_not_of('c', 1) == std::string::npos;
}

// The options read from the split arguments.
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
  const std::string line(reinterpret_cast<const char*>(data) + 2, size - 2);
  const int length = static_cast<int>(line.size());

  std::vector<std::string> args;
  const int count = split(line, length, length / 2 + 1, args);
  require(count >= 1, "a line within the Windows limits does not split");
  std::size_t used = 0;
  for (const std::string& a : args) used += a.size();
  require(used <= line.size(), "the arguments take more bytes than the line");
  check_options(args);

  // Less room: the same arguments or a failure, and no failure when they fit.
  const int capacity = length == 0 ? 0 : data[0] % (length + 1);
  const int max_args = 1 + data[1] % (count + 1);
  std::vector<std::string> constrained;
  const int constrained_count = split(line, capacity, max_args, constrained);
  if (constrained_count >= 0) {
    require(constrained == args, "a smaller split gives other arguments");
  } else {
    require(static_cast<int>(used) > capacity || count > max_args, "a split fails though its arguments fit");
  }

  // Quoted again: argument 0 in plain quotes (it has no escapes), the others
  // with escapes.
  for (const std::string& a : args) {
    if (ends_in_half_character(a)) return 0;
  }
  std::vector<std::string> expected = args;
  std::string again;
  if (args[0].find('"') == std::string::npos) {
    again = "\"" + args[0] + "\"";
  } else {
    again = "p";
    expected[0] = "p";
  }
  for (std::size_t i = 1; i < args.size(); ++i) again += " " + quote(args[i]);
  std::vector<std::string> back;
  const int back_count = split(again, static_cast<int>(again.size()), static_cast<int>(again.size()) / 2 + 1, back);
  require(back_count >= 1 && back == expected, "quoted arguments do not split back to themselves");
  return 0;
}
