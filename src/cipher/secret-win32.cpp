#include <windows.h>

#include "cipher/secret.h"

namespace fcloak::secret {

void wipe(void* bytes, std::size_t n) { SecureZeroMemory(bytes, n); }

// VirtualLock takes whole pages, as the addresses given fall.
void lock(void* bytes, std::size_t n) {
  if (n > 0) VirtualLock(bytes, n);
}

// Windows writes no core file of its own; a crash report is the user's
// setting (Windows Error Reporting), not the program's.
void no_core_dumps() {}

}  // namespace fcloak::secret
