#include "common/log.h"

#include <stdarg.h>
#include <string.h>

#include "platform/win32_api.h"

namespace {

// Appends one formatted line behind the local date and time.
void AppendLine(LogBuffer* log, const char* format, va_list args) {
  if (kLogBufferBytes - log->used < kLogLineRoom) LogFlush(log);
  char* line = log->text + log->used;
  // The message is formatted first, so its arguments are consumed even
  // when the line is lost later.
  char message[1024];
  wvsprintfA(message, format, args);

  SYSTEMTIME now;
  GetLocalTime(&now);
  int length =
      wsprintfA(line, "%4d-%02d-%02d %02d:%02d:%02d ", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond);
  const uint32_t text = static_cast<uint32_t>(strlen(message));
  memcpy(line + length, message, text);
  length += static_cast<int>(text);
  line[length++] = '\r';
  line[length++] = '\n';
  log->used += static_cast<uint32_t>(length);
}

void AppendLineOf(LogBuffer* log, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendLine(log, format, args);
  va_end(args);
}

}  // namespace

void LogBegin(LogBuffer* log) {
  log->used = 0;
  log->lines = 0;
  log->dropped = 0;
  log->lost = false;
}

void LogFlush(LogBuffer* log) {
  if (log->used == 0) return;
  // One failed open loses this request's lines; it is not tried again.
  if (!log->lost && !AppendToLog(log->text, log->used)) log->lost = true;
  log->used = 0;
}

void LogFinish(LogBuffer* log) {
  if (log->dropped != 0) {
    AppendLineOf(log, kLogLinesLeftOut, log->dropped);
    log->dropped = 0;
  }
  LogFlush(log);
}

void LogLine(LogBuffer* log, const char* format, ...) {
  if (log->lines >= kLogRequestLines) {
    ++log->dropped;
    return;
  }
  ++log->lines;
  va_list args;
  va_start(args, format);
  AppendLine(log, format, args);
  va_end(args);
}
