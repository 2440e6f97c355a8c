// The attach notification as a plug-in receives it, recorded: the test
// executable and the test module (platform_test_module.cpp) each include
// this once, so each holds its own DllMain and record.
#pragma once

#include "platform/win32_api.h"

namespace {
HINSTANCE attached_handle;
DWORD attach_calls;
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    attached_handle = instance;
    ++attach_calls;
  }
  return TRUE;
}
