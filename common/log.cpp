#include "common/log.h"

#include <string.h>

#include "platform/win32_api.h"

void LogBegin(LogBuffer* log) {
  log->used = 0;
  log->lost = false;
}

void LogFlush(LogBuffer* log) {
  if (log->used == 0) return;
  // One failed open loses this request's lines; it is not tried again.
  if (!log->lost && !AppendToLog(log->text, log->used)) log->lost = true;
  log->used = 0;
}

void LogLine(LogBuffer* log, const char* format, ...) {
  if (kLogBufferBytes - log->used < kLogLineRoom) LogFlush(log);
  char* line = log->text + log->used;
  // The message is formatted first, so its arguments are consumed even
  // when the line is lost later.
  char message[1024];
  va_list args;
  va_start(args, format);
  wvsprintfA(message, format, args);
  va_end(args);

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
