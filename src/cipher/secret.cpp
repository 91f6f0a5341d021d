#include "cipher/secret.h"

#include "cipher/generator.h"
#include "cipher/tables.h"

namespace fcloak::secret {

namespace {

struct Kept {
  void* bytes;
  std::size_t n;
};

// The password, its line, the program's copies and a key for each file in
// flight (64 at most).
constexpr int kRoom = 96;
Kept kept[kRoom];
int kept_count = 0;

}  // namespace

void keep(void* bytes, std::size_t n) {
  for (int i = 0; i < kept_count; ++i) {
    if (kept[i].bytes == bytes && kept[i].n == n) return;
  }
  lock(bytes, n);
  if (kept_count < kRoom) kept[kept_count++] = Kept{bytes, n};
}

void wipe_all() {
  for (int i = 0; i < kept_count; ++i) wipe(kept[i].bytes, kept[i].n);
  wipe(cipher::table_sets, sizeof cipher::table_sets);
  cipher::seed_generator(1);
}

void reset_for_test() { kept_count = 0; }

}  // namespace fcloak::secret
