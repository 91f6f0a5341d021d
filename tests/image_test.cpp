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
// And on the file systems that people carry files on, through FUSE (exFAT),
// and on copy-on-write ones (btrfs): the last-write time comes back, a change
// that the times cannot tell is found by the content, a rewrite that would
// run out of space midway does not begin, and a kept copy's note guards its
// file until --restore puts the copy back.
//
// Mounting needs root: as another user, and where the file system's tools or
// loop devices are missing, the tests are skipped with a message.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/launch.h"
#include "support/texts.h"

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

// ---------------------------------------------------------------------------
// The file systems that people carry files on, through FUSE, and
// copy-on-write ones: what each keeps of a file's times, and what the run
// checks there. Each test mounts a small image of its own.

using e2e::operator""_t;
using e2e::read_file;
using e2e::write_file;

using e2e::in_gbk::kFileChanged;
using e2e::in_gbk::kNoSpace;
using e2e::in_gbk::kCopyNotRestored;
using e2e::in_gbk::kRestored;
using e2e::in_gbk::kTimeNotRestored;
const std::string kEncrypting = e2e::gbk(u8"加密进度 100 %"_t);
const std::string kCopying = e2e::gbk(u8"复制进度"_t);
constexpr char kFileName[] = "data.bin";
// What the fault shim's rewrite writes into the middle of the file.
constexpr std::size_t kRewritten = 4096;

std::string faulty_binary() {
  const char* faulty = std::getenv("FCLOAK_FAULTY");
  return faulty != nullptr && *faulty != '\0' ? faulty : FCLOAK_FAULTY_PATH;
}

class MountedImage : public testing::Test {
 protected:
  // Makes an image of `bytes` with the command `mkfs` (which needs `tool`)
  // and mounts it: through FUSE with `fuse_mount` (on a loop device of its
  // own), else with mount -o loop.
  void mount_image(const char* mkfs, const char* tool, const char* fuse_mount, long long bytes) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system image; skipped";
    for (const char* needed : {tool, fuse_mount != nullptr ? fuse_mount : "mount", "losetup", "umount"}) {
      if (!have_command(needed)) GTEST_SKIP() << needed << " is not installed; skipped";
    }
    std::string base = env_or("TMPDIR", "/tmp") + "/fcloak-image-XXXXXX";
    ASSERT_NE(mkdtemp(base.data()), nullptr) << std::strerror(errno);
    dir_ = base;
    image_ = dir_ + "/image";
    mount_ = dir_ + "/mnt";
    ASSERT_EQ(mkdir(mount_.c_str(), 0700), 0);
    std::ofstream(image_, std::ios::binary).flush();
    ASSERT_EQ(::truncate(image_.c_str(), bytes), 0) << std::strerror(errno);
    ASSERT_TRUE(run_quietly(std::string(mkfs) + " " + image_)) << "cannot make a file system in " << image_;
    if (fuse_mount == nullptr) {
      if (!run_quietly("mount -o loop " + image_ + " " + mount_)) GTEST_SKIP() << "cannot mount a loop device; skipped";
    } else {
      // The loop device that losetup takes, from what it prints.
      std::FILE* losetup = popen(("losetup -f --show " + image_ + " 2>/dev/null").c_str(), "r");
      ASSERT_NE(losetup, nullptr);
      char device[256] = {};
      const bool named = std::fgets(device, sizeof device, losetup) != nullptr;
      if (pclose(losetup) != 0 || !named) GTEST_SKIP() << "no loop device here; skipped";
      device_ = device;
      while (!device_.empty() && device_.back() == '\n') device_.pop_back();
      if (!run_quietly(std::string(fuse_mount) + " " + device_ + " " + mount_)) {
        GTEST_SKIP() << fuse_mount << " cannot mount here; skipped";
      }
    }
    mounted_ = true;
  }

  bool unmount() {
    if (!mounted_) return true;
    mounted_ = false;
    return run_quietly("umount " + mount_);
  }

  void TearDown() override {
    unmount();
    if (!device_.empty()) run_quietly("losetup -d " + device_);
    if (!dir_.empty()) run_quietly("rm -rf " + dir_);
  }

  e2e::Outcome run(std::vector<std::string> args, const std::string& fault = "") {
    e2e::Launch launch;
    launch.program = fault.empty() ? e2e::program_binary() : faulty_binary();
    args.insert(args.begin(), launch.program);
    launch.args = args;
    launch.cwd = mount_;
    if (!fault.empty()) {
      launch.env = {"FCLOAK_FAULT=" + fault, "FCLOAK_FAULT_USER=" + mount_ + "/" + kFileName,
                    "FCLOAK_FAULT_COPIES=refused", "FCLOAK_FAULT_TIMES"};
    }
    launch.timeout = std::chrono::minutes(2);
    return e2e::run(launch);
  }

  std::string file() const { return mount_ + "/" + kFileName; }

  std::string dir_;
  std::string image_;
  std::string mount_;
  std::string device_;
  bool mounted_ = false;
};

struct Filesystem {
  const char* name;
  const char* mkfs;      // the command that makes it, followed by the image
  const char* tool;      // the program it needs
  long long image_size;  // bytes: XFS takes no less than 300 MiB
};

void PrintTo(const Filesystem& fs, std::ostream* os) { *os << fs.name; }

class ImageTest : public MountedImage, public testing::WithParamInterface<Filesystem> {
 protected:
  void SetUp() override {
    const Filesystem& fs = GetParam();
    mount_image(fs.mkfs, fs.tool, nullptr, fs.image_size);
  }
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

bool status_is(const e2e::Outcome& run, int status) { return run.exited && run.status == status; }
std::string tail_of(const std::string& out) { return e2e::show(out.substr(out.size() > 200 ? out.size() - 200 : 0)); }

class Exfat : public MountedImage {
 protected:
  void SetUp() override { mount_image("mkfs.exfat", "mkfs.exfat", "mount.exfat-fuse", 32ll << 20); }
};

// exFAT through FUSE ignores a last-write time set alone: the run sets it
// again with the access time, and it comes back exactly as the file system
// held it before the run.
TEST_F(Exfat, WriteTimeComesBack) {
  write_file(file(), e2e::pattern(100000));
  ASSERT_TRUE(e2e::set_write_time(file(), timespec{1614834367, 0}));
  const timespec before = e2e::write_time(file());
  const e2e::Outcome encrypt = run({kFileName, "pw", "+"});
  EXPECT_TRUE(status_is(encrypt, 0)) << tail_of(encrypt.out);
  EXPECT_EQ(encrypt.out.find(kTimeNotRestored), std::string::npos);
  const timespec after = e2e::write_time(file());
  EXPECT_TRUE(after.tv_sec == before.tv_sec && after.tv_nsec == before.tv_nsec)
      << "held " << before.tv_sec << "." << before.tv_nsec << ", after the run " << after.tv_sec << "."
      << after.tv_nsec;
}

// The change time is the last-write time there, in whole seconds: another
// program's change to what pass 1 has already read, with the times put
// back, is found by the content alone, in either direction.
TEST_F(Exfat, SameSecondChangeIsCaught) {
  const std::string plain = e2e::pattern(5 * 32768 + 100);
  for (const bool encrypting : {true, false}) {
    SCOPED_TRACE(encrypting ? "encryption" : "decryption");
    write_file(file(), plain);
    if (!encrypting) {
      ASSERT_TRUE(status_is(run({kFileName, "pw", "+"}), 0));
    }
    std::string expected = read_file(file());
    expected.replace(expected.size() / 2, kRewritten, std::string(kRewritten, 'R'));
    // After pass 1 has read the middle of the file: its third block, the
    // user file's read 4 when encrypting (after the marker), 5 decrypting
    // (after the marker and the check block).
    const e2e::Outcome changed =
        run({kFileName, "pw", encrypting ? "+" : "-"}, encrypting ? "rewrite:user:5" : "rewrite:user:6");
    EXPECT_TRUE(status_is(changed, 1)) << tail_of(changed.out);
    EXPECT_NE(changed.out.find(kFileChanged), std::string::npos) << tail_of(changed.out);
    EXPECT_TRUE(read_file(file()) == expected) << "the other program's change was not kept";
    EXPECT_EQ(e2e::names_in(mount_), std::vector<std::string>{kFileName});
  }
}

// A run interrupted in pass 2 leaves its note: a second run on the file is
// refused, and --restore FILE then puts the copy back.
TEST_F(Exfat, NoteRefusesUntilRestored) {
  write_file(file(), e2e::pattern(300000));
  const e2e::Outcome interrupted = run({kFileName, "pw", "+"}, "signal:user:2");
  EXPECT_TRUE(status_is(interrupted, 1));
  const auto scratch = e2e::scratch_files(mount_);
  ASSERT_EQ(scratch.size(), 1u);
  EXPECT_EQ(e2e::notes_in(mount_), std::vector<std::string>{scratch[0] + ".fcloak"});
  const std::string copy = read_file(mount_ + "/" + scratch[0]);
  const std::string half = read_file(file());
  const e2e::Outcome second = run({kFileName, "pw", "-"});
  EXPECT_TRUE(status_is(second, 1));
  EXPECT_NE(second.out.find(kCopyNotRestored), std::string::npos) << tail_of(second.out);
  EXPECT_TRUE(read_file(file()) == half);
  const e2e::Outcome restore = run({"--restore", kFileName});
  EXPECT_TRUE(status_is(restore, 0)) << tail_of(restore.out);
  EXPECT_NE(restore.out.find(kRestored), std::string::npos);
  EXPECT_TRUE(read_file(file()) == copy);
  EXPECT_EQ(e2e::names_in(mount_), std::vector<std::string>{kFileName});
  EXPECT_TRUE(status_is(run({kFileName, "pw", "-"}), 0));
  EXPECT_TRUE(read_file(file()) == e2e::pattern(300000));
}

class Btrfs : public MountedImage {
 protected:
  void SetUp() override { mount_image("mkfs.btrfs -q -f", "mkfs.btrfs", nullptr, 256ll << 20); }

  // Fills the file system until `megabytes` are free.
  void leave_free(long long megabytes) {
    ASSERT_TRUE(run_quietly("sync"));
    struct statvfs about {};
    ASSERT_EQ(statvfs(mount_.c_str(), &about), 0);
    const long long free = static_cast<long long>(about.f_bavail) * static_cast<long long>(about.f_frsize);
    ASSERT_GT(free, megabytes << 20);
    ASSERT_TRUE(run_quietly("fallocate -l " + std::to_string(free - (megabytes << 20)) + " " + mount_ + "/filler"));
    ASSERT_TRUE(run_quietly("sync"));
  }
};

// Every block that pass 2 overwrites takes a new one: with room for the
// scratch file but not for that, the run ends after pass 1, before the
// rewrite, with the file as it was; with room for both, it completes.
TEST_F(Btrfs, TooLittleSpaceEndsBeforeTheRewrite) {
  const std::string plain = e2e::pattern(40 << 20);
  write_file(file(), plain);
  ASSERT_TRUE(e2e::set_write_time(file(), timespec{1614834367, 250000000}));
  leave_free(70);
  const e2e::Outcome refused = run({kFileName, "pw", "+"});
  EXPECT_TRUE(status_is(refused, 1));
  EXPECT_NE(refused.out.find(kEncrypting), std::string::npos) << "pass 1 did not finish: " << tail_of(refused.out);
  EXPECT_EQ(refused.out.find(kCopying), std::string::npos) << "pass 2 began: " << tail_of(refused.out);
  EXPECT_NE(refused.out.find(kNoSpace), std::string::npos) << tail_of(refused.out);
  EXPECT_TRUE(read_file(file()) == plain) << "the file was written";
  const timespec time = e2e::write_time(file());
  EXPECT_TRUE(time.tv_sec == 1614834367 && time.tv_nsec == 250000000);
  EXPECT_EQ(e2e::names_in(mount_), (std::vector<std::string>{kFileName, "filler"}));

  ASSERT_TRUE(run_quietly("rm " + mount_ + "/filler"));
  leave_free(100);
  const e2e::Outcome done = run({kFileName, "pw", "+"});
  EXPECT_TRUE(status_is(done, 0)) << tail_of(done.out);
  EXPECT_EQ(read_file(file()).size(), plain.size() + 19);
}

}  // namespace
