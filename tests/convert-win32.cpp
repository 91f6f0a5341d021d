#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "convert.h"

namespace fcloak::test {

namespace {

// The code page of a character set; 0 for UTF-16LE, the system's own.
bool code_page_of(const char* name, UINT& code_page) {
  if (std::strcmp(name, "UTF-16LE") == 0) {
    code_page = 0;
  } else if (std::strcmp(name, "UTF-8") == 0) {
    code_page = CP_UTF8;
  } else if (std::strcmp(name, "GBK") == 0) {
    code_page = 936;
  } else {
    ADD_FAILURE() << "no code page for " << name;
    return false;
  }
  return true;
}

// Flags that make a conversion fail on what it cannot convert.
DWORD strict(UINT code_page) { return code_page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0; }

}  // namespace

std::string convert(const char* to, const char* from, const std::string& in) {
  UINT to_page = 0;
  UINT from_page = 0;
  if (!code_page_of(to, to_page) || !code_page_of(from, from_page)) return {};
  std::wstring units;
  if (from_page == 0) {
    units.assign(in.size() / 2, L'\0');
    std::memcpy(units.data(), in.data(), units.size() * 2);
  } else if (!in.empty()) {
    units.assign(in.size(), L'\0');
    const int n = MultiByteToWideChar(from_page, strict(from_page), in.data(), static_cast<int>(in.size()),
                                      units.data(), static_cast<int>(units.size()));
    if (n <= 0) ADD_FAILURE() << "no UTF-16 form for a text in " << from;
    units.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  if (to_page == 0) return std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2);
  if (units.empty()) return {};
  std::string out(units.size() * 4, '\0');
  BOOL lost = FALSE;
  // UTF-8 takes no default character; GBK reports one that stood in.
  const int n = WideCharToMultiByte(to_page, to_page == CP_UTF8 ? WC_ERR_INVALID_CHARS : 0, units.data(),
                                    static_cast<int>(units.size()), out.data(), static_cast<int>(out.size()),
                                    nullptr, to_page == CP_UTF8 ? nullptr : &lost);
  if (n <= 0 || lost) ADD_FAILURE() << "no " << to << " form for a text in " << from;
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

}  // namespace fcloak::test
