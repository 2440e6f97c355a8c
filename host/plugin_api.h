// The viewer's side of the plug-in interface: the record types the host
// exchanges with a plug-in and the function types of its exports, declared
// the way the viewer calls them (WINAPI on 32-bit Windows).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "engine/serve/plugin_abi.h"
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
typedef HLOCAL(WINAPI* LocalFreeFn)(HLOCAL block);
typedef SIZE_T(WINAPI* LocalSizeFn)(HLOCAL block);
typedef LPVOID(WINAPI* LocalLockFn)(HLOCAL block);
typedef BOOL(WINAPI* LocalUnlockFn)(HLOCAL block);
}

// The picture and archive exports, as the plug-ins declare them.
typedef PictureInfoCall* GetPictureInfoFn;
typedef PictureInfoCallW* GetPictureInfoWFn;
typedef PictureCall* GetPictureFn;
typedef PictureCallW* GetPictureWFn;
typedef ArchiveInfoCall* GetArchiveInfoFn;
typedef FileInfoCall* GetFileInfoFn;
typedef FileCall* GetFileFn;
