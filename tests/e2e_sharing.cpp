// End-to-end cases: other users and other processes: permissions, locks,
// a second run, the file changed and signals while the program waits for
// the password.
#include <signal.h>

#include "e2e_cases.h"

namespace e2e {
namespace {

// A file changed by another process while the program waits for the
// password: the run finds it, by the file's size in pass 1 or by its times
// and identity before the file is rewritten, and the file stays as the
// other process left it. `progress`: the progress lines shown up to then.
Case changed_while_asking(const char* case_name, std::function<void(const Dir&)> change,
                          const std::string& progress) {
  return Case{
      .name = case_name,
      .setup = one_file(kPlainName, kPlainText),
      .runs = {{.args = {kPlainName, "", "+"},
                .out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword + "\r" + progress + "\r" +
                       over_progress(u8"文件在处理过程中被改变."_t) + "\r\n" + kStop,
                .status = 1,
                .input = "pw\n",
                .while_asking = std::move(change)}},
  };
}

// Pass 1 of kPlainText: opened, and its one block.
const std::string kPass1Started = progress_line(kLabelEncrypt, "  0", "99", "##");
const std::string kPass1Done = kPass1Started + "\r" + progress_line(kLabelEncrypt, "100", "00", "00");

// A signal while the program waits for the password: a request to stop ends
// the run, unless the program was started with it ignored (nohup).
Case signal_while_asking(const char* case_name, int signal, bool ignored) {
  Step run{.args = {kPlainName, "", "+"}, .out = {}, .input = "pw\n", .signal_while_asking = signal};
  if (ignored) {
    run.out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword + "\r<progress>" + kEncrypted;
    run.effect = Effect::kEncrypted;
    run.ignored_signals = {signal};
  } else {
    run.out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword + u8"\r程序被中断.\r\n"_t + kStop;
    run.status = 1;
  }
  return Case{.name = case_name, .setup = one_file(kPlainName, kPlainText), .runs = {run}, .native_only = true};
}

// While one run waits for the password, a second one on the same file is
// refused and changes nothing; the first then goes on to the end.
void second_run_is_refused(const Dir& d) {
  const Program p = program();
  const Outcome second = run(launch_of(p, {kPlainName, "pw", "+"}, d.root()));
  EXPECT_EQ(second.status, 1);
  EXPECT_TRUE(same_bytes(expected_output(p, refused(u8"文件正被其他程序使用."_t)), second.out)) << "the second run";
  EXPECT_TRUE(read_file(d.path(kPlainName)) == kPlainText);
  // The first run's scratch file, and no other.
  EXPECT_EQ(scratch_files(d.root()).size(), 1u);
}

}  // namespace

std::vector<Case> sharing_cases() {
  return {
      // Other users and other processes.
      {.name = "unreadable_file",
       .setup =
           [](const Dir& d) {
             d.file(kPlainName, kPlainText);
             d.mode(kPlainName, 0200);
           },
       .runs = {{.args = {kPlainName, "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1, .as_nobody = true}},
       .native_only = true},
      // One run per file: a file that another run holds (its lock) is
      // refused. Locks on Linux bind only programs that take them: a POSIX
      // record lock is not that lock.
      {.name = "file_locked_by_another_process",
       .setup =
           [](const Dir& d) {
             d.file("data.bin", pattern(3000));
             d.lock("data.bin");
           },
       .runs = {{.args = {"data.bin", "pw", "+"}, .out = refused(u8"文件正被其他程序使用."_t), .status = 1}},
       .native_only = true},
      {.name = "record_lock_of_another_process",
       .setup =
           [](const Dir& d) {
             d.file("data.bin", pattern(3000));
             d.record_lock("data.bin");
           },
       .runs = {{.args = {"data.bin", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"data.bin", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}}},
      {.name = "two_runs_at_once",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "", "+"},
                 .out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword + "\r<progress>" + kEncrypted,
                 .effect = Effect::kEncrypted,
                 .input = "pw\n",
                 .while_asking = second_run_is_refused},
                {.args = {kPlainName, "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}}},
      changed_while_asking(
          "file_grows_during_the_run", [](const Dir& d) { d.append(kPlainName, "more text\n"); }, kPass1Started),
      changed_while_asking(
          "file_shrinks_during_the_run", [](const Dir& d) { d.resize(kPlainName, 10); }, kPass1Started),
      // The same size, the time put back: only the change time tells.
      changed_while_asking(
          "file_rewritten_during_the_run",
          [](const Dir& d) {
            struct stat st {};
            stat(d.path(kPlainName).c_str(), &st);
            d.patch(kPlainName, "PLAIN");
            const timespec times[2] = {st.st_atim, st.st_mtim};
            utimensat(AT_FDCWD, d.path(kPlainName).c_str(), times, 0);
          },
          kPass1Done),
      // An editor saving by rename: the name leads to a new file, which
      // stays as the editor left it, time and all.
      changed_while_asking(
          "file_replaced_by_rename_during_the_run",
          [](const Dir& d) {
            d.file("saved.tmp", "The editor's new version.\n");
            d.rename("saved.tmp", kPlainName);
          },
          kPass1Done),
      signal_while_asking("hang_up_while_asking", SIGHUP, false),
      signal_while_asking("termination_while_asking", SIGTERM, false),
      signal_while_asking("hang_up_ignored_while_asking", SIGHUP, true),
      signal_while_asking("interrupt_ignored_while_asking", SIGINT, true),
  };
}

}  // namespace e2e
