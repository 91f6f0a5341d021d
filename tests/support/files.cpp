#include "support/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace e2e {

namespace stdfs = std::filesystem;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

bool set_write_time(const std::string& path, timespec time) {
  const timespec times[2] = {time, time};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

timespec write_time(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return timespec{-1, -1};
  return st.st_mtim;
}

std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  std::uint32_t x = 20130324u;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  s.replace(0, n < 3 ? n : 3, std::string("pla").substr(0, n < 3 ? n : 3));
  return s;
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : stdfs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> scratch_files(const std::string& dir) {
  std::vector<std::string> names = names_in(dir);
  std::erase_if(names, [](const std::string& name) { return !name.starts_with("ZZ"); });
  return names;
}

TempDir::TempDir(const std::string& base) {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string parent = !base.empty() ? base : tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  std::string templ = parent + "/fcloak-test-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    return;
  }
  std::error_code ec;
  path_ = stdfs::canonical(templ, ec).string();
  if (ec) path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) stdfs::remove_all(path_, ignored);
}

}  // namespace e2e
