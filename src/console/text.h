// A byte string of known length: a fixed text of the program or a field of
// run-wide storage. Texts are GBK bytes and are never NUL-terminated for use.
#pragma once

namespace fcloak {

struct Text {
  const char* bytes;
  int length;

  constexpr Text(const char* b, int n) : bytes(b), length(n) {}
  template <int N>
  constexpr Text(const char (&literal)[N]) : bytes(literal), length(N - 1) {}
};

}  // namespace fcloak
