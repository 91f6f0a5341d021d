#include "support/texts.h"

#include <iconv.h>

namespace e2e {

std::string gbk(std::string_view utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "iconv cannot convert UTF-8 to GBK";
    return std::string(utf8);
  }
  std::string out(utf8.size() * 2 + 1, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* dst = out.data();
  std::size_t dst_left = out.size();
  if (iconv(cd, &in, &in_left, &dst, &dst_left) == static_cast<std::size_t>(-1)) {
    ADD_FAILURE() << "no GBK form for: " << utf8;
  }
  iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

std::string show(std::string_view bytes) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  std::string out;
  std::size_t i = 0;
  auto escape = [&out](unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  };
  while (i < bytes.size()) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x20 || c == 0x7F) {
      escape(c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    char utf8[8];
    char* in = const_cast<char*>(bytes.data() + i);
    std::size_t in_left = i + 1 < bytes.size() ? 2 : 1;
    char* dst = utf8;
    std::size_t dst_left = sizeof utf8;
    if (cd != reinterpret_cast<iconv_t>(-1) &&
        iconv(cd, &in, &in_left, &dst, &dst_left) != static_cast<std::size_t>(-1) && in_left == 0) {
      out.append(utf8, sizeof utf8 - dst_left);
      i += 2;
    } else {
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
      escape(c);
      ++i;
    }
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return out;
}

std::string first_difference(const std::string& expected, const std::string& actual) {
  std::size_t i = 0;
  while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) ++i;
  if (i == expected.size() && i == actual.size()) return "none";
  return "at byte " + std::to_string(i) + ": expected \"" + show(expected.substr(i, 40)) + "\", actual \"" +
         show(actual.substr(i, 40)) + "\"";
}

::testing::AssertionResult same_bytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\nexpected: \"" << show(expected) << "\"\nactual:   \"" << show(actual)
                                       << "\"\nfirst difference " << first_difference(expected, actual);
}

std::string progress_line(const std::string& label, const char* percent, const char* minutes, const char* seconds) {
  return label + " " + percent + " %    " + u8"还剩余"_t + " " + minutes + " " + u8"分"_t + "  " + seconds + " " +
         u8"秒"_t + " ";
}

std::string mask_progress(std::string out) {
  static const std::string labels[] = {gbk(kLabelEncrypt), gbk(kLabelDecrypt), gbk(kLabelCopy)};
  constexpr std::size_t kPercent = 9, kMinutes = 25, kSeconds = 32;
  for (std::size_t i = 0; i + kProgressLine <= out.size(); ++i) {
    if (i > 0 && out[i - 1] != '\r' && out[i - 1] != '\n') continue;
    bool labelled = false;
    for (const std::string& label : labels) labelled = labelled || out.compare(i, label.size(), label) == 0;
    if (!labelled) continue;
    const std::string percent = out.substr(i + kPercent, 3);
    if (percent == "100") continue;
    if (percent != "  0") out.replace(i + kMinutes, 2, "##");
    out.replace(i + kSeconds, 2, "##");
  }
  return out;
}

}  // namespace e2e
