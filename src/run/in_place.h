// The job in place: one file encrypted or decrypted where it lies, through
// the scratch file (see units.h), from the look-up to the completion line.
#pragma once

#include "console/text.h"
#include "run/status.h"

namespace fcloak::run {

// Runs the job on the file `name` as `request` says and returns how it
// ended; every unit is closed again (a scratch file that holds the only
// complete copy is kept), so the next job starts afresh. Writes the
// question, the progress lines and the completion, but not the message of
// an ending: that is the caller's.
JobResult rewrite_in_place(Text name, const JobRequest& request);

// Gives the encrypted file `name` a new password in place, by the same
// steps: pass 1 decrypts each block under the current password's key and
// encrypts it under the new one's into the scratch file (its header and new
// check block first), pass 2 writes the scratch file over the file. The
// plaintext is never written anywhere. kSkipPlain for a file that is not
// encrypted (nothing asked, nothing changed).
JobResult change_password(Text name, const JobRequest& request);

// A job of a group (see many.cpp): rewrite_in_place's steps for an
// encryption or a decryption with the run's password, one call each, on the
// selected slot's file (see units.h), so that the syncs between the steps
// can serve every file of the group at once: one sync of the whole file
// system, where the platform can promise one, or else the file's own. No
// progress line is shown as the passes go; once the job has ended,
// show_group_job replays them, and for a job done writes its completion.
// A failure is the job's ending (end_job).
//
// Step 1: the file of `length` bytes opened, classified and checked, its
// scratch file made and pass 1 written into it, nothing pending.
Status start_in_group(Text name, int length, const JobRequest& request);
// Step 2: the scratch file on the device (unless `scratch_synced`), the
// checks before the rewrite, the note written but not synced.
Status ready_in_group(Text name, bool scratch_synced);
// Step 3: the note on the device (unless `note_synced`), pass 2 over the
// user file and its new length.
Status rewrite_in_group(bool note_synced);
// Step 4: the user file on the device (unless `user_synced`), the checks
// after the rewrite, the time restored, the units closed.
Status finish_in_group(Text name, bool user_synced);
// The width of the job's ending message, for end_job.
int group_job_width();
void show_group_job(Status status);

// Closes every unit, keeping a scratch file that must be kept, and tells how
// the job ended; for every job.
JobResult end_job(Status status, int width);

}  // namespace fcloak::run
