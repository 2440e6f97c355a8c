// The thread's last error: every call of the platform layer that fails (and
// the few that report success explicitly) leaves its code here.

#include "platform/linux_internal.h"
#include "platform/win32_api.h"

namespace linux_platform {
namespace {

thread_local DWORD last_error = ERROR_SUCCESS;

}  // namespace

void SetError(DWORD code) { last_error = code; }

}  // namespace linux_platform

extern "C" DWORD GetLastError(void) { return linux_platform::last_error; }
