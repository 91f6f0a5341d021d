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
//   (or is "-") is read as the command line of old, with no option; the
//   request, the mode, -r, the file of -k (inside the argument that holds
//   it) and the first operand are those of a plain reading by the options'
//   names, with its rules of what goes together; the first operand is no
//   option unless "--" came before it; help, version or a bad option is
//   decided by an argument that holds it; the operands are numbered 1, 2,
//   ... from the first on.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "files/args.h"
#include "files/cmdline.h"
#include "files/options.h"

namespace {

using fcloak::files::Mode;
using fcloak::files::Request;

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

// The options as a reader that knows only their names would take them, to
// hold the parser's results against: each short letter and long name, what
// the mode becomes, whether two modes met, where the first operand stands.
struct Expected {
  Request request = Request::kRun;
  Mode mode = Mode::kSingle;
  bool clash = false;
  bool recursive = false;
  bool has_file = false;
  std::string file;
  int first = 1;
};

void take_mode(Expected& e, Mode mode) {
  if (e.mode != Mode::kSingle && e.mode != mode) e.clash = true;
  e.mode = mode;
}

Expected expect(const std::vector<std::string>& args) {
  static const std::pair<const char*, Mode> kLong[] = {
      {"--stdout", Mode::kStdout},   {"--encrypt", Mode::kEncrypt},
      {"--decrypt", Mode::kDecrypt}, {"--test", Mode::kTest},
      {"--change-password", Mode::kChangePassword}, {"--restore", Mode::kRestore},
      {"--install-menu", Mode::kInstallMenu},       {"--uninstall-menu", Mode::kUninstallMenu}};
  static const std::string kShortModes = "cedtx";
  static const Mode kShortMode[] = {Mode::kStdout, Mode::kEncrypt, Mode::kDecrypt, Mode::kTest, Mode::kChangePassword};
  Expected e;
  const int count = static_cast<int>(args.size());
  int n = 1;
  auto decide = [&](Request r) {
    e.request = r;
    e.first = n;
    return e;
  };
  for (; n < count; ++n) {
    const std::string& a = args[static_cast<std::size_t>(n)];
    if (!option_like(a)) break;
    if (a == "--") {
      ++n;
      break;
    }
    if (a[1] == '-') {
      if (a == "--help") return decide(Request::kHelp);
      if (a == "--version") return decide(Request::kVersion);
      if (a == "--recursive") {
        e.recursive = true;
      } else if (a == "--password-file") {
        if (n + 1 >= count) return decide(Request::kBadOption);
        e.has_file = true;
        e.file = args[static_cast<std::size_t>(++n)];
      } else if (a.rfind("--password-file=", 0) == 0) {
        e.has_file = true;
        e.file = a.substr(16);
      } else {
        bool known = false;
        for (const auto& [name, mode] : kLong) {
          if (a == name) {
            take_mode(e, mode);
            known = true;
          }
        }
        if (!known) return decide(Request::kBadOption);
      }
      continue;
    }
    for (std::size_t i = 1; i < a.size(); ++i) {
      const char c = a[i];
      if (c == 'h') return decide(Request::kHelp);
      if (c == 'V') return decide(Request::kVersion);
      if (c == 'r') {
        e.recursive = true;
      } else if (c == 'k') {
        if (i + 1 < a.size()) {
          e.file = a.substr(i + 1);
        } else if (n + 1 < count) {
          e.file = args[static_cast<std::size_t>(++n)];
        } else {
          return decide(Request::kBadOption);
        }
        e.has_file = true;
        break;
      } else if (const std::size_t k = kShortModes.find(c); k != std::string::npos) {
        take_mode(e, kShortMode[k]);
      } else {
        return decide(Request::kBadOption);
      }
    }
  }
  e.first = n;
  const int operands = count > n ? count - n : 0;
  const bool walks = e.mode == Mode::kEncrypt || e.mode == Mode::kDecrypt || e.mode == Mode::kTest;
  bool fits = !e.clash && (!e.recursive || walks) && !(e.has_file && e.file.empty());
  if (walks || e.mode == Mode::kChangePassword) fits = fits && operands >= 1;
  if (e.mode == Mode::kRestore) fits = fits && (operands == 1 || operands == 2);
  if (e.mode == Mode::kInstallMenu || e.mode == Mode::kUninstallMenu) fits = fits && operands == 0 && !e.has_file;
  if (!fits) e.request = Request::kMisused;
  return e;
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
  const int first = options.first_operand;
  require(first >= 1, "the first operand before argument 1");

  if (count < 2 || !option_like(args[1])) {
    require(options.request == Request::kRun && options.mode == Mode::kSingle && !options.recursive &&
                options.password_file.length == -1 && first == 1,
            "a command line without options is not read as of old");
  }

  const Expected e = expect(args);
  require(options.request == e.request, "another request");
  require(options.mode == e.mode, "another mode");
  require(options.recursive == e.recursive, "-r seen or not seen");
  require(options.to_stdout == (options.mode == Mode::kStdout), "-c and the mode disagree");
  require(first == e.first, "the first operand elsewhere");
  if (!e.has_file) {
    require(options.password_file.length == -1, "a password file that was not given");
  } else {
    // The file's bytes lie in the argument that holds them.
    const fcloak::Text f = options.password_file;
    require(f.length == static_cast<int>(e.file.size()) &&
                std::string(f.bytes, static_cast<std::size_t>(f.length)) == e.file,
            "another password file");
    bool inside = false;
    for (int i = 1; i < count; ++i) {
      const char* b = bytes[static_cast<std::size_t>(i)];
      inside = inside || (f.bytes >= b && f.bytes + f.length <= b + lengths[static_cast<std::size_t>(i)]);
    }
    require(inside, "the password file outside the arguments");
  }
  if (options.request != Request::kRun) {
    if (options.request == Request::kMisused) return;
    require(first < count, "a request decided by an argument that is not there");
    require(option_like(args[static_cast<std::size_t>(first)]), "a request decided by an operand");
    return;
  }
  const bool ended = first >= 2 && args[static_cast<std::size_t>(first - 1)] == "--";
  if (first < count && !ended) require(!option_like(args[static_cast<std::size_t>(first)]), "an option taken for the first operand");

  // The operands, numbered from the first on; argument 0 stays.
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
