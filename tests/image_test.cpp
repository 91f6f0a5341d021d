// What an encryption leaves on the disk: a plaintext file on a freshly made
// file system image, mounted through a loop device, is encrypted by the
// built program; afterwards no line of the plaintext may be found anywhere
// in the image, neither in the file nor in the blocks the file system holds
// free. Pass 2 overwrites the file's own blocks, and its copy in the kernel
// never lets them go for blocks shared with the scratch file.
//
// A password change must not leave the plaintext either: it never writes
// it anywhere, not even for a moment.
//
// Mounting needs root: as another user, and where the file system's tools or
// loop devices are missing, the tests are skipped with a message.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

namespace {

constexpr char kPassword[] = "Image-test-2024";
// Every line of the plaintext carries this, so that any piece of it left
// on the disk shows.
constexpr char kMarker[] = "plaintext-line-marker";

std::string env_or(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

bool run_quietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool have_command(const char* name) { return run_quietly(std::string("command -v ") + name); }

// How many times the marker stands in the file at `path`, read a piece at a
// time; the pieces overlap by the marker's length, so none is missed at a
// seam and none is counted twice.
long count_marker(const std::string& path) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    ADD_FAILURE() << "cannot read " << path << ": " << std::strerror(errno);
    return -1;
  }
  constexpr std::size_t kPiece = 1 << 20;
  const std::size_t overlap = sizeof kMarker - 2;
  std::string piece(kPiece + overlap, '\0');
  std::size_t kept = 0;
  long found = 0;
  for (;;) {
    const std::size_t got = std::fread(piece.data() + kept, 1, kPiece, in);
    if (got == 0) break;
    const std::size_t length = kept + got;
    for (std::size_t at = piece.find(kMarker, 0); at != std::string::npos && at + sizeof kMarker - 1 <= length;
         at = piece.find(kMarker, at + 1)) {
      ++found;
    }
    kept = length < overlap ? length : overlap;
    std::memmove(piece.data(), piece.data() + length - kept, kept);
  }
  std::fclose(in);
  return found;
}

struct Filesystem {
  const char* name;
  const char* mkfs;      // the command that makes it, followed by the image
  const char* tool;      // the program it needs
  long long image_size;  // bytes: XFS takes no less than 300 MiB
};

void PrintTo(const Filesystem& fs, std::ostream* os) { *os << fs.name; }

class ImageTest : public testing::TestWithParam<Filesystem> {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system image; skipped";
    const Filesystem& fs = GetParam();
    if (!have_command(fs.tool)) GTEST_SKIP() << fs.tool << " is not installed; skipped";
    if (!have_command("mount") || !have_command("umount")) GTEST_SKIP() << "mount is not installed; skipped";
    std::string base = env_or("TMPDIR", "/tmp") + "/fcloak-image-XXXXXX";
    ASSERT_NE(mkdtemp(base.data()), nullptr) << std::strerror(errno);
    dir_ = base;
    image_ = dir_ + "/image";
    mount_ = dir_ + "/mnt";
    ASSERT_EQ(mkdir(mount_.c_str(), 0700), 0);
    ASSERT_EQ(truncate_image(fs.image_size), 0) << std::strerror(errno);
    ASSERT_TRUE(run_quietly(std::string(fs.mkfs) + " " + image_)) << "cannot make " << fs.name << " in " << image_;
    if (!run_quietly("mount -o loop " + image_ + " " + mount_)) {
      GTEST_SKIP() << "cannot mount a loop device here; skipped";
    }
    mounted_ = true;
  }

  void TearDown() override {
    unmount();
    if (!dir_.empty()) run_quietly("rm -rf " + dir_);
  }

  int truncate_image(long long size) {
    std::ofstream(image_, std::ios::binary).flush();
    return ::truncate(image_.c_str(), size);
  }

  bool unmount() {
    if (!mounted_) return true;
    mounted_ = false;
    return run_quietly("umount " + mount_);
  }

  std::string dir_;
  std::string image_;
  std::string mount_;
  bool mounted_ = false;
};

// About 1 MiB of lines, not a whole number of blocks.
std::string plaintext() {
  std::string plain;
  for (int line = 0; plain.size() < (1u << 20) + 12345; ++line) {
    plain += std::string(kMarker) + " " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog\n";
  }
  return plain;
}

void write_whole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_P(ImageTest, EncryptionLeavesNoPlaintextOnTheDisk) {
  const std::string plain = plaintext();
  const std::string file = mount_ + "/secret.txt";
  {
    std::ofstream out(file, std::ios::binary);
    out.write(plain.data(), static_cast<std::streamsize>(plain.size()));
    ASSERT_TRUE(out.good());
  }
  ASSERT_TRUE(run_quietly("sync"));
  // The plaintext is in the image now: the search finds what is there.
  const long lines = count_marker(image_);
  ASSERT_GE(lines, 10000) << "the plaintext did not reach the image, so its absence would prove nothing";

  const std::string binary = env_or("FCLOAK_BIN", "");
  ASSERT_FALSE(binary.empty()) << "FCLOAK_BIN is not set";
  ASSERT_TRUE(run_quietly("cd " + mount_ + " && " + binary + " secret.txt " + kPassword + " + </dev/null"))
      << "the encryption failed";
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(static_cast<std::size_t>(st.st_size), plain.size() + 19);

  ASSERT_TRUE(unmount()) << "cannot unmount " << mount_;
  EXPECT_EQ(count_marker(image_), 0) << "plaintext lines are left in the image after the encryption";
}

// The encrypted file reaches the image without its plaintext (made on
// another file system, standard output into the image); after -x it opens
// under the new password, and still no line of the plaintext is anywhere in
// the image.
TEST_P(ImageTest, PasswordChangeLeavesNoPlaintextOnTheDisk) {
  const std::string plain = plaintext();
  ASSERT_NO_FATAL_FAILURE(write_whole(dir_ + "/plain.txt", plain));
  ASSERT_NO_FATAL_FAILURE(write_whole(dir_ + "/pw.txt", std::string(kPassword) + "\nnew-" + kPassword + "\n"));
  const std::string binary = env_or("FCLOAK_BIN", "");
  ASSERT_FALSE(binary.empty()) << "FCLOAK_BIN is not set";
  const std::string file = mount_ + "/secret.txt";
  // (In a subshell: run_quietly sends the outer standard output away.)
  ASSERT_TRUE(run_quietly("(" + binary + " -c " + dir_ + "/plain.txt " + kPassword + " >" + file + " </dev/null)"));
  ASSERT_TRUE(run_quietly("sync"));
  ASSERT_EQ(count_marker(image_), 0) << "the encrypted file brought plaintext into the image";

  ASSERT_TRUE(run_quietly("cd " + mount_ + " && " + binary + " -x -k " + dir_ + "/pw.txt secret.txt </dev/null"))
      << "the password change failed";
  ASSERT_TRUE(run_quietly("(" + binary + " -c " + file + " new-" + kPassword + " >" + dir_ + "/back.txt </dev/null)"));
  EXPECT_TRUE(read_whole(dir_ + "/back.txt") == plain) << "the file does not open under the new password";

  ASSERT_TRUE(unmount()) << "cannot unmount " << mount_;
  EXPECT_EQ(count_marker(image_), 0) << "plaintext lines are left in the image after the password change";
}

INSTANTIATE_TEST_SUITE_P(
    Filesystems, ImageTest,
    testing::Values(Filesystem{"ext4", "mkfs.ext4 -q -F", "mkfs.ext4", 64ll << 20},
                    // With reflink, a copy could share the scratch file's
                    // blocks and give the plaintext's blocks up unwritten.
                    Filesystem{"xfs", "mkfs.xfs -q -f -m reflink=1", "mkfs.xfs", 320ll << 20}),
    [](const testing::TestParamInfo<Filesystem>& info) { return std::string(info.param.name); });

}  // namespace
