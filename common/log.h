// The diagnostic log: one time-stamped line per call, appended to the file
// named after the plug-in module with ".LOG" added.
#pragma once

#include "platform/win32_api.h"

// Formats one line with the platform's formatter (%d, %x, %s) and appends
// it to the log. Never fails from the caller's point of view.
void LogMessage(const char* format, ...);
