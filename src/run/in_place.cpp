#include "run/in_place.h"

#include <cstdint>
#include <cstring>

#include "cipher/format.h"
#include "cipher/generator.h"
#include "cipher/key.h"
#include "cipher/tables.h"
#include "console/console.h"
#include "console/terminal.h"
#include "console/texts.h"
#include "files/fs.h"
#include "files/note.h"
#include "files/units.h"
#include "progress/progress.h"
#include "run/guard.h"
#include "run/pass.h"
#include "run/password.h"

namespace fcloak::run {

namespace {

using console::write_record;

// The largest plain file whose encrypted form (19 bytes more) still has a
// length that fits in 31 bits.
constexpr std::int64_t kLargestPlainFile = INT32_MAX - cipher::kHeaderSize;

constexpr Text kCarriageReturn("\r");

// What one job knows of its file; blanks until it is read or made (a
// blank check block is one to be created).
struct Job {
  Job() {
    std::memset(header, ' ', sizeof header);
    std::memset(new_key, ' ', sizeof new_key);
    std::memset(new_check, ' ', sizeof new_check);
    std::memset(key, ' ', sizeof key);
    std::memset(check_block, ' ', sizeof check_block);
  }
  int length = 0;
  unsigned char header[cipher::kMarkerSize];
  char key[cipher::kKeySize];
  unsigned char check_block[cipher::kCheckBlockSize];
  // The direction: +1 encrypt, -1 decrypt.
  signed char mode = 0;
  // A password change: the file stays encrypted, under a new key and check
  // block (new_key, new_check); `key` and `check_block` are the old ones.
  bool change = false;
  char new_key[cipher::kKeySize];
  unsigned char new_check[cipher::kCheckBlockSize];
  // The message of an ending covers this many bytes of its line: the
  // question's, or once a pass has shown its progress line, that line.
  int width = 0;
  // The generator where the key setup left it: the tables of either pass
  // continue from there, whatever other files of a group drew meanwhile.
  std::int32_t stream_state = 1;
  // The last pass begun (0: none yet), and whether it ended; a job of a
  // group shows its progress lines only afterwards, from these.
  unsigned char pass_reached = 0;
  bool pass_done = false;
  bool time_restored = false;
};

// The note of a kept copy found for the file, and the paths that the job
// shows or writes into a note.
files::Note kept_copy;
char path[1024];

// A kept scratch file of an earlier run that completes this file, and has
// not been put back, keeps the file as it is: a rewrite now would lose the
// way back to it.
Status refuse_unrestored(Text name) {
  if (!files::find_note(name, opened_file().identity, kept_copy)) return Status::kOk;
  int length = 0;
  bool as_is = false;
  // The message is GBK text: a full path that GBK cannot hold gives way to
  // the name the copy was found by.
  if (fs::full_path(kept_copy.scratch, kept_copy.scratch_length, path, sizeof path, length, as_is).ok() && !as_is) {
    set_kept_copy_path(Text(path, length));
  } else {
    set_kept_copy_path(Text(kept_copy.scratch, kept_copy.scratch_length));
  }
  return Status::kCopyNotRestored;
}

// The note that the scratch file completes this file, beside it and on the
// device before pass 2 writes.
Status write_note(Text name, bool sync) {
  int length = 0;
  bool as_is = false;
  if (!fs::full_path(name.bytes, name.length, path, sizeof path, length, as_is).ok()) length = 0;
  const fs::Snapshot& opened = opened_file();
  return write_status(files::write_note(opened.identity, opened.write_time, Text(path, length), sync));
}

// Console text that could not be written before the rewrite ends the job
// as a console failure: nothing of the file has changed yet.
Status console_ok() { return console::output_failed() ? Status::kOutputFailed : Status::kOk; }

// Pass 1 goes on only while its progress can be shown.
Status watch_console() { return console_ok(); }

// Classifies the file by its first bytes and, with `ask`, asks the
// matching question. A file shorter than the marker is plain: its read ends
// early, and the header keeps blanks for the bytes that are not there.
Status classify_file(Job& job, bool ask) {
  std::memset(job.header, ' ', sizeof job.header);
  const fs::Status read = files::read_bytes(files::kUserUnit, job.header, cipher::kMarkerSize);
  if (!read.ok() && read.code != fs::Code::kEndOfFile) return Status::kReadFailed;
  const Status kind = classify(job.header, job.mode);
  if (kind != Status::kOk) return kind;
  if (job.mode == -1) {
    // Without a whole check block there is nothing to verify a password
    // against, and no body length to decrypt.
    if (job.length < cipher::kHeaderSize) return Status::kTruncatedEncrypted;
    if (ask) write_record({kCarriageReturn, texts::kAskDecrypt}, true);
    return read_status(files::read_bytes(files::kUserUnit, job.check_block, cipher::kCheckBlockSize));
  }
  if (job.length > kLargestPlainFile) return Status::kTooLarge;
  if (ask) write_record({kCarriageReturn, texts::kAskEncrypt}, true);
  return write_status(files::rewind_unit(files::kUserUnit));
}

// The answer from the direction wanted, or else from one key.
Status confirm(Job& job, Wanted wanted) {
  char answer;
  if (wanted == Wanted::kEncrypt) {
    answer = job.mode == 1 ? 'y' : 'n';
  } else if (wanted == Wanted::kDecrypt) {
    answer = job.mode == 1 ? 'n' : 'y';
  } else {
    if (console::output_failed()) return Status::kOutputFailed;
    answer = static_cast<char>(console::read_key());
    // A request to stop while the key was awaited is no answer; its message
    // takes the question's whole line.
    if (terminal::interrupted()) {
      job.width = (job.mode == 1 ? texts::kAskEncrypt : texts::kAskDecrypt).length;
      return Status::kInterrupted;
    }
    if (answer == 'Y') answer = 'y';
    if (answer != 'y') answer = 'n';
  }
  write_record({Text(&answer, 1)}, false);
  return answer == 'n' ? Status::kDeclined : Status::kOk;
}

// Why the scratch file could not be made.
Status scratch_status(fs::Status scratch) {
  if (scratch.code == fs::Code::kNameTooLong) return Status::kNameTooLong;
  return scratch.ok() ? Status::kOk : Status::kNoSpace;
}

// One of many files, or a password change: the option is the answer (no
// question), a file already in the wanted form is left as it is (a change
// wants an encrypted file), and the password is the run's (a change takes
// its own when the run has none). The scratch file is only made for a file
// to be rewritten.
Status prepare_one_of_many(Text name, const JobRequest& request, Job& job) {
  Status status = note_opened_file();
  if (status == Status::kOk) status = refuse_unrestored(name);
  if (status == Status::kOk) status = classify_file(job, false);
  if (status != Status::kOk) return status;
  if (request.wanted == Wanted::kEncrypt && job.mode == -1) return Status::kSkipEncrypted;
  if ((request.wanted == Wanted::kDecrypt || job.change) && job.mode == 1) return Status::kSkipPlain;
  status = scratch_status(files::open_scratch_file(name.bytes, name.length));
  if (status == Status::kOk && job.change) {
    status = take_passwords_for_change(request, job.key, job.check_block, job.new_key, job.new_check);
  } else if (status == Status::kOk) {
    status = set_up_key(*request.password, job.mode, job.key, job.check_block);
  }
  if (status == Status::kOk) status = console_ok();
  return status;
}

// The user file opened for a job of a run over many files.
Status open_one_of_many(Text name, const JobRequest& request, Job& job) {
  const fs::Status user = files::open_user_file(name.bytes, name.length);
  if (user.code == fs::Code::kInUse) return Status::kInUse;
  if (!user.ok()) return Status::kWriteProtected;
  return prepare_one_of_many(name, request, job);
}

// Once the key is set: the scratch file's header, of the file it is to
// become (an encryption's, or a password change's with the new check
// block), and pass 1 into it. A change reads the old body from after the
// file's header. With `report`, the progress line is shown as it goes.
Status write_scratch(Job& job, bool report) {
  job.stream_state = cipher::generator_state();
  Status status = write_status(files::rewind_unit(files::kUserUnit));
  if (status == Status::kOk) status = write_status(files::rewind_unit(files::kScratchUnit));
  if (status == Status::kOk && (job.mode == 1 || job.change)) {
    status = write_status(files::write_bytes(files::kScratchUnit, cipher::kCurrentMarker, cipher::kMarkerSize));
    const unsigned char* check = job.change ? job.new_check : job.check_block;
    if (status == Status::kOk) status = write_status(files::write_bytes(files::kScratchUnit, check, cipher::kCheckBlockSize));
  }
  if (status == Status::kOk && job.change) {
    status = read_status(files::read_bytes(files::kUserUnit, job.header, cipher::kMarkerSize));
    if (status == Status::kOk) status = read_status(files::read_bytes(files::kUserUnit, job.check_block, cipher::kCheckBlockSize));
  }
  if (status != Status::kOk) return status;
  job.width = progress::kLineLength;
  job.pass_reached = 1;
  if (job.change) {
    status = run_rekey_pass(job.length - cipher::kHeaderSize, watch_console);
  } else {
    status = run_pass(job.length, job.key, 1, job.mode, watch_console, report);
  }
  job.pass_done = status == Status::kOk;
  return status;
}

// Everything up to the rewrite: the file, its direction, the answer, the
// password, and pass 1 into the scratch file.
Status prepare(Text name, const JobRequest& request, Job& job) {
  Status status = look_up(name, job.length);
  if (status != Status::kOk) return status;

  if (request.password != nullptr || job.change) {
    status = open_one_of_many(name, request, job);
  } else {
    const fs::Status user = files::open_user_file(name.bytes, name.length);
    const fs::Status scratch = files::open_scratch_file(name.bytes, name.length);
    if (user.code == fs::Code::kInUse) return Status::kInUse;
    if (!user.ok()) return Status::kWriteProtected;
    status = scratch_status(scratch);
    if (status == Status::kOk) status = note_opened_file();
    if (status == Status::kOk) status = refuse_unrestored(name);
    if (status == Status::kOk) status = classify_file(job, true);
    if (status == Status::kOk) status = console_ok();
    if (status == Status::kOk) status = confirm(job, request.wanted);
    if (status == Status::kOk) status = take_password(job.mode, request, job.key, job.check_block);
    if (status == Status::kOk) status = console_ok();
  }
  if (status != Status::kOk) return status;
  return write_scratch(job, true);
}

// The direction of pass 2, and the length it writes: a password change
// writes the file back as an encryption does, at the length it had.
signed char rewrite_mode(const Job& job) { return job.change ? 1 : job.mode; }

int rewritten_length(const Job& job) {
  if (job.change) return job.length;
  return job.length + (job.mode == 1 ? cipher::kHeaderSize : -cipher::kHeaderSize);
}

// From the end of pass 1 to the rewrite: what makes the rewrite safe. The
// scratch file is put on the device here unless `scratch_synced` says it
// is already; the note is synced with `sync_note`.
Status make_ready(Text name, Job& job, bool scratch_synced, bool sync_note) {
  // The next pass writes over the user file: before that, the scratch file
  // must hold every byte, on the device.
  Status status = scratch_synced ? Status::kOk : write_status(files::sync_unit(files::kScratchUnit));
  if (status == Status::kOk && terminal::interrupted()) status = Status::kInterrupted;
  if (status == Status::kOk) status = console_ok();
  // What pass 1 read must still be what the name gives: nobody has changed
  // the file or put another in its place since the open. Comparing an
  // encryption's blocks takes the file's own tables again.
  if (status == Status::kOk) status = check_before_rewrite(name);
  if (status == Status::kOk && job.mode == 1) {
    cipher::seed_generator(job.stream_state);
    cipher::prepare_tables(job.key, job.mode);
  }
  if (status == Status::kOk) status = check_content_before_rewrite(job.mode, job.length);
  // Where every block that pass 2 overwrites takes a new one, the space for
  // them must be there before it starts, or it would run out midway.
  if (status == Status::kOk) status = write_status(files::room_to_overwrite(files::kUserUnit, rewritten_length(job)));
  // From the first write on, the scratch file is the complete copy: its
  // note says of which file. Only a scratch file already on the device gets
  // one, and its name goes to the device with the note's.
  if (status == Status::kOk) status = write_note(name, sync_note);
  return status;
}

// Pass 2 over the user file, up to setting its new length. The note is put
// on the device first unless `note_synced` says it is already.
Status overwrite(Job& job, bool note_synced, bool report) {
  Status status = note_synced ? Status::kOk : write_status(files::sync_note());
  // Pass 2 writes the user file from where this rewind leaves it, and reads
  // the body from where the header skip leaves it: of the scratch file when
  // encrypting, of the user file itself (unit 4) when decrypting. Neither may
  // have failed.
  if (status == Status::kOk) status = write_status(files::rewind_unit(files::kUserUnit));
  if (status == Status::kOk) status = write_status(files::rewind_unit(files::kScratchUnit));
  if (status == Status::kOk && rewrite_mode(job) == -1) {
    status = write_status(files::open_read_back());
    if (status == Status::kOk) {
      status = read_status(files::read_bytes(files::kReadBackUnit, job.header, cipher::kMarkerSize));
    }
    if (status == Status::kOk) {
      status = read_status(files::read_bytes(files::kReadBackUnit, job.check_block, cipher::kCheckBlockSize));
    }
  }
  if (status != Status::kOk) return status;

  // From here on console text that cannot be written is no reason to stop:
  // the top reports it once the file is whole. Pass 2 watches that nobody
  // cuts the file short or writes past its end meanwhile. A decryption's
  // tables continue from the file's own key setup.
  cipher::seed_generator(job.stream_state);
  job.pass_reached = 2;
  job.pass_done = false;
  status = run_pass(rewritten_length(job), job.key, 2, rewrite_mode(job), check_while_rewriting, report);
  job.pass_done = status == Status::kOk;
  if (status != Status::kOk) return status;

  // The file's new length is set once, here, after the last byte written.
  return write_status(files::set_end(files::kUserUnit));
}

// The scratch file goes only once the user file is safely on the device
// (synced here unless `user_synced` says it is already), whole, and still
// the file that the name gives.
Status finish(Text name, Job& job, bool user_synced) {
  Status status = user_synced ? Status::kOk : write_status(files::sync_unit(files::kUserUnit));
  if (status == Status::kOk) status = check_after_rewrite(name, rewritten_length(job));
  if (status != Status::kOk) return status;
  job.time_restored = restore_write_time();
  files::close_unit(files::kUserUnit);
  files::close_unit(files::kScratchUnit);
  return Status::kOk;
}

void write_ending(const Job& job) {
  write_completion(job.change ? 0 : job.mode);
  // The data is right all the same: a warning, and the job is done.
  if (!job.time_restored) write_record({kCarriageReturn, texts::kTimeNotRestored}, false);
}

// Pass 2 over the user file and what makes it safe, up to the completion.
Status rewrite(Text name, Job& job) {
  Status status = make_ready(name, job, false, true);
  if (status == Status::kOk) status = overwrite(job, true, true);
  if (status == Status::kOk) status = finish(name, job, false);
  if (status == Status::kOk) write_ending(job);
  return status;
}

}  // namespace

JobResult end_job(Status status, int width) {
  const JobResult result{status, files::user_file_written(), files::scratch_must_be_kept(), width};
  files::close_all_units();
  files::end_note(result.scratch_kept);
  return result;
}

namespace {

// The jobs' storage, one a slot (see units.h): fixed, as the keys in it are
// kept secret (locked, and wiped at every ending, when no job's frame is
// left to hold them).
Job job_storage[files::kFilesInFlight];

Job& current_job() { return job_storage[files::selected_slot()]; }

JobResult run_job(Text name, const JobRequest& request, bool change) {
  Job& job = current_job();
  job = Job();
  job.change = change;
  Status status = prepare(name, request, job);
  if (status == Status::kOk) status = rewrite(name, job);
  return end_job(status, job.width);
}

}  // namespace

JobResult rewrite_in_place(Text name, const JobRequest& request) { return run_job(name, request, false); }

JobResult change_password(Text name, const JobRequest& request) { return run_job(name, request, true); }

Status start_in_group(Text name, int length, const JobRequest& request) {
  Job& job = current_job();
  job = Job();
  job.length = length;
  Status status = open_one_of_many(name, request, job);
  if (status == Status::kOk) status = write_scratch(job, false);
  // The slot is left with nothing pending (see units.h).
  if (status == Status::kOk) status = write_status(files::flush_unit(files::kScratchUnit));
  return status;
}

Status ready_in_group(Text name, bool scratch_synced) { return make_ready(name, current_job(), scratch_synced, false); }

Status rewrite_in_group(bool note_synced) { return overwrite(current_job(), note_synced, false); }

Status finish_in_group(Text name, bool user_synced) { return finish(name, current_job(), user_synced); }

int group_job_width() { return current_job().width; }

void show_group_job(Status status) {
  const Job& job = current_job();
  for (unsigned char pass = 1; pass <= job.pass_reached; ++pass) {
    const signed char mode = pass == 1 ? job.mode : rewrite_mode(job);
    const int length = pass == 1 ? job.length : rewritten_length(job);
    replay_progress(length, pass_label(mode, pass), pass < job.pass_reached || job.pass_done);
  }
  if (status == Status::kOk) write_ending(job);
}

}  // namespace fcloak::run
