// Storage that holds a secret (the password, the key, what is derived from
// them): locked into memory where the system allows, so that it is never
// written to swap, and wiped so that nothing the compiler can drop is left of
// it once the run no longer needs it, and at every ending.
//
// wipe, lock and no_core_dumps are the platform's (secret-posix.cpp,
// secret-win32.cpp); the list of kept storage is the same everywhere.
#pragma once

#include <cstddef>

namespace fcloak::secret {

// Overwrites n bytes with zeros; the compiler cannot drop it as a store that
// is never read.
void wipe(void* bytes, std::size_t n);

// Locks the pages that hold n bytes into memory. A refusal (a limit, a
// system without the call) is no error: the storage is then only wiped.
void lock(void* bytes, std::size_t n);

// Tells the system that no core dump is to be written for this process and
// that no other process of the user may read its memory (Linux). Where the
// system has no such setting, nothing.
void no_core_dumps();

// Locks the storage and keeps it on the list that wipe_all wipes. The same
// storage kept again is listed once. Beyond the room of the list, storage is
// only locked (the list has room for every secret the program keeps).
void keep(void* bytes, std::size_t n);

// Wipes all kept storage, the keystream tables and the generator's state.
void wipe_all();

// Forgets the kept storage; for tests.
void reset_for_test();

}  // namespace fcloak::secret
