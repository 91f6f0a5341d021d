// Files for the tests of the built program: fresh directories, whole files
// read and written, their last-write times, and the names in a directory.
#pragma once

#include <time.h>

#include <cstddef>
#include <string>
#include <vector>

namespace e2e {

// The last-write time test files start with: an odd second and fraction,
// so a run that touches a file cannot keep its time by chance.
inline constexpr timespec kStartTime{1234567891, 123456789};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

// Sets both times of the file; false when that fails.
bool set_write_time(const std::string& path, timespec time);
// The file's last-write time; {-1, -1} when it has none.
timespec write_time(const std::string& path);

// Bytes of every value in a fixed order; the first three are plain text, so
// the file is never taken for an encrypted one.
std::string pattern(std::size_t n);

// The names in a directory, sorted; and of them those that begin with "ZZ",
// the scratch files.
std::vector<std::string> names_in(const std::string& dir);
std::vector<std::string> scratch_files(const std::string& dir);

// A fresh directory (its real path), removed with everything in it at the
// end.
class TempDir {
 public:
  // Under `base`, or else under TMPDIR or /tmp.
  explicit TempDir(const std::string& base = "");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace e2e
