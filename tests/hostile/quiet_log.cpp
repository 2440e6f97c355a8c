// The log writer of the sweeps: every message is formatted exactly as the
// plug-ins format it (so a format that does not match its arguments is
// still caught), but not written: the sweeps make millions of calls, and
// writing a line costs a dozen system calls. The real writer is exercised
// by the concurrency tests through the loaded plug-ins.
#include <stdarg.h>

#include "common/log.h"

// Length of the last message formatted.
int g_quiet_log_length;

// The platform layer reports the attach; there is no file to name here.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

void LogMessage(const char* format, ...) {
  char message[2048];
  va_list args;
  va_start(args, format);
  g_quiet_log_length = wvsprintfA(message, format, args);
  va_end(args);
}
