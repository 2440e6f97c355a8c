// The progress callback psdhost passes to the plug-in, and what it recorded.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "host/plugin_api.h"

// A progress callback that records every call it receives. The user data
// passed to the plug-in is a token, never an address, so a plug-in that
// hands back a wrong value is reported instead of followed.
struct ProgressLog {
  intptr_t token = 0;
  bool foreign_user_data = false;  // a call came with another value
  std::vector<std::pair<int32_t, int32_t>> calls;
};
// Makes `log` the one that RecordProgress fills; returns the user data to
// pass along with RecordProgress.
intptr_t StartProgress(ProgressLog* log);
int32_t WINAPI RecordProgress(int32_t numerator, int32_t denominator,
                              intptr_t user_data);
// "(0/100) (100/100)", or "none"; " with foreign user data" when seen.
std::string DescribeProgress(const ProgressLog& log);
