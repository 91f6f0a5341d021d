// End-to-end cases: names of every length and byte, arguments longer than
// the program keeps, wildcards, links, the scratch file's names and where
// it goes.
#include "e2e_cases.h"

namespace e2e {
namespace {

// A relative name of exactly `length` bytes: directories of 120-byte names,
// then the file, so that the first 259 and the first 500 bytes end inside a
// name and name other files of the same directories.
std::string long_name(std::size_t length) {
  std::string name;
  for (char level = 'a'; name.size() + 121 + 1 <= length; ++level) {
    name += std::string(120, level) + "/";
    if (level == 'z') level = 'a' - 1;
  }
  return name + std::string(length - name.size(), 'f');
}


// A file named by a name of `length` bytes, with the files that its first
// 259 and 500 bytes name beside it (when those differ from the name). Names
// that can be created whole are created.
Case long_name_case(const char* case_name, std::size_t length, bool processed) {
  const std::string name = long_name(length);
  Step run;
  run.args = {name, "pw", "+"};
  if (processed) {
    run.out = encrypting();
    run.effect = Effect::kEncrypted;
  } else {
    run.out = refused(u8"文件名太长."_t);
    run.status = 1;
  }
  return Case{
      .name = case_name,
      .setup =
          [name](const Dir& d) {
            if (name.size() < 4000) d.file(name, "the named file\n");
            for (std::size_t cut : {std::size_t{259}, std::size_t{500}}) {
              if (cut < name.size()) d.file(name.substr(0, cut), "a bystander\n");
            }
          },
      .runs = {run},
      .native_only = true,
  };
}

// Encrypted and decrypted again under a name that the command line gives
// as it is on the disk, in a locale.
Case named_round_trip(const char* case_name, const std::string& name, const std::string& locale = "C") {
  return Case{
      .name = case_name,
      .setup = one_file(name, pattern(3000)),
      .runs = {{.args = {name, "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted, .locale = locale},
               {.args = {name, "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted, .locale = locale}},
      .native_only = true,
  };
}

}  // namespace

std::vector<Case> name_cases() {
  return {
      // Names: the look-up, the open and the time restore act on the one
      // file named; longer names than the program takes are refused.
      long_name_case("name_259", 259, true),
      long_name_case("name_260", 260, true),
      long_name_case("name_499", 499, true),
      long_name_case("name_500", 500, true),
      long_name_case("name_501", 501, false),
      long_name_case("name_40000", 40000, false),

      // Arguments 2 and 3 longer than anything the program keeps: 16 bytes
      // of the password count, and the first byte of the sign.
      {.name = "long_password_and_sign",
       .setup = one_file("data.bin", pattern(1000)),
       .runs = {{.args = {"data.bin", "0123456789abcdef" + std::string(39984, 'z'), std::string("+").append(40000, '-')},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted},
                {.args = {"data.bin", "0123456789abcdef" + std::string(485, 'y'), std::string("-").append(498, '+')},
                 .out = decrypting(),
                 .effect = Effect::kDecrypted}},
       .native_only = true},

      // Names are taken byte for byte: blanks, tabs, line feeds, leading and
      // trailing blanks, wildcard characters, bytes that are no UTF-8, GBK.
      named_round_trip("name_with_blanks_and_a_tab", "two words\tand a tab.txt"),
      named_round_trip("name_with_a_line_feed", "first line\nsecond line.txt"),
      named_round_trip("name_with_leading_and_trailing_blanks", "  both ends  "),
      named_round_trip("name_not_utf8", "bad\xFF\xFE\x41\xC3.bin"),
      named_round_trip("gbk_name", gbk(u8"密码嘰.txt"_t)),
      named_round_trip("gbk_name_in_a_utf8_locale", gbk(u8"密码嘰.txt"_t), "C.UTF-8"),
      named_round_trip("utf8_name_in_a_utf8_locale", u8"密码文件.txt"_t, "C.UTF-8"),
      // Blanks around a name belong to it: the file without them is another.
      {.name = "trailing_blanks_name_another_file",
       .setup =
           [](const Dir& d) {
             d.file(kPlainName, kPlainText);
             d.file(" " + kPlainName, kPlainText);
           },
       .runs = {{.args = {kPlainName + "  ", "pw", "+"},
                 .out = kBanner + "\r\n" + kPlainName + "  " + ends_with_message(u8"文件没有找到."_t),
                 .status = 1}},
       .native_only = true},
      // A name with wildcards is looked up by them, and the first match found,
      // but only a file of that very name is opened.
      {.name = "wildcards_match_but_do_not_open",
       .setup = one_file("x.txt", kPlainText),
       .runs = {{.args = {"*.txt", "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1},
                {.args = {"?.txt", "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1}}},
      {.name = "wildcard_characters_in_existing_names",
       .setup =
           [](const Dir& d) {
             d.file("*", pattern(100));
             d.file("a?c", pattern(200));
             d.file("abc", kPlainText);
           },
       .runs = {{.args = {"*", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"a?c", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"*", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}},
       .native_only = true},

      // Links: a symbolic link's target is rewritten in place and the link
      // stays a link; a hard-linked file is rewritten in place, so every name
      // of it shows the result.
      {.name = "symbolic_link_to_a_file",
       .setup =
           [](const Dir& d) {
             d.file("real.bin", pattern(5000));
             d.symlink("real.bin", "link");
           },
       .runs = {{.args = {"link", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted, .target = "real.bin"},
                {.args = {"link", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted, .target = "real.bin"}},
       .native_only = true},
      {.name = "symbolic_link_to_a_directory",
       .setup =
           [](const Dir& d) {
             d.directory("folder");
             d.symlink("folder", "link");
           },
       .runs = {{.args = {"link", "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1}},
       .native_only = true},
      {.name = "dangling_symbolic_link",
       .setup = [](const Dir& d) { d.symlink("missing.bin", "link"); },
       .runs = {{.args = {"link", "pw", "+"},
                 .out = kBanner + "\r\nlink" + ends_with_message(u8"文件没有找到."_t),
                 .status = 1}},
       .native_only = true},
      {.name = "hard_linked_file",
       .setup =
           [](const Dir& d) {
             d.file("a.bin", pattern(3000));
             d.hard_link("a.bin", "b.bin");
           },
       .runs = {{.args = {"a.bin", "pw", "+"},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted,
                 .same_file = {"b.bin"}},
                {.args = {"b.bin", "pw", "-"},
                 .out = decrypting(),
                 .effect = Effect::kDecrypted,
                 .same_file = {"a.bin"}}},
       .native_only = true},

      // The scratch file's names, "ZZ", a letter and the process id: taken by
      // the file itself, by a file left over from an earlier run, all 26.
      {.name = "file_named_as_its_own_scratch_file",
       .setup = {},
       .runs = {{.args = {"ZZa<pid>", "pw", "+"},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted,
                 .pid_files = {{"ZZa<pid>", pattern(3000)}}}},
       .native_only = true},
      {.name = "scratch_file_left_over",
       .setup = one_file("data.bin", pattern(3000)),
       .runs = {{.args = {"data.bin", "pw", "+"},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted,
                 .pid_files = {{"ZZa<pid>", "left over from an earlier run\n"}}},
                {.args = {"data.bin", "pw", "-"},
                 .out = decrypting(),
                 .effect = Effect::kDecrypted,
                 .pid_files = {{"ZZa<pid>", "left over from an earlier run\n"}}}},
       .native_only = true},
      // Names that other runs (of other PID namespaces, say) hold are left
      // to them: after the 26 letters, other digits.
      {.name = "all_26_scratch_names_taken",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "pw", "+"},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted,
                 .pid_files = [] {
                   std::vector<std::pair<std::string, std::string>> taken;
                   for (char letter = 'a'; letter <= 'z'; ++letter) {
                     taken.push_back({std::string("ZZ") + letter + "<pid>", ""});
                   }
                   return taken;
                 }()}},
       .native_only = true},

      // The scratch file goes beside the file, wherever the current directory
      // is, also in a directory whose name GBK cannot hold or that is no
      // UTF-8: its name is built on the directory as it was given.
      {.name = "file_in_a_directory_gbk_cannot_name",
       .setup =
           [](const Dir& d) {
             d.file(u8"密码한글😀/data.bin"_t, pattern(3000));
             d.file("bad\xFF/data.bin", pattern(2000));
           },
       .runs = {{.args = {u8"<dir>/密码한글😀/data.bin"_t, "pw", "+"},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted,
                 .locale = "C.UTF-8"},
                {.args = {"<dir>/bad\xFF/data.bin", "pw", "+"},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted,
                 .locale = "C.UTF-8"}},
       .native_only = true},
      // The scratch file goes beside the file, wherever the current directory is.
      {.name = "file_in_a_subdirectory",
       .setup = one_file("sub/data.bin", pattern(3000)),
       .runs = {{.args = {"sub/data.bin", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"sub/data.bin", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}}},
      {.name = "current_directory_elsewhere",
       .setup =
           [](const Dir& d) {
             d.file("data.bin", pattern(3000));
             d.directory("work");
           },
       .runs = {{.args = {"../data.bin", "pw", "+"},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted,
                 .target = "data.bin"},
                {.args = {"../data.bin", "pw", "-"},
                 .out = decrypting(),
                 .effect = Effect::kDecrypted,
                 .target = "data.bin"}},
       .cwd = "work"},
      {.name = "current_directory_on_another_file_system",
       .setup = one_file("data.bin", pattern(70000)),
       .runs = {{.args = {"<dir>/data.bin", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"<dir>/data.bin", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}},
       .native_only = true,
       .cwd = kOtherFileSystem},
  };
}

}  // namespace e2e
