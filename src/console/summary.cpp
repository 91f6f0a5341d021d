#include "console/summary.h"

#include <cstring>

#include "console/texts.h"

namespace fcloak::console {

namespace {

// A line built piece by piece; `length` becomes -1 once a piece does not fit.
struct Line {
  char* out;
  int capacity;
  int length;

  void add(Text t) {
    if (length < 0 || t.length > capacity - length) {
      length = -1;
      return;
    }
    std::memcpy(out + length, t.bytes, static_cast<std::size_t>(t.length));
    length += t.length;
  }

  void add(int number) {
    char digits[12];
    int n = 0;
    unsigned value = number < 0 ? 0u - static_cast<unsigned>(number) : static_cast<unsigned>(number);
    do {
      digits[sizeof digits - 1 - n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    if (number < 0) digits[sizeof digits - 1 - n++] = '-';
    add(Text(digits + sizeof digits - n, n));
  }
};

}  // namespace

int file_line(int number, int total, Text name, char* out, int capacity) {
  Line line{out, capacity, 0};
  line.add("[");
  line.add(number);
  if (total > 0) {
    line.add("/");
    line.add(total);
  }
  line.add("] ");
  line.add(name);
  return line.length;
}

int summary_line(Action action, const Tally& tally, char* out, int capacity) {
  Line line{out, capacity, 0};
  line.add(action == Action::kEncrypted   ? texts::kSummaryEncrypted
           : action == Action::kDecrypted ? texts::kSummaryDecrypted
           : action == Action::kChanged   ? texts::kSummaryChanged
                                          : texts::kSummaryTested);
  line.add(tally.done);
  line.add(texts::kSummaryFiles);
  line.add(tally.skipped);
  line.add(texts::kSummarySkipped);
  line.add(tally.failed);
  line.add(texts::kSummaryFailed);
  return line.length;
}

int count_line(int files, char* out, int capacity) {
  Line line{out, capacity, 0};
  line.add(texts::kCountLead);
  line.add(files);
  line.add(texts::kCountTail);
  return line.length;
}

int remaining_line(int remaining, char* out, int capacity) {
  Line line{out, capacity, 0};
  if (remaining < 0) {
    line.add(texts::kRemainingUnknown);
  } else {
    line.add(texts::kRemainingLead);
    line.add(remaining);
    line.add(texts::kRemainingTail);
  }
  return line.length;
}

}  // namespace fcloak::console
