#include "files/menu.h"

namespace fcloak::menu {

const Verb kVerb[kVerbs] = {
    {Entry::kFiles, u"*\\shell\\fcloak", u"用 fcloak 加密/解密", u" \"%1\""},
    {Entry::kFolderEncrypt, u"Directory\\shell\\fcloak.encrypt", u"用 fcloak 加密文件夹", u" -e -r \"%1\""},
    {Entry::kFolderDecrypt, u"Directory\\shell\\fcloak.decrypt", u"用 fcloak 解密文件夹", u" -d -r \"%1\""},
};

namespace {

int length_of(const char16_t* s) {
  int n = 0;
  while (s[n] != 0) ++n;
  return n;
}

bool equal(const char16_t* a, int n, const char16_t* b) {
  if (n != length_of(b)) return false;
  for (int i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

int command_line(const char16_t* program, int n, const Verb& verb, char16_t* out, int capacity) {
  const int arguments = length_of(verb.arguments);
  if (n + 2 + arguments + 1 > capacity) return -1;
  int k = 0;
  out[k++] = u'"';
  for (int i = 0; i < n; ++i) {
    if (program[i] == u'"') return -1;
    out[k++] = program[i];
  }
  out[k++] = u'"';
  for (int i = 0; i < arguments; ++i) out[k++] = verb.arguments[i];
  out[k] = 0;
  return k;
}

bool is_ours(const Verb& verb, const char16_t* text, int text_length, const char16_t* command, int command_length) {
  if (text_length < 0 || command_length < 2 || !equal(text, text_length, verb.text)) return false;
  if (command[0] != u'"') return false;
  int close = 1;
  while (close < command_length && command[close] != u'"') ++close;
  // A program path of at least one unit, then exactly the verb's arguments.
  return close > 1 && close < command_length && equal(command + close + 1, command_length - close - 1, verb.arguments);
}

}  // namespace fcloak::menu
