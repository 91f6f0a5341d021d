// The lines of a run over many files, composed in GBK: the line before each
// file, the count before the question, the summary at the end and what an
// interrupt or a stop leaves undone. Each function writes into out
// (capacity bytes) and returns the length, or -1 when the line does not fit
// (out is then left unfinished).
#pragma once

#include "console/text.h"

namespace fcloak::console {

// What the run did to the files it did not skip or fail.
enum class Action {
  kEncrypted,
  kDecrypted,
  kTested,
  kChanged,  // -x: the password changed
};

struct Tally {
  int done;
  int skipped;
  int failed;
};

// "[3/120] docs/a.doc": the file's number, the count when it is known
// (total > 0), and the name as given; "[3] docs/a.doc" when the count is not
// known (a walk still going).
int file_line(int number, int total, Text name, char* out, int capacity);

// "加密 118 个文件, 跳过 1 个, 失败 1 个." and its decrypted and checked forms.
int summary_line(Action action, const Tally& tally, char* out, int capacity);

// "共 5 个文件".
int count_line(int files, char* out, int capacity);

// What an interrupt or a stop left undone: "还有 117 个文件未处理." when the
// count is known (remaining >= 0), else "其余的文件未处理.".
int remaining_line(int remaining, char* out, int capacity);

}  // namespace fcloak::console
