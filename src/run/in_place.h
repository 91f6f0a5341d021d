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

// Closes every unit, keeping a scratch file that must be kept, and tells how
// the job ended; for every job.
JobResult end_job(Status status, int width);

}  // namespace fcloak::run
