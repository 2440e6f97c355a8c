// Identity strings and the format probe that both plug-ins export.
#pragma once

#include "platform/win32_api.h"

#ifndef PLUGIN_INTERFACE_CODE
#error "PLUGIN_INTERFACE_CODE must name the plug-in's interface (00IN, 00AM)"
#endif

PLUGIN_API int32_t WINAPI GetPluginInfo(int32_t index, LPSTR buffer,
                                        int32_t buffer_length);
PLUGIN_API int32_t WINAPI GetPluginInfoW(int32_t index, LPWSTR buffer,
                                         int32_t buffer_length);
PLUGIN_API int32_t WINAPI IsSupported(LPCSTR file_name, uintptr_t head);
PLUGIN_API int32_t WINAPI IsSupportedW(LPCWSTR file_name, uintptr_t head);
