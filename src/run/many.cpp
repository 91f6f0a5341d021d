#include "run/many.h"

#include <cstdint>
#include <cstring>

#include "cipher/format.h"
#include "cipher/key.h"
#include "console/console.h"
#include "console/terminal.h"
#include "console/texts.h"
#include "files/fs.h"
#include "files/units.h"
#include "files/walk.h"
#include "run/in_place.h"
#include "run/password.h"

namespace fcloak::run {

namespace {

using console::write_record;

constexpr Text kCarriageReturn("\r");
// No argument holds the password of a run over many files.
constexpr int kNoArgument = -1;
// The line before a file: the number, the count and a name of up to the
// walk's longest path.
constexpr int kFileLineSize = files::kWalkPathCapacity + 32;

char file_line[kFileLineSize];

console::Action action_of(files::Mode mode) {
  if (mode == files::Mode::kDecrypt) return console::Action::kDecrypted;
  if (mode == files::Mode::kTest) return console::Action::kTested;
  if (mode == files::Mode::kChangePassword) return console::Action::kChanged;
  return console::Action::kEncrypted;
}

// -t's key: fixed storage, kept secret.
char test_key[cipher::kKeySize];

// -t: the file's check block against the password, the file only read.
JobResult test_file(Text name, const console::Password& password) {
  int length = 0;
  Status status = look_up(name, length);
  if (status != Status::kOk) return end_job(status, 0);
  const fs::Status opened = files::open_user_file_for_reading(name.bytes, name.length);
  if (opened.code == fs::Code::kInUse) return end_job(Status::kInUse, 0);
  if (!opened.ok()) return end_job(Status::kReadProtected, 0);
  unsigned char header[cipher::kMarkerSize];
  std::memset(header, ' ', sizeof header);
  const fs::Status read = files::read_bytes(files::kUserUnit, header, cipher::kMarkerSize);
  if (!read.ok() && read.code != fs::Code::kEndOfFile) return end_job(Status::kReadFailed, 0);
  signed char mode = 0;
  status = classify(header, mode);
  if (status == Status::kOk && mode == 1) status = Status::kSkipPlain;
  if (status == Status::kOk && length < cipher::kHeaderSize) status = Status::kTruncatedEncrypted;
  unsigned char check[cipher::kCheckBlockSize];
  if (status == Status::kOk) status = read_status(files::read_bytes(files::kUserUnit, check, sizeof check));
  if (status == Status::kOk) status = set_up_key(password, -1, test_key, check);
  if (status == Status::kOk) write_record({kCarriageReturn, texts::kPasswordRight}, false);
  return end_job(status, 0);
}

// One item of the walk: the job for a file, or why it is none.
JobResult process(const files::Item& item, files::Mode mode, const JobRequest& run_request) {
  switch (item.found) {
    case files::Found::kFile:
      break;
    case files::Found::kDirectory:
      return JobResult{Status::kIsDirectory, false, false, 0};
    case files::Found::kNotFound:
      return JobResult{Status::kNotFound, false, false, 0};
    case files::Found::kNameTooLong:
      return JobResult{Status::kNameTooLong, false, false, 0};
    case files::Found::kNameNotGbk:
      return JobResult{Status::kNameNotGbk, false, false, 0};
    case files::Found::kUnreadable:
      return JobResult{Status::kDirectoryUnreadable, false, false, 0};
  }
  // The look-up, the open and the time restore all take these same bytes.
  if (!fs::name_fits(item.name.bytes, item.name.length)) return JobResult{Status::kNameTooLong, false, false, 0};
  if (mode == files::Mode::kTest) return test_file(item.name, *run_request.password);
  if (mode == files::Mode::kChangePassword) return change_password(item.name, run_request);
  JobRequest request = run_request;
  request.wanted = mode == files::Mode::kDecrypt ? Wanted::kDecrypt : Wanted::kEncrypt;
  return rewrite_in_place(item.name, request);
}

// What ends the whole run, not just the file: a rewrite that did not end
// (the one line to act on must not be buried), an interrupt, the console.
bool ends_the_run(const JobResult& job) {
  return job.status != Status::kOk && (job.rewrite_started || job.status == Status::kInterrupted ||
                                       reported_on_standard_error(job.status));
}

// Why the run stops after the job: kOk when it goes on.
Status stop_after(const JobResult& job) {
  if (ends_the_run(job)) return job.status;
  return terminal::interrupted() ? Status::kInterrupted : Status::kOk;
}

// The files of the walk that come after the stop.
int count_remaining(const files::Item& last) {
  if (last.total > 0) return last.total - last.number;
  int remaining = 0;
  files::Item item{files::Found::kFile, Text("", 0), 0, 0};
  while (files::next_item(item)) {
    if (item.found == files::Found::kFile) ++remaining;
  }
  return remaining;
}

// The run's password: taken once, kept secret.
console::Password password;

// ---- The items, taken from the walk a batch at a time.

// The walk reads its directories as it goes, so no scratch file may be in
// them when it is asked for the next item: each batch is taken whole, then
// done.
struct Entry {
  files::Found found;
  // The walk's name, copied; an operand's longer name is the command line's.
  char copy[files::kItemNameCapacity];
  Text name{"", 0};
  int number;
  int total;
  // A file small enough for a group, and its length.
  bool small;
  int length;
};

Entry entries[files::kFilesInFlight];

// Files up to this long are done in groups: their syncs, not their data,
// take the time. A group holds 32 MiB at most.
constexpr std::int64_t kSmallFile = 512 * 1024;

// Takes up to a batch of items into `entries`; `last` is the last one taken.
int take_batch(files::Mode mode, files::Item& last) {
  int count = 0;
  while (count < files::kFilesInFlight && files::next_item(last)) {
    Entry& e = entries[count++];
    e.found = last.found;
    e.number = last.number;
    e.total = last.total;
    if (last.name.length <= static_cast<int>(sizeof e.copy)) {
      std::memcpy(e.copy, last.name.bytes, static_cast<std::size_t>(last.name.length));
      e.name = Text(e.copy, last.name.length);
    } else {
      e.name = last.name;
    }
    fs::FileInfo info{};
    e.small = (mode == files::Mode::kEncrypt || mode == files::Mode::kDecrypt) && e.found == files::Found::kFile &&
              fs::name_fits(e.name.bytes, e.name.length) && fs::look_up(e.name.bytes, e.name.length, info) &&
              info.size <= kSmallFile;
    e.length = e.small ? static_cast<int>(info.size) : 0;
  }
  return count;
}

// The line that names the entry's file.
void write_file_line(const Entry& e) {
  // The name goes out in a form that can be read and copied, which on
  // some consoles is not the program's GBK.
  const int line = console::file_line(e.number, e.total, Text("", 0), file_line, kFileLineSize);
  if (line > 0) {
    write_record({kCarriageReturn, Text(file_line, line)}, true);
    console::write_name(e.name);
  }
}

// A job's ending message, when it did not end done, and its count.
void count_ending(const JobResult& job, ManyResult& result) {
  if (job.status != Status::kOk) {
    const Text kept = job.scratch_kept ? files::scratch_path() : Text("", 0);
    console::write_message(padded_to(message_for(job.status), job.width), kept,
                           job.scratch_kept && files::scratch_path_as_is());
  }
  if (job.status == Status::kOk) {
    ++result.tally.done;
  } else if (skipped(job.status)) {
    ++result.tally.skipped;
  } else {
    ++result.tally.failed;
  }
}

void note_stop(Status stop, const JobResult& job, ManyResult& result) {
  result.stop = stop;
  result.stopped_in_rewrite = job.rewrite_started && job.status != Status::kOk;
}

// The entry done alone, as a single run would, its lines as it goes.
void run_alone(const Entry& e, files::Mode mode, const JobRequest& request, ManyResult& result) {
  write_file_line(e);
  const JobResult job = process(files::Item{e.found, e.name, e.number, e.total}, mode, request);
  count_ending(job, result);
  const Status stop = stop_after(job);
  if (stop != Status::kOk) note_stop(stop, job, result);
}

// ---- Groups: small files, each in a slot of its own (see units.h). Every
// step is done for all of them before the next, and between the steps one
// sync of the file system puts all their scratch files (then their notes,
// then the files themselves) on the device, where each file alone would sync
// each of them: every file still has its scratch file on the device before
// its rewrite, and is on the device itself before its scratch file goes.

struct Member {
  // How the job ended, once it has.
  JobResult result;
  // Still under way: not ended.
  bool going;
  // Pass 2 has written the whole file.
  bool rewritten;
  // What the last sync of the file system covered.
  bool synced;
};

Member members[files::kFilesInFlight];

// Puts the `unit` of every slot under way on the device: the file system of
// each once, where it can be synced as a whole (those slots marked synced),
// else nothing here: the slot's next step syncs its own files.
void sync_group(int count, int unit) {
  std::uint64_t devices[files::kFilesInFlight];
  for (int s = 0; s < count; ++s) {
    members[s].synced = false;
    fs::Snapshot snapshot{};
    files::select_slot(s);
    if (!members[s].going || !files::snapshot_unit(unit, snapshot).ok()) {
      devices[s] = 0;
      continue;
    }
    devices[s] = snapshot.identity.device;
    bool covered = false;
    for (int t = 0; t < s && !covered; ++t) covered = members[t].synced && devices[t] == devices[s];
    members[s].synced = covered || files::sync_file_system(unit).ok();
  }
}

// Ends the job of slot `s` as `status` says.
void end_member(int s, Status status) {
  files::select_slot(s);
  members[s].result = end_job(status, group_job_width());
  members[s].going = false;
}

// Does entries[first] on as a group, as many as follow them that are small,
// up to `end`; returns the entry after the group's last. What stops the run
// is in `result`.
int run_group(int first, int end, files::Mode mode, const JobRequest& request, ManyResult& result,
              int& remaining) {
  JobRequest one = request;
  one.wanted = mode == files::Mode::kDecrypt ? Wanted::kDecrypt : Wanted::kEncrypt;
  Status stop = Status::kOk;
  int count = 0;

  // Step 1: every file up to the end of its pass 1. A kept copy found for
  // one ends the group there: its message names that copy.
  while (first + count < end) {
    const int s = count++;
    const Entry& e = entries[first + s];
    files::select_slot(s);
    const Status status = start_in_group(e.name, e.length, one);
    members[s] = Member{JobResult{status, false, false, 0}, status == Status::kOk, false, false};
    if (!members[s].going) end_member(s, status);
    stop = stop_after(members[s].result);
    if (stop != Status::kOk || status == Status::kCopyNotRestored) break;
  }

  // Step 2.
  if (stop == Status::kOk) sync_group(count, files::kScratchUnit);
  for (int s = 0; s < count && stop == Status::kOk; ++s) {
    if (!members[s].going) continue;
    files::select_slot(s);
    const Status status = ready_in_group(entries[first + s].name, members[s].synced);
    if (status == Status::kOk) continue;
    end_member(s, status);
    stop = stop_after(members[s].result);
  }

  // Step 3: the notes are beside the scratch files.
  if (stop == Status::kOk) sync_group(count, files::kScratchUnit);
  for (int s = 0; s < count && stop == Status::kOk; ++s) {
    if (!members[s].going) continue;
    files::select_slot(s);
    if (terminal::interrupted()) {
      stop = Status::kInterrupted;
      break;
    }
    const Status status = rewrite_in_group(members[s].synced);
    members[s].rewritten = status == Status::kOk;
    if (status == Status::kOk) continue;
    end_member(s, status);
    stop = stop_after(members[s].result);
  }

  // A stop leaves every file not yet rewritten as it was: the first of them
  // is where the run stops.
  for (int s = 0; s < count; ++s) {
    if (members[s].going && !members[s].rewritten) end_member(s, stop);
  }

  // Step 4.
  sync_group(count, files::kUserUnit);
  for (int s = 0; s < count; ++s) {
    if (!members[s].going) continue;
    files::select_slot(s);
    end_member(s, finish_in_group(entries[first + s].name, members[s].synced));
  }

  // The lines of each file in order, up to the one whose ending stops the
  // run; a file rewritten after it is shown all the same, one left as it was
  // is counted with those remaining. An interrupt that came once every file
  // had ended stops the run after them.
  int stopped_at = -1;
  console::hold_output(true);
  for (int s = 0; s < count; ++s) {
    const JobResult& job = members[s].result;
    if (stopped_at >= 0 && job.status != Status::kOk && !job.rewrite_started) {
      ++remaining;
      continue;
    }
    files::select_slot(s);
    write_file_line(entries[first + s]);
    show_group_job(job.status);
    count_ending(job, result);
    if (stopped_at < 0 && ends_the_run(job)) {
      stopped_at = s;
      note_stop(job.status, job, result);
    }
  }
  console::hold_output(false);
  if (stopped_at < 0 && terminal::interrupted()) result.stop = Status::kInterrupted;
  // The slot of the stop names its kept copy to the run's ending; else the
  // next file starts in slot 0.
  files::select_slot(stopped_at >= 0 ? stopped_at : 0);
  return first + count;
}

}  // namespace

ManyResult run_many(files::Mode mode, int first_operand, bool recursive, Text password_file) {
  ManyResult result{action_of(mode), {0, 0, 0}, Status::kOk, false, -1, false, 0};
  // One password for all, asked before the first file (a new one twice, when
  // typed); -x's new one at the first file whose current password fits.
  const JobRequest request{Wanted::kAsk, kNoArgument, password_file, &password};
  result.stop = get_password(request, mode == files::Mode::kEncrypt ? Purpose::kEncrypt : Purpose::kOpen, password);
  if (result.stop != Status::kOk) {
    result.before_first = true;
    return result;
  }

  // The files' lines start on a line of their own.
  if (console::output_state().line_open) console::write_empty_record();
  files::start_walk(first_operand, recursive);
  files::Item last{files::Found::kFile, Text("", 0), 0, 0};
  for (;;) {
    const int count = take_batch(mode, last);
    if (count == 0) break;
    int remaining = 0;
    int at = 0;
    while (at < count && result.stop == Status::kOk) {
      if (!entries[at].small) {
        run_alone(entries[at++], mode, request, result);
        continue;
      }
      int end = at;
      while (end < count && entries[end].small) ++end;
      at = run_group(at, end, mode, request, result, remaining);
    }
    if (result.stop != Status::kOk) {
      result.remaining = remaining + (count - at) + count_remaining(last);
      break;
    }
  }
  return result;
}

}  // namespace fcloak::run
