#include "host/progress.h"

#include "host/text.h"

namespace {

ProgressLog* g_progress = nullptr;
intptr_t g_next_token = 0x50524F47;  // any value that is no small integer

}  // namespace

intptr_t StartProgress(ProgressLog* log) {
  log->calls.clear();
  log->foreign_user_data = false;
  log->token = g_next_token++;
  g_progress = log;
  return log->token;
}

int32_t WINAPI RecordProgress(int32_t numerator, int32_t denominator,
                              intptr_t user_data) {
  if (g_progress != nullptr) {
    if (user_data != g_progress->token) g_progress->foreign_user_data = true;
    g_progress->calls.emplace_back(numerator, denominator);
  }
  return 0;
}

std::string DescribeProgress(const ProgressLog& log) {
  if (log.calls.empty()) return "none";
  std::string out;
  for (const auto& call : log.calls) {
    if (!out.empty()) out += " ";
    out += Format("(%d/%d)", call.first, call.second);
  }
  if (log.foreign_user_data) out += " with foreign user data";
  return out;
}
