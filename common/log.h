// The diagnostic log: time-stamped lines appended to the file named after
// the plug-in module with ".LOG" added. A request gathers its lines in a
// LogBuffer and writes them with as few exclusive opens of the file as
// possible: when the buffer fills and when the request ends. A request
// writes at most kLogRequestLines lines (then one line counting the rest),
// and the file is bounded: past kLogFileCap bytes it becomes the same name
// with ".1" added (replacing an older one) and a new file starts.
#pragma once

#include <stdint.h>

// A stamp (20), the longest message the formatter writes (1023) and CR LF.
const uint32_t kLogLineRoom = 20 + 1023 + 2;
const uint32_t kLogBufferBytes = 8192;
const uint32_t kLogRequestLines = 128;
const uint32_t kLogFileCap = 1u << 20;

// The line that counts a request's lines past kLogRequestLines.
inline constexpr char kLogLinesLeftOut[] = "Log: %d more lines left out";

struct LogBuffer {
  char text[kLogBufferBytes];
  uint32_t used;
  uint32_t lines;    // lines of this request so far
  uint32_t dropped;  // lines past kLogRequestLines, not written
  bool lost;  // the file could not be opened: the request's lines are lost
};

void LogBegin(LogBuffer* log);

// Formats one line with the platform's formatter (%d, %x, %s) behind the
// local date and time. Never fails from the caller's point of view.
void LogLine(LogBuffer* log, const char* format, ...);

// Writes the lines gathered so far.
void LogFlush(LogBuffer* log);

// Ends the request's lines: the count of those left out, then the rest
// written.
void LogFinish(LogBuffer* log);

// Appends whole lines to the log file, holding it exclusively while it
// writes (log_file.cpp). False when the file cannot be opened.
bool AppendToLog(const char* bytes, uint32_t length);
