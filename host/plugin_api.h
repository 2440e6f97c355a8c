// The viewer's side of the plug-in interface: the record types the host
// exchanges with a plug-in and the function types of its exports, declared
// the way the viewer calls them (WINAPI on 32-bit Windows).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "engine/plugin_abi.h"
#include "platform/win32_api.h"

// GetFile's output mode that writes into a directory.
const uint32_t kOutputDirectory = kOutputFile;

extern "C" {
typedef int32_t(WINAPI* GetPluginInfoFn)(int32_t index, LPSTR buffer,
                                         int32_t length);
typedef int32_t(WINAPI* GetPluginInfoWFn)(int32_t index, LPWSTR buffer,
                                          int32_t length);
typedef int32_t(WINAPI* IsSupportedFn)(LPCSTR name, uintptr_t head);
typedef int32_t(WINAPI* IsSupportedWFn)(LPCWSTR name, uintptr_t head);
typedef int32_t(WINAPI* GetPictureInfoFn)(LPCSTR source, intptr_t source_size,
                                          uint32_t mode, PictureInfo* info);
typedef int32_t(WINAPI* GetPictureInfoWFn)(LPCWSTR source, intptr_t source_size,
                                           uint32_t mode, PictureInfo* info);
typedef int32_t(WINAPI* GetPictureFn)(LPCSTR source, intptr_t source_size,
                                      uint32_t mode, HLOCAL* header,
                                      HLOCAL* pixels, ProgressCallback progress,
                                      intptr_t user_data);
typedef int32_t(WINAPI* GetArchiveInfoFn)(LPCSTR source, intptr_t source_size,
                                          uint32_t mode, HLOCAL* listing);
typedef int32_t(WINAPI* GetFileInfoFn)(LPCSTR source, intptr_t source_size,
                                       LPCSTR name, uint32_t mode,
                                       ArchiveFileInfo* info);
typedef int32_t(WINAPI* GetFileFn)(LPCSTR source, intptr_t entry,
                                   LPSTR destination, uint32_t mode,
                                   ProgressCallback progress,
                                   intptr_t user_data);
typedef HLOCAL(WINAPI* LocalFreeFn)(HLOCAL block);
typedef SIZE_T(WINAPI* LocalSizeFn)(HLOCAL block);
typedef LPVOID(WINAPI* LocalLockFn)(HLOCAL block);
typedef BOOL(WINAPI* LocalUnlockFn)(HLOCAL block);
}
