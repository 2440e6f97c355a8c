#include "common/identity.h"

namespace {

const char kDescription[] =
    "PSD Plug-in Version 1.5+1 (flatview/layerpack PSD reader project)";

// "8BPS", the version (1, or 2 for the large-document format), six
// reserved zero bytes.
const uint8_t kSignature[12] = {0x38, 0x42, 0x50, 0x53, 0x00, 0x01,
                                0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const uint32_t kVersionByte = 5;

// Values below this are file handles the host opened; others are addresses.
const uintptr_t kFirstAddress = 0x10000;

const char* IdentityString(int32_t index) {
  switch (index) {
    case 0:
      return PLUGIN_INTERFACE_CODE;
    case 1:
      return kDescription;
    case 2:
      return "*.PSD";
    case 3:
      return "PSD";
    case 4:
      return "*.PSB";
    case 5:
      return "PSB";
    default:
      return "";
  }
}

bool HasSignature(const uint8_t* head) {
  for (uint32_t i = 0; i < 12; ++i) {
    const bool large = i == kVersionByte && head[i] == 2;
    if (head[i] != kSignature[i] && !large) return false;
  }
  return true;
}

template <typename Char>
const Char* LastDot(const Char* name) {
  const Char* dot = nullptr;
  for (const Char* p = name; *p != 0; ++p) {
    if (*p == '.') dot = p;
  }
  return dot;
}

// The extensions of the two formats, compared ignoring case.
const char kExtensions[2][5] = {".psd", ".psb"};

bool EqualsIgnoringAsciiCase(const char* text, const char* extension) {
  for (int i = 0; i < 5; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != extension[i]) return false;
  }
  return true;
}

bool IsDocumentExtension(const char* dot) {
  return EqualsIgnoringAsciiCase(dot, kExtensions[0]) ||
         EqualsIgnoringAsciiCase(dot, kExtensions[1]);
}

bool IsDocumentExtension(const WCHAR* dot) {
  return lstrcmpiW(dot, WIDE(".psd")) == 0 || lstrcmpiW(dot, WIDE(".psb")) == 0;
}

}  // namespace

PLUGIN_API int32_t WINAPI GetPluginInfo(int32_t index, LPSTR buffer,
                                        int32_t buffer_length) {
  if (buffer_length < 1) return 0;
  const char* text = IdentityString(index);
  int32_t n = 0;
  while (text[n] != 0 && n < buffer_length - 1) {
    buffer[n] = text[n];
    ++n;
  }
  buffer[n] = 0;
  return n;
}

PLUGIN_API int32_t WINAPI GetPluginInfoW(int32_t index, LPWSTR buffer,
                                         int32_t buffer_length) {
  if (buffer_length < 1) return 0;
  char narrow[80];
  GetPluginInfo(index, narrow, sizeof(narrow));
  MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, narrow, -1, buffer,
                      buffer_length);
  buffer[buffer_length - 1] = 0;
  int32_t n = 0;
  while (buffer[n] != 0) ++n;
  return n;
}

PLUGIN_API int32_t WINAPI IsSupportedW(LPCWSTR file_name, uintptr_t head) {
  if (head < kFirstAddress) {
    uint8_t bytes[2048];
    DWORD read = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(head), bytes, sizeof(bytes), &read,
                  nullptr)) {
      return 0;
    }
    // Bytes the handle did not deliver count as not matching.
    if (read >= 12 && HasSignature(bytes)) return 1;
  } else if (HasSignature(reinterpret_cast<const uint8_t*>(head))) {
    return 1;
  }
  if (file_name == nullptr) return 0;
  const WCHAR* dot = LastDot(file_name);
  if (dot == nullptr) return 0;
  return IsDocumentExtension(dot) ? 1 : 0;
}

PLUGIN_API int32_t WINAPI IsSupported(LPCSTR file_name, uintptr_t head) {
  if (IsSupportedW(nullptr, head) != 0) return 1;
  if (file_name == nullptr) return 0;
  const char* dot = LastDot(file_name);
  if (dot == nullptr) return 0;
  return IsDocumentExtension(dot) ? 1 : 0;
}
