#include "run/desktop.h"

#include <cstring>

#include "console/console.h"
#include "console/texts.h"
#include "files/menu.h"

namespace fcloak::run {

namespace {

menu::Report report;
char line[256 + menu::kWhereSize];
int line_length = 0;

void add(Text text) {
  std::memcpy(line + line_length, text.bytes, static_cast<std::size_t>(text.length));
  line_length += text.length;
}

// The error code: decimal for a Windows error, hexadecimal for an HRESULT.
void add_error(unsigned long error) {
  char digits[16];
  int n = 0;
  const bool hex = error > 0xFFFF;
  const unsigned long base = hex ? 16 : 10;
  do {
    digits[n++] = "0123456789ABCDEF"[error % base];
    error /= base;
  } while (error != 0);
  add(texts::kMenuErrorLead);
  if (hex) add(Text("0x"));
  while (n > 0) add(Text(&digits[--n], 1));
  add(texts::kMenuErrorTail);
}

Text outcome_text(menu::Outcome outcome, bool install) {
  switch (outcome) {
    case menu::Outcome::kAdded: return texts::kMenuAdded;
    case menu::Outcome::kUpdated: return texts::kMenuUpdated;
    case menu::Outcome::kUnchanged: return texts::kMenuUnchanged;
    case menu::Outcome::kRemoved: return texts::kMenuRemoved;
    case menu::Outcome::kAbsent: return texts::kMenuAbsent;
    case menu::Outcome::kForeign: return texts::kMenuForeign;
    case menu::Outcome::kFailed: break;
  }
  return install ? texts::kMenuNotAdded : texts::kMenuNotRemoved;
}

Text entry_text(menu::Entry entry) {
  switch (entry) {
    case menu::Entry::kSendTo: return texts::kMenuSendTo;
    case menu::Entry::kFiles: return texts::kMenuFiles;
    case menu::Entry::kFolderEncrypt: return texts::kMenuFolderEncrypt;
    case menu::Entry::kFolderDecrypt: break;
  }
  return texts::kMenuFolderDecrypt;
}

void write_line(Text text) {
  console::write_lines(text);
  console::write_lines(Text("\n"));
}

}  // namespace

int desktop_menus(bool install) {
  if (install) {
    menu::install(report);
  } else {
    menu::uninstall(report);
  }
  if (report.result == menu::Result::kNotThisPlatform) {
    write_line(texts::kMenuWindowsOnly);
    return console::kExitUsage;
  }
  bool all_done = true;
  for (const menu::Step& step : report.steps) {
    // Something that is not ours keeps an install from its entry; a removal
    // that leaves it has done what it should.
    if (step.outcome == menu::Outcome::kFailed || (install && step.outcome == menu::Outcome::kForeign)) all_done = false;
    line_length = 0;
    add(outcome_text(step.outcome, install));
    add(entry_text(step.entry));
    if (step.where_length > 0) {
      add(Text(": "));
      add(Text(step.where, step.where_length));
    }
    if (step.outcome == menu::Outcome::kFailed) add_error(step.error);
    write_line(Text(line, line_length));
  }
  if (install && all_done) write_line(texts::kMenuInstalled);
  return all_done ? console::kExitDone : console::kExitRefused;
}

}  // namespace fcloak::run
