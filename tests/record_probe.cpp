// A program built with the recorder as fcloak_recorded is, which makes one
// call of each kind that the recorder logs, in the current directory, so
// that the test can hold the log against the calls. With the argument
// "unseen" it last writes a byte by a raw system call, which no wrapper
// sees.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  const int a = open("a", O_RDWR | O_CREAT | O_EXCL, 0600);
  if (a < 0) return 1;
  if (write(a, "hello", 5) != 5) return 1;
  if (pwrite(a, "XY", 2, 10) != 2) return 1;
  if (ftruncate(a, 11) != 0) return 1;
  if (fsync(a) != 0) return 1;
  const int dir = open(".", O_RDONLY | O_DIRECTORY);
  if (dir < 0 || fsync(dir) != 0) return 1;
  const int b = open("b", O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (b < 0) return 1;
  off_t from = 1;
  if (sendfile(b, a, &from, 4) != 4) return 1;
  sync_file_range(b, 0, 0, SYNC_FILE_RANGE_WRITE);
  const timespec times[2] = {{0, UTIME_OMIT}, {1234567891, 0}};
  if (futimens(b, times) != 0) return 1;
  if (rename("b", "c") != 0 || unlink("c") != 0) return 1;
  close(b);
  // Calls the recorder does not model, made so that they change nothing.
  iovec part{const_cast<char*>("v"), 1};
  writev(a, &part, 0);
  fallocate(a, FALLOC_FL_KEEP_SIZE, 0, 4096);
  void* map = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, a, 0);
  if (map != MAP_FAILED) munmap(map, 4096);
  if (FILE* f = fopen("a", "r+")) std::fclose(f);
  if (argc > 1 && std::strcmp(argv[1], "unseen") == 0) syscall(SYS_pwrite64, a, "Z", 1, 0);
  close(a);
  close(dir);
  return 0;
}
