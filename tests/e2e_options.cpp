// End-to-end cases: help, version, unknown options and names that look
// like options.
#include "e2e_cases.h"

namespace e2e {
namespace {

const std::string kVersionText = "fcloak " FCLOAK_VERSION
                                 "<nl>Copyright (c) 2026 the fcloak developers<nl>"
                                 u8"许可证: MIT. 本软件可自由使用、复制、修改和分发, 不提供任何担保.<nl>"_t;
const std::string kMenusOnWindows = u8"--install-menu 和 --uninstall-menu 只能在Windows上使用.<nl>"_t;
const std::vector<std::string> kHelpHolds = {
    u8"用法: fcloak [选项] 文件名 [密码 [+|-]]<nl>"_t, "<nl>  -c, --stdout ", "<nl>  -h, --help ",
    "<nl>  -e, --encrypt ", "<nl>  -d, --decrypt ", "<nl>  -t, --test ", "<nl>  -r, --recursive ",
    "<nl>  -V, --version ", "<nl>  -- ", u8"<nl>退出状态: 0 "_t};

}  // namespace

std::vector<Case> option_cases() {
  return {
      // Options before the file name. Help and version are lines for
      // scripts, on standard output, with no banner.
      {.name = "help",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {"--help"}, .out_holds = kHelpHolds},
                {.args = {"-h", kPlainName, "pw", "+"}, .out_holds = kHelpHolds},
                {.args = {"-c", "--help"}, .out_holds = kHelpHolds}}},
      {.name = "version",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {"--version"}, .out = kVersionText},
                {.args = {"-V", kPlainName, "pw", "+"}, .out = kVersionText}}},
      {.name = "unknown_options",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {"-q", kPlainName, "pw", "+"}, .out = usage(), .status = 2},
                {.args = {"--stdou", kPlainName, "pw"}, .out = usage(), .status = 2},
                {.args = {"--help=all"}, .out = usage(), .status = 2}}},
      // After the file name nothing is an option; a name starting with "-"
      // is given after "--" or as "./-x"; "-" names a file as it always did.
      {.name = "names_that_look_like_options",
       .setup =
           [](const Dir& d) {
             d.file("-x", pattern(3000));
             d.file("-", pattern(2000));
             d.file("--help", pattern(1000));
           },
       .runs = {{.args = {"--", "-x", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"./-x", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted, .target = "-x"},
                {.args = {"-", "-c", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"-", "-c", "-"}, .out = decrypting(), .effect = Effect::kDecrypted},
                {.args = {"--", "--help", "--version", "+"}, .out = encrypting(), .effect = Effect::kEncrypted}}},
      // The desktop menus are Windows' own; nothing is written or looked at.
      {.name = "menus_only_on_windows",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {"--install-menu"}, .out = kMenusOnWindows, .status = 2},
                {.args = {"--uninstall-menu"}, .out = kMenusOnWindows, .status = 2}},
       .native_only = true},
  };
}

}  // namespace e2e
