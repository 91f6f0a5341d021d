// The menus' commands, and what the removal takes to be its own: a key that
// another program (or the user) made under the same name must be left.
#include <gtest/gtest.h>

#include <string>

#include "files/menu.h"

namespace fcloak::menu {
namespace {

const Verb& verb_of(Entry entry) {
  for (const Verb& verb : kVerb) {
    if (verb.entry == entry) return verb;
  }
  ADD_FAILURE() << "no verb";
  return kVerb[0];
}

std::u16string command_for(const std::u16string& program, const Verb& verb, int capacity = 512) {
  char16_t out[512];
  const int n = command_line(program.data(), static_cast<int>(program.size()), verb, out, capacity);
  return n < 0 ? u"<refused>" : std::u16string(out, static_cast<std::size_t>(n));
}

TEST(MenuTest, CommandsQuoteTheProgramAndPassTheItem) {
  const std::u16string program = u"C:\\Program Files\\工具\\fcloak.exe";
  EXPECT_EQ(command_for(program, verb_of(Entry::kFiles)), u"\"C:\\Program Files\\工具\\fcloak.exe\" \"%1\"");
  EXPECT_EQ(command_for(program, verb_of(Entry::kFolderEncrypt)),
            u"\"C:\\Program Files\\工具\\fcloak.exe\" -e -r \"%1\"");
  EXPECT_EQ(command_for(program, verb_of(Entry::kFolderDecrypt)),
            u"\"C:\\Program Files\\工具\\fcloak.exe\" -d -r \"%1\"");
  // A quote cannot stand in a path, and would end the quoted program early.
  EXPECT_EQ(command_for(u"C:\\a\"b.exe", verb_of(Entry::kFiles)), u"<refused>");
  // The command and its NUL in exactly the capacity, and one unit short.
  EXPECT_EQ(command_for(u"C:\\f.exe", verb_of(Entry::kFiles), 16), u"\"C:\\f.exe\" \"%1\"");
  EXPECT_EQ(command_for(u"C:\\f.exe", verb_of(Entry::kFiles), 15), u"<refused>");
}

TEST(MenuTest, EveryVerbKnowsItsOwnCommandForAnyProgramPath) {
  for (const Verb& verb : kVerb) {
    for (const std::u16string program : {u"C:\\fcloak.exe", u"D:\\移动后\\fcloak-32.exe"}) {
      const std::u16string command = command_for(program, verb);
      const std::u16string text = verb.text;
      EXPECT_TRUE(is_ours(verb, text.data(), static_cast<int>(text.size()), command.data(),
                          static_cast<int>(command.size())));
    }
  }
}

struct Held {
  const char16_t* text;     // nullptr: the key has no text
  const char16_t* command;  // nullptr: no command
  bool ours;
};

TEST(MenuTest, OnlyOurTextWithACommandOfOurFormIsOurs) {
  const Verb& files = verb_of(Entry::kFiles);
  const Held cases[] = {
      {u"用 fcloak 加密/解密", u"\"E:\\old\\fcloak.exe\" \"%1\"", true},
      // The folder verb's arguments under the files' verb.
      {u"用 fcloak 加密/解密", u"\"E:\\old\\fcloak.exe\" -e -r \"%1\"", false},
      {u"用 fcloak 加密/解密", u"\"E:\\old\\fcloak.exe\" \"%1\" /extra", false},
      {u"用 fcloak 加密/解密", u"\"E:\\old\\fcloak.exe\"", false},
      {u"用 fcloak 加密/解密", u"E:\\old\\fcloak.exe \"%1\"", false},
      {u"用 fcloak 加密/解密", u"\"\" \"%1\"", false},
      {u"用 fcloak 加密/解密", u"\"E:\\old\\fcloak.exe \"%1\"", false},
      {u"用 fcloak 加密/解密", u"", false},
      {u"用 fcloak 加密/解密", nullptr, false},
      {u"Encrypt with fcloak", u"\"E:\\old\\fcloak.exe\" \"%1\"", false},
      {u"用 fcloak 加密/解密 ", u"\"E:\\old\\fcloak.exe\" \"%1\"", false},
      {nullptr, u"\"E:\\old\\fcloak.exe\" \"%1\"", false},
      {nullptr, nullptr, false},
  };
  for (const Held& held : cases) {
    const std::u16string text = held.text != nullptr ? held.text : u"";
    const std::u16string command = held.command != nullptr ? held.command : u"";
    EXPECT_EQ(is_ours(files, text.data(), held.text != nullptr ? static_cast<int>(text.size()) : -1, command.data(),
                      held.command != nullptr ? static_cast<int>(command.size()) : -1),
              held.ours)
        << std::string(command.begin(), command.end());
  }
}

}  // namespace
}  // namespace fcloak::menu
