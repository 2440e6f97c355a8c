// The Linux stand-ins for the Win32 module and clock calls: the attach
// notification of the executable and of a shared object, the module path
// and GetLocalTime against the calendar.

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "gtest/gtest.h"
#include "platform/win32_api.h"
#include "platform_attach.h"

namespace {

std::string ExecutablePath() {
  char path[PATH_MAX];
  EXPECT_NE(realpath("/proc/self/exe", path), nullptr);
  return path;
}

TEST(Module, AttachNotificationNamesTheExecutable) {
  EXPECT_EQ(attach_calls, 1u);
  ASSERT_NE(attached_handle, nullptr);
  char path[MAX_PATH + 8];
  DWORD n = GetModuleFileNameA(attached_handle, path, MAX_PATH);
  EXPECT_EQ(std::string(path, n), ExecutablePath());
  n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  EXPECT_EQ(std::string(path, n), ExecutablePath());
}

TEST(Module, PathCutWhenTheBufferIsShort) {
  const std::string full = ExecutablePath();
  ASSERT_GT(full.size(), 5u);
  char path[16];
  memset(path, '#', sizeof path);
  DWORD n = GetModuleFileNameA(nullptr, path, 6);
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(path), full.substr(0, 5));
  EXPECT_EQ(path[6], '#');
}

TEST(Module, SharedObjectLearnsItsOwnPath) {
  void* module = dlopen(TEST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  typedef DWORD (*ModulePathFunction)(LPSTR, DWORD, DWORD*);
  ModulePathFunction module_path =
      reinterpret_cast<ModulePathFunction>(dlsym(module, "ModulePath"));
  ASSERT_NE(module_path, nullptr);
  char path[PATH_MAX];
  DWORD calls = 0;
  DWORD n = module_path(path, sizeof path, &calls);
  char expected[PATH_MAX];
  ASSERT_NE(realpath(TEST_MODULE_PATH, expected), nullptr);
  EXPECT_EQ(calls, 1u);
  EXPECT_EQ(std::string(path, n), expected);
  // The executable's own handle is untouched by the module's attach.
  EXPECT_EQ(attach_calls, 1u);
  dlclose(module);
}

TEST(Clock, LocalTimeMatchesTheCalendar) {
  // The seconds of the clock GetLocalTime reads (time() may lag it by a
  // tick).
  auto seconds = [] {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
  };
  for (int attempt = 0; attempt < 3; ++attempt) {
    time_t now = seconds();
    SYSTEMTIME local;
    GetLocalTime(&local);
    if (seconds() != now) continue;  // a second boundary passed
    struct tm expected;
    localtime_r(&now, &expected);
    EXPECT_EQ(local.wYear, expected.tm_year + 1900);
    EXPECT_EQ(local.wMonth, expected.tm_mon + 1);
    EXPECT_EQ(local.wDay, expected.tm_mday);
    EXPECT_EQ(local.wDayOfWeek, expected.tm_wday);
    EXPECT_EQ(local.wHour, expected.tm_hour);
    EXPECT_EQ(local.wMinute, expected.tm_min);
    EXPECT_EQ(local.wSecond, expected.tm_sec);
    EXPECT_LT(local.wMilliseconds, 1000);
    return;
  }
  FAIL() << "clock kept crossing second boundaries";
}

}  // namespace
