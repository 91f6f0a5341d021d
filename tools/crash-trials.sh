#!/usr/bin/env bash
# Crash trials: fcloak encrypts and decrypts a file of a few MiB and is killed
# with SIGKILL, at random moments and at chosen points of its run. After each
# kill the complete data must still exist byte for byte, in the user file or
# in the scratch file (ZZ*) that the run leaves in the directory:
#   encrypting: the original plaintext, or an encrypted file that decrypts to
#               it (the finished file, or the scratch file of pass 2);
#   decrypting: the untouched encrypted original (the file, or the scratch
#               file of pass 2), or the finished plaintext;
#   changing the password (-x): the untouched encrypted original, or a file
#               of its size that decrypts to the plaintext under the new
#               password (the finished file, or the scratch file of pass 2).
# A scratch file that holds the complete data must have its note beside it
# (ZZ*.fcloak, written before pass 2 writes the file). Then, with whatever
# the kill left in the directory still there, the file is recovered as the
# README says: with `fcloak --restore FILE` where a note and its scratch file
# are there (every other trial), or else by the scratch file's content copied
# over the file and the scratch file removed; and later runs in the same
# directory must work: they bring the file back to the plaintext and leave
# no scratch file of their own.
#
#   tools/crash-trials.sh [TRIALS]     TRIALS per direction (default 200;
#                                      a password change is a direction)
#
# The points, taken in turn: a random moment of the whole run; in pass 1,
# once a random number of bytes has gone to the scratch file; before pass 2
# (right after the scratch file has been flushed to the disk, before the user
# file is written to); right after pass 2's first write into the user file;
# mid pass 2, once a random number of bytes has been written over the user
# file; at the end of pass 2, with every byte written and the file's end set,
# right before the user file is flushed to the disk. The chosen points are
# found by a small preloaded library that watches the program's writes (write,
# and the kernel's copies sendfile and copy_file_range) and its fsync calls,
# and stops it (SIGSTOP) at the one asked for, so the point does not depend
# on how busy the machine is; at a random moment the program is stopped by the
# clock. Stopped, the point it really reached is read from the two files (the
# user file still as it was, or not; the scratch file's size), and it is
# killed with SIGKILL.
# FCLOAK_BIN names the program (default build/fcloak, built if missing).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

trials=${1:-200}
case "$trials" in
  '' | *[!0-9]*) echo "usage: tools/crash-trials.sh [TRIALS]" >&2; exit 2 ;;
esac
bin=${FCLOAK_BIN:-}
if [ -z "$bin" ]; then
  bin=$root/build/fcloak
  if [ ! -x "$bin" ]; then
    . tools/deps.sh
    fcloak_need
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DFCLOAK_WERROR=ON >/dev/null
    cmake --build build -j"$(nproc)" --target fcloak >/dev/null
  fi
fi
command -v g++ >/dev/null || { . tools/deps.sh; fcloak_need; }

work=$(mktemp -d "${TMPDIR:-/tmp}/fcloak-crash-XXXXXX")
trap 'rm -rf "$work"' EXIT

# The stop library: preloaded into the program, it stops it at the call that
# marks the point asked for (FCLOAK_STOP_AT, FCLOAK_STOP_BYTES), telling the
# user file (FCLOAK_STOP_FILE) and the scratch file (ZZ*) apart by the names
# of their descriptors.
cat >"$work/stop.cpp" <<'EOF'
#include <dlfcn.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum Kind { kOther, kUser, kScratch };

const char* env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

bool at(const char* point) { return std::strcmp(env("FCLOAK_STOP_AT"), point) == 0; }

Kind kind_of(int fd) {
  char link[64];
  char path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return kOther;
  path[n] = '\0';
  const char* base = std::strrchr(path, '/');
  base = base != nullptr ? base + 1 : path;
  if (std::strncmp(base, "ZZ", 2) == 0) return kScratch;
  return std::strcmp(base, env("FCLOAK_STOP_FILE")) == 0 ? kUser : kOther;
}

long long written[3];
bool stopped = false;

void stop() {
  if (stopped) return;
  stopped = true;
  raise(SIGSTOP);
}

template <typename F>
F real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Counts bytes that went into fd, by a write or a copy in the kernel, and
// stops the program where the point asked for has been reached.
void wrote(int fd, ssize_t done) {
  if (done <= 0) return;
  const Kind k = kind_of(fd);
  if (k == kUser && at("first2")) stop();
  if (!at("pass1") && !at("mid2")) return;
  written[k] += done;
  const long long enough = std::atoll(env("FCLOAK_STOP_BYTES"));
  if ((at("pass1") && k == kScratch && written[k] >= enough) || (at("mid2") && k == kUser && written[k] >= enough)) {
    stop();
  }
}

}  // namespace

extern "C" ssize_t write(int fd, const void* bytes, size_t n) {
  static auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
  const ssize_t done = next(fd, bytes, n);
  wrote(fd, done);
  return done;
}

extern "C" ssize_t sendfile(int out, int in, off_t* offset, size_t n) {
  static auto next = real<ssize_t (*)(int, int, off_t*, size_t)>("sendfile");
  const ssize_t done = next(out, in, offset, n);
  wrote(out, done);
  return done;
}

extern "C" ssize_t sendfile64(int out, int in, off_t* offset, size_t n) { return sendfile(out, in, offset, n); }

extern "C" ssize_t copy_file_range(int in, off_t* in_offset, int out, off_t* out_offset, size_t n, unsigned flags) {
  static auto next = real<ssize_t (*)(int, off_t*, int, off_t*, size_t, unsigned)>("copy_file_range");
  const ssize_t done = next(in, in_offset, out, out_offset, n, flags);
  wrote(out, done);
  return done;
}

extern "C" int fsync(int fd) {
  static auto next = real<int (*)(int)>("fsync");
  const Kind k = kind_of(fd);
  if (at("end2") && k == kUser) stop();
  const int result = next(fd);
  if (at("before2") && k == kScratch) stop();
  return result;
}
EOF
g++ -std=c++20 -O2 -Wall -Wextra -Werror -shared -fPIC -o "$work/stop.so" "$work/stop.cpp" -ldl

# The killer: starts fcloak (with the stop library for a chosen point),
# waits for the point or the random moment, and kills it there. It prints
# the point the program had reached.
cat >"$work/killer.cpp" <<'EOF'
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

static long long size_of(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

static std::string contents(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int main(int argc, char** argv) {
  // killer MODE PARAM LIBRARY FILE ORIGINAL SCRATCH_SIZE FINAL_SIZE -- PROGRAM ARGS...
  // (ORIGINAL: a copy of the file as the run found it)
  if (argc < 10 || std::strcmp(argv[8], "--") != 0) {
    std::fprintf(stderr, "usage: killer MODE PARAM LIBRARY FILE ORIGINAL SCRATCH FINAL -- PROGRAM ARGS...\n");
    return 2;
  }
  const std::string mode = argv[1];
  const long long param = std::atoll(argv[2]);
  const char* library = argv[3];
  const char* file = argv[4];
  const char* original = argv[5];
  const long long scratch_full = std::atoll(argv[6]);
  const long long final_size = std::atoll(argv[7]);

  const pid_t pid = fork();
  if (pid < 0) return 2;
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    if (mode != "random") {
      setenv("LD_PRELOAD", library, 1);
      setenv("FCLOAK_STOP_AT", mode.c_str(), 1);
      setenv("FCLOAK_STOP_BYTES", argv[2], 1);
      setenv("FCLOAK_STOP_FILE", file, 1);
    }
    execv(argv[9], argv + 9);
    _exit(127);
  }
  // The scratch files that exist now are not the run's.
  bool taken[26];
  char names[26][16];
  for (int l = 0; l < 26; ++l) {
    std::snprintf(names[l], sizeof names[l], "ZZ%c%05d", 'a' + l, pid % 100000);
    taken[l] = access(names[l], F_OK) == 0;
  }

  int status = 0;
  if (mode == "random") {
    timespec t{static_cast<time_t>(param / 1000000), static_cast<long>(param % 1000000) * 1000};
    nanosleep(&t, nullptr);
    kill(pid, SIGSTOP);
  }
  if (waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status)) {
    std::printf("completed\n");
    return 0;
  }
  const bool untouched = contents(file) == contents(original);
  const long long user = size_of(file);
  long long scratch = -1;
  for (int l = 0; l < 26 && scratch < 0; ++l) {
    if (!taken[l]) scratch = size_of(names[l]);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  // Pass 2 writes over the user file in place: until it is done, the file
  // keeps its old size, and only its content tells how far it has come.
  if (untouched && scratch < scratch_full) {
    std::printf("pass-1\n");
  } else if (untouched) {
    std::printf("before-pass-2\n");
  } else if (scratch >= 0 && user != final_size) {
    std::printf("mid-pass-2\n");
  } else if (scratch >= 0) {
    std::printf("end-of-pass-2\n");
  } else {
    std::printf("after-pass-2\n");
  }
  return 0;
}
EOF
g++ -std=c++20 -O2 -Wall -Wextra -Werror -o "$work/killer" "$work/killer.cpp"

# The plaintext: a few MiB, neither a multiple of the block size nor, with
# the header, a size that pass 2 passes through; plain text at its start.
size=$((4 * 1048576 + 12345))
head -c "$size" /dev/urandom >"$work/plain"
printf 'pla' | dd of="$work/plain" conv=notrunc status=none
mkdir "$work/check" "$work/t"
password=crash-trial-pw
new_password=crash-trial-new
# The password file of a password change: the current password, the new one.
printf '%s\r\n%s\r\n' "$password" "$new_password" >"$work/password-file"

# run DIR FILE SIGN [PASSWORD]: one whole run, its output discarded; its status.
run() { (cd "$1" && "$bin" "$2" "${4:-$password}" "$3" </dev/null >/dev/null 2>&1); }

cp "$work/plain" "$work/encrypted"
run "$work" encrypted + || { echo "crash-trials: cannot encrypt the sample file" >&2; exit 1; }
encrypted_size=$(stat -c %s "$work/encrypted")

# Whether FILE decrypts to the plaintext (on a copy, elsewhere), under
# PASSWORD (default: the first password).
decrypts_to_plain() {
  rm -f "$work/check/x"
  cp "$1" "$work/check/x"
  run "$work/check" x - "${2:-$password}" && cmp -s "$work/check/x" "$work/plain"
}

now_us() { echo $(($(date +%s%N) / 1000)); }
t0=$(now_us)
cp "$work/plain" "$work/t/data.bin"
run "$work/t" data.bin +
t1=$(now_us)
run "$work/t" data.bin -
t2=$(now_us)
rm -f "$work/t/data.bin"
whole_us=$(((t1 - t0 > t2 - t1 ? t1 - t0 : t2 - t1) + 1))

modes=(random pass1 before2 first2 mid2 end2)
passed=0
failed=0
restored=0
declare -A reached=()

trial() {
  local direction=$1 mode=$2 n=$3
  local dir=$work/t sign original scratch_full final param
  local command=()
  rm -rf "$dir"
  mkdir "$dir"
  if [ "$direction" = encrypt ]; then
    sign=+
    cp "$work/plain" "$dir/data.bin"
    original=$work/plain scratch_full=$encrypted_size final=$encrypted_size
  elif [ "$direction" = change ]; then
    cp "$work/encrypted" "$dir/data.bin"
    original=$work/encrypted scratch_full=$encrypted_size final=$encrypted_size
  else
    sign=-
    cp "$work/encrypted" "$dir/data.bin"
    original=$work/encrypted scratch_full=$encrypted_size final=$size
  fi
  case "$mode" in
    # The whole run as timed above includes starting it from the shell: most
    # of the program's own run lies within its first 80 %.
    random) param=$(((RANDOM * 32768 + RANDOM) % (whole_us * 8 / 10))) ;;
    pass1) param=$((1 + (RANDOM * 32768 + RANDOM) % (scratch_full - 1))) ;;
    mid2) param=$((1 + (RANDOM * 32768 + RANDOM) % (final - 1))) ;;
    *) param=0 ;;
  esac
  if [ "$direction" = change ]; then
    command=("$bin" -x -k "$work/password-file" data.bin)
  else
    command=("$bin" data.bin "$password" "$sign")
  fi
  local point
  point=$(cd "$dir" && "$work/killer" "$mode" "$param" "$work/stop.so" data.bin "$original" "$scratch_full" "$final" -- \
    "${command[@]}")
  reached[$direction/$point]=$((${reached[$direction/$point]:-0} + 1))

  # Where the complete data is.
  local where="" s
  local scratches=()
  for s in "$dir"/ZZ[a-z][0-9][0-9][0-9][0-9][0-9]; do [ -e "$s" ] && scratches+=("$s"); done
  if [ "$direction" = encrypt ]; then
    if cmp -s "$dir/data.bin" "$work/plain"; then
      where=file-untouched
    elif [ "$(stat -c %s "$dir/data.bin")" = "$encrypted_size" ] && decrypts_to_plain "$dir/data.bin"; then
      where=file-done
    else
      for s in "${scratches[@]}"; do
        if [ "$(stat -c %s "$s")" = "$encrypted_size" ] && decrypts_to_plain "$s"; then where=$s; fi
      done
    fi
  elif [ "$direction" = change ]; then
    if cmp -s "$dir/data.bin" "$work/encrypted"; then
      where=file-untouched
    elif [ "$(stat -c %s "$dir/data.bin")" = "$encrypted_size" ] && decrypts_to_plain "$dir/data.bin" "$new_password"; then
      where=file-done
    else
      for s in "${scratches[@]}"; do
        if [ "$(stat -c %s "$s")" = "$encrypted_size" ] && decrypts_to_plain "$s" "$new_password"; then where=$s; fi
      done
    fi
  else
    if cmp -s "$dir/data.bin" "$work/encrypted"; then
      where=file-untouched
    elif cmp -s "$dir/data.bin" "$work/plain"; then
      where=file-done
    else
      for s in "${scratches[@]}"; do
        if cmp -s "$s" "$work/encrypted"; then where=$s; fi
      done
    fi
  fi
  if [ -z "$where" ]; then
    echo "FAILED: $direction trial $n ($mode $param, reached $point): the complete data is neither in the file" \
      "($(stat -c %s "$dir/data.bin") bytes) nor in a scratch file (${scratches[*]:-none})" >&2
    failed=$((failed + 1))
    return
  fi

  # A kept copy guards its file: its note is there.
  local note=""
  for s in "$dir"/ZZ*.fcloak; do [ -e "$s" ] && [ -e "${s%.fcloak}" ] && note=$s; done
  case "$where" in
    file-*) ;;
    *)
      if [ "$note" != "$where.fcloak" ]; then
        echo "FAILED: $direction trial $n ($mode $param, reached $point): the complete data is in $where," \
          "but no note is beside it" >&2
        failed=$((failed + 1))
        return
      fi
      ;;
  esac

  # Recovery and later runs in the same directory, leftovers and all. A
  # note with its copy refuses later runs until the copy is put back.
  local ok=1 in_scratch=0
  [ "${where#file-}" = "$where" ] && in_scratch=1
  # (Killed while the note was being written, before the second pass, the
  # file is whole and the note may be incomplete: no note to restore from.)
  if [ -n "$note" ] && { [ "$in_scratch" = 0 ] || ((n % 2 == 0)); }; then
    if (cd "$dir" && "$bin" --restore data.bin </dev/null >/dev/null 2>&1); then
      restored=$((restored + 1))
    elif [ "$in_scratch" = 1 ]; then
      ok=0
    fi
  elif [ "$in_scratch" = 1 ]; then
    cat "$where" >"$dir/data.bin" && rm "$where"
  fi
  local leftovers_before leftovers_after
  leftovers_before=$(find "$dir" -maxdepth 1 -name 'ZZ*' ! -name '*.fcloak' | sort)
  if cmp -s "$dir/data.bin" "$work/plain"; then
    run "$dir" data.bin + || ok=0
    [ "$(stat -c %s "$dir/data.bin")" = "$encrypted_size" ] || ok=0
  fi
  # A changed file opens under the new password, an untouched one under the old.
  local later=$password
  if [ "$direction" = change ] && ! cmp -s "$dir/data.bin" "$work/encrypted"; then later=$new_password; fi
  run "$dir" data.bin - "$later" || ok=0
  cmp -s "$dir/data.bin" "$work/plain" || ok=0
  leftovers_after=$(find "$dir" -maxdepth 1 -name 'ZZ*' ! -name '*.fcloak' | sort)
  [ "$leftovers_before" = "$leftovers_after" ] || ok=0
  # No note is left whose copy is gone: the later runs removed it.
  for s in "$dir"/ZZ*.fcloak; do [ -e "$s" ] && [ ! -e "${s%.fcloak}" ] && ok=0; done
  if [ "$ok" = 0 ]; then
    echo "FAILED: $direction trial $n ($mode $param, reached $point, data in $where): a later run in the" \
      "same directory did not give back the plaintext, or left a scratch file" >&2
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + 1))
}

echo "crash trials: $trials per direction, files of $size bytes, a whole run takes about $((whole_us / 1000)) ms"
for direction in encrypt decrypt change; do
  for ((n = 0; n < trials; ++n)); do
    trial "$direction" "${modes[n % ${#modes[@]}]}" "$n"
    if (((n + 1) % 50 == 0)); then echo "  $direction: $((n + 1)) trials"; fi
  done
done

echo "Points reached when killed:"
for key in $(printf '%s\n' "${!reached[@]}" | sort); do
  printf '  %-28s %d\n' "$key" "${reached[$key]}"
done
echo "kept copies put back with --restore: $restored"
echo "crash trials: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
