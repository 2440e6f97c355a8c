// The Win32 surface the plug-ins use. On Windows this is the real API from
// <windows.h>; on Linux a small library (platform/linux_*.cpp) implements
// exactly these calls the way the plug-ins rely on them: the ANSI code page
// is UTF-8, wide strings are 16-bit UTF-16, local blocks are fixed (the
// handle is the address), file handles are small integers.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Wide literals: wchar_t is 16-bit on Windows.
#define WIDE(s) L##s

#define PLUGIN_API extern "C"

#else  // Linux

typedef int BOOL;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef unsigned int UINT;
typedef char16_t WCHAR;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef uintptr_t SIZE_T;
typedef uintptr_t DWORD_PTR;

#define WIDE(s) u##s
#define WINAPI
#define TRUE 1
#define FALSE 0

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAX_PATH 260
#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define HEAP_ZERO_MEMORY 0x00000008u
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define CP_ACP 0u
#define CP_UTF8 65001u
#define MB_PRECOMPOSED 0x00000001u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define DLL_PROCESS_DETACH 0u
#define DLL_PROCESS_ATTACH 1u
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_HANDLE_EOF 38u
#define ERROR_DISK_FULL 112u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_NEGATIVE_SEEK 131u
#define ERROR_NO_UNICODE_TRANSLATION 1113u
#define ERROR_ALREADY_EXISTS 183u
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_FAILED 0xFFFFFFFFu

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

// The position of a read (Offset, OffsetHigh); the other fields are not
// used here.
typedef struct _OVERLAPPED {
  uintptr_t Internal;
  uintptr_t InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

// What GetSystemInfo reports; only the processor count is filled in.
typedef struct _SYSTEM_INFO {
  WORD wProcessorArchitecture;
  WORD wReserved;
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID parameter);

typedef struct tagBITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
} BITMAPINFOHEADER;

typedef struct tagRGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
} RGBQUAD;

#pragma pack(push, 2)
typedef struct tagBITMAPFILEHEADER {
  WORD bfType;
  DWORD bfSize;
  WORD bfReserved1;
  WORD bfReserved2;
  DWORD bfOffBits;
} BITMAPFILEHEADER;
#pragma pack(pop)

#define PLUGIN_API extern "C" __attribute__((visibility("default")))

extern "C" {
// Local memory: fixed blocks, the handle is the address.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
LPVOID LocalLock(HLOCAL block);
BOOL LocalUnlock(HLOCAL block);
SIZE_T LocalSize(HLOCAL block);
HLOCAL LocalFree(HLOCAL block);

// The process heap.
HANDLE GetProcessHeap(void);
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);
HANDLE HeapCreate(DWORD options, SIZE_T initial, SIZE_T maximum);
BOOL HeapDestroy(HANDLE heap);

// Files. Share mode 0 is an exclusive open: a second open of the same file
// fails while the first is held, as on Windows. ReadFile with an OVERLAPPED
// reads at its offset (on a synchronous handle, as on Windows: at or past
// the end it fails with ERROR_HANDLE_EOF).
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* security,
                   DWORD disposition, DWORD attributes, HANDLE template_file);
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void* security,
                   DWORD disposition, DWORD attributes, HANDLE template_file);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD bytes_read,
              void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes,
               LPDWORD bytes_written, void* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high,
                     DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD size_high);
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileW(LPCWSTR name);
BOOL MoveFileExA(LPCSTR existing, LPCSTR new_name, DWORD flags);
DWORD GetLastError(void);

// Text. CP_ACP is UTF-8.
int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR source,
                        int source_length, LPWSTR destination,
                        int destination_length);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);
int wsprintfA(LPSTR out, LPCSTR format, ...);
int wsprintfW(LPWSTR out, LPCWSTR format, ...);
int wvsprintfA(LPSTR out, LPCSTR format, va_list args);

// Threads: one runs `start` until it returns; a wait (INFINITE only) joins
// it, and CloseHandle frees the handle. The processor count and the
// process's affinity mask (of the first 64 processors) come from the system.
HANDLE CreateThread(void* security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD id);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
void GetSystemInfo(LPSYSTEM_INFO info);
HANDLE GetCurrentProcess(void);
BOOL GetProcessAffinityMask(HANDLE process, DWORD_PTR* process_mask,
                            DWORD_PTR* system_mask);

// The module and the clock.
DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size);
void GetLocalTime(LPSYSTEMTIME time);
}

#endif  // _WIN32

// The attach and detach notifications. On Windows the loader sends them; on
// Linux the platform layer (linux_module.cpp) sends them when the binary it
// is linked into, a plug-in or a program, is loaded and unloaded, with a
// handle that GetModuleFileNameA resolves to that binary's own path.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason,
                               LPVOID reserved);
