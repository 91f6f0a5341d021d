#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <cstdint>
#include <cstring>

#include "cipher/secret.h"

namespace fcloak::secret {

void wipe(void* bytes, std::size_t n) { explicit_bzero(bytes, n); }

void lock(void* bytes, std::size_t n) {
  if (n == 0) return;
  const long page = sysconf(_SC_PAGESIZE);
  const std::uintptr_t size = page > 0 ? static_cast<std::uintptr_t>(page) : 4096;
  const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(bytes) & ~(size - 1);
  const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(bytes) + n;
  [[maybe_unused]] const int refused = mlock(reinterpret_cast<void*>(from), to - from);
}

void no_core_dumps() {
  const rlimit none{0, 0};
  setrlimit(RLIMIT_CORE, &none);
#if defined(__linux__)
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

}  // namespace fcloak::secret
