// Whether a plug-in left a thread of its own running after a call: the
// threads of this process after the call against those before the first.
#pragma once

#include <stdint.h>

// Call before calling into a plug-in: counts the threads of the process
// the first time (the host runs on one thread and starts no others).
void NoteThreadsBefore();

// False, saying so on standard error, when more threads run now than
// before the first call. Counting is slow under wine (milliseconds), so on
// Windows it is done only after pictures of `picture_bytes` large enough
// for a plug-in to have split them over threads.
bool NoThreadLeft(const char* call, uint64_t picture_bytes);
