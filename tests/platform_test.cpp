// The Linux stand-ins for the Win32 calls, checked against the Windows
// behaviour that the plug-ins depend on.

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/accounting.h"
#include "platform/win32_api.h"

namespace {

HINSTANCE attached_handle;
int attach_calls;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    attached_handle = instance;
    ++attach_calls;
  }
  return TRUE;
}

namespace {

PlatformCounts Counts() {
  PlatformCounts counts;
  PlatformGetCounts(&counts);
  return counts;
}

std::u16string Utf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh directory for each file test.
class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/platform_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  HANDLE Open(const std::string& path, DWORD access, DWORD share,
              DWORD disposition) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  std::string dir_;
};

// ---------------------------------------------------------------------------
// Memory

TEST(LocalMemory, BlocksKeepTheirSizeAndAreCounted) {
  const int64_t before = Counts().local_blocks;
  HLOCAL empty = LocalAlloc(LMEM_FIXED, 0);
  HLOCAL small = LocalAlloc(LMEM_FIXED, 7);
  HLOCAL large = LocalAlloc(LMEM_FIXED, 1 << 20);
  ASSERT_NE(empty, nullptr);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(large, nullptr);
  EXPECT_NE(empty, small);
  EXPECT_EQ(LocalSize(empty), 0u);
  EXPECT_EQ(LocalSize(small), 7u);
  EXPECT_EQ(LocalSize(large), 1u << 20);
  EXPECT_EQ(Counts().local_blocks, before + 3);

  // Fixed blocks: the handle is the address, and unlocking keeps it usable.
  unsigned char* bytes = static_cast<unsigned char*>(LocalLock(large));
  EXPECT_EQ(static_cast<void*>(bytes), large);
  bytes[0] = 1;
  bytes[(1 << 20) - 1] = 2;
  EXPECT_TRUE(LocalUnlock(large));
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[(1 << 20) - 1], 2);

  EXPECT_EQ(LocalFree(empty), nullptr);
  EXPECT_EQ(LocalFree(small), nullptr);
  EXPECT_EQ(LocalFree(large), nullptr);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
  EXPECT_EQ(Counts().local_blocks, before);
}

TEST(LocalMemory, ZeroInitAndUnsatisfiableRequests) {
  const int64_t before = Counts().local_blocks;
  HLOCAL zeroed = LocalAlloc(LPTR, 4096);
  ASSERT_NE(zeroed, nullptr);
  const unsigned char* bytes = static_cast<unsigned char*>(zeroed);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(bytes[i], 0) << i;
  LocalFree(zeroed);

  // Sizes that cannot be satisfied or would overflow the size header.
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, SIZE_MAX), nullptr);
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, SIZE_MAX - 8), nullptr);
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, SIZE_T{1} << 50), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, SIZE_MAX), nullptr);
  EXPECT_EQ(Counts().local_blocks, before);
}

TEST(LocalMemory, ChosenAllocationFailsOnceAcrossBothAllocators) {
  const PlatformCounts before = Counts();
  PlatformFailAllocation(3);
  HLOCAL first = LocalAlloc(LMEM_FIXED, 16);
  LPVOID second = HeapAlloc(GetProcessHeap(), 0, 16);
  HLOCAL third = LocalAlloc(LMEM_FIXED, 16);
  LPVOID fourth = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 16);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(third, nullptr);
  EXPECT_NE(fourth, nullptr);
  EXPECT_EQ(Counts().local_blocks, before.local_blocks + 1);
  EXPECT_EQ(Counts().heap_blocks, before.heap_blocks + 2);
  LocalFree(first);
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, second));
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, fourth));

  // Switched off: nothing fails.
  PlatformFailAllocation(1);
  PlatformFailAllocation(0);
  HLOCAL block = LocalAlloc(LMEM_FIXED, 1);
  EXPECT_NE(block, nullptr);
  LocalFree(block);
  EXPECT_EQ(Counts().local_blocks, before.local_blocks);
  EXPECT_EQ(Counts().heap_blocks, before.heap_blocks);
}

// ---------------------------------------------------------------------------
// Files

TEST_F(FileTest, WriteSeekReadAndSize) {
  const int64_t open_before = Counts().open_files;
  // CREATE_ALWAYS empties an existing file.
  WriteAll(Path("data"), std::string(100, 'z'));
  HANDLE file =
      Open(Path("data"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_NE(file, nullptr);
  EXPECT_EQ(Counts().open_files, open_before + 1);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "0123456789", 10, &written, nullptr));
  EXPECT_EQ(written, 10u);
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(file, &high), 10u);
  EXPECT_EQ(high, 0u);

  EXPECT_EQ(SetFilePointer(file, 3, nullptr, FILE_BEGIN), 3u);
  char buffer[16] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(file, buffer, 4, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "3456");
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_CURRENT), 5u);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 10u);
  // Reading at the end succeeds with fewer bytes than asked.
  EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_END), 7u);
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "789");
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 0u);
  // A seek before the start fails.
  EXPECT_EQ(SetFilePointer(file, -20, nullptr, FILE_BEGIN),
            INVALID_SET_FILE_POINTER);

  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(Counts().open_files, open_before);
  EXPECT_EQ(ReadAll(Path("data")), "0123456789");
}

TEST_F(FileTest, InvalidHandlesFail) {
  char buffer[4];
  DWORD got = 123;
  EXPECT_FALSE(ReadFile(nullptr, buffer, 4, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buffer, 4, &got, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, buffer, 4, &got, nullptr));
  EXPECT_EQ(GetFileSize(INVALID_HANDLE_VALUE, nullptr), INVALID_FILE_SIZE);
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST_F(FileTest, CreateNewRefusesAnExistingFile) {
  WriteAll(Path("taken.bmp"), "old");
  HANDLE file = Open(Path("taken.bmp"), GENERIC_WRITE, 0, CREATE_NEW);
  EXPECT_EQ(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadAll(Path("taken.bmp")), "old");

  file = Open(Path("fresh.bmp"), GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  struct stat info;
  EXPECT_EQ(stat(Path("fresh.bmp").c_str(), &info), 0);
}

TEST_F(FileTest, OpenAlwaysCreatesThenKeepsContent) {
  // The log's pattern: open or create, move to the end, append.
  for (const char* line : {"first\r\n", "second\r\n"}) {
    HANDLE file = Open(Path("x.LOG"), GENERIC_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
    CloseHandle(file);
  }
  EXPECT_EQ(ReadAll(Path("x.LOG")), "first\r\nsecond\r\n");
}

TEST_F(FileTest, ShareModeZeroIsExclusive) {
  WriteAll(Path("doc.psd"), "8BPS");
  HANDLE holder = Open(Path("doc.psd"), GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);

  // Same thread, another thread, any access, any disposition: all refused.
  HANDLE second =
      Open(Path("doc.psd"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  HANDLE from_thread = nullptr;
  DWORD thread_error = 0;
  std::thread other([&] {
    from_thread = Open(Path("doc.psd"), GENERIC_WRITE, 0, OPEN_ALWAYS);
    thread_error = GetLastError();
  });
  other.join();
  EXPECT_EQ(from_thread, INVALID_HANDLE_VALUE);
  EXPECT_EQ(thread_error, ERROR_SHARING_VIOLATION);
  // A refused CREATE_ALWAYS must not have truncated the held file.
  EXPECT_EQ(Open(Path("doc.psd"), GENERIC_WRITE, 0, CREATE_ALWAYS),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadAll(Path("doc.psd")), "8BPS");

  CloseHandle(holder);
  HANDLE after = Open(Path("doc.psd"), GENERIC_READ, 0, OPEN_EXISTING);
  EXPECT_NE(after, INVALID_HANDLE_VALUE);
  CloseHandle(after);
}

TEST_F(FileTest, SharedReadersCoexistButExcludeAWriter) {
  WriteAll(Path("doc.psd"), "8BPS");
  HANDLE a =
      Open(Path("doc.psd"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  HANDLE b =
      Open(Path("doc.psd"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(a, INVALID_HANDLE_VALUE);
  EXPECT_NE(b, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(Path("doc.psd"), GENERIC_WRITE, 0, OPEN_ALWAYS),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(a);
  CloseHandle(b);
}

TEST_F(FileTest, MissingFilesDirectoriesAndErrors) {
  EXPECT_EQ(
      Open(Path("absent.psd"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
      INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(Path("no/such/dir/x.psd"), GENERIC_READ, FILE_SHARE_READ,
                 OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open(Path("no/x.bmp"), GENERIC_WRITE, 0, CREATE_NEW),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  // A directory is not a document.
  const int64_t open_before = Counts().open_files;
  EXPECT_EQ(Open(dir_, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Counts().open_files, open_before);
}

TEST_F(FileTest, WideNamesBackslashesAndDelete) {
  ASSERT_EQ(mkdir(Path("out").c_str(), 0777), 0);
  // "out\<e-acute><U+1F600>.bmp": backslash separator, Latin-1 and a
  // character outside the basic plane.
  std::u16string name = Utf16(dir_ + "/out\\");
  name += u"\u00e9\U0001F600.bmp";
  HANDLE file =
      CreateFileW(reinterpret_cast<LPCWSTR>(name.c_str()), GENERIC_WRITE, 0,
                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written;
  WriteFile(file, "BM", 2, &written, nullptr);
  CloseHandle(file);
  const std::string utf8 = Path("out/\xC3\xA9\xF0\x9F\x98\x80.bmp");
  EXPECT_EQ(ReadAll(utf8), "BM");

  EXPECT_TRUE(DeleteFileW(reinterpret_cast<LPCWSTR>(name.c_str())));
  struct stat info;
  EXPECT_NE(stat(utf8.c_str(), &info), 0);
  EXPECT_FALSE(DeleteFileW(reinterpret_cast<LPCWSTR>(name.c_str())));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileTest, HandleIsNeverZero) {
  // With standard input closed, the next descriptor the system hands out is
  // 0, which would read as "no handle".
  WriteAll(Path("doc.psd"), "8BPS");
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  HANDLE file =
      Open(Path("doc.psd"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  dup2(saved, 0);
  close(saved);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_NE(file, nullptr);
  char buffer[4];
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(file, buffer, 4, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "8BPS");
  CloseHandle(file);
}

// ---------------------------------------------------------------------------
// Text

std::u16string Convert(const std::string& bytes, int length) {
  WCHAR out[64];
  int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes.c_str(), length,
                              out, 64);
  return std::u16string(reinterpret_cast<const char16_t*>(out),
                        static_cast<size_t>(n));
}

TEST(MultiByteToWideChar, LengthsAndTerminator) {
  // -1: the terminator is converted and counted.
  EXPECT_EQ(Convert("abc", -1), std::u16string(u"abc\0", 4));
  EXPECT_EQ(Convert("abc", 2), u"ab");
  // An explicit length converts embedded zeros like any other byte.
  EXPECT_EQ(Convert(std::string("a\0b", 3), 3), std::u16string(u"a\0b", 3));
  // Destination length 0 asks for the size.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xC3\xA9t\xC3\xA9", -1, nullptr, 0),
            4);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xF0\x9F\x98\x80", 4, nullptr, 0),
            2);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "x", 0, nullptr, 0), 0);
}

TEST(MultiByteToWideChar, DestinationTooSmall) {
  WCHAR out[8];
  for (WCHAR& c : out) c = u'#';
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcd", -1, out, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(out[4], u'#');  // nothing past the given length
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcd", -1, out, 5), 5);
  EXPECT_EQ(out[4], 0);
  // A surrogate pair needs both units.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xF0\x9F\x98\x80", 4, out, 1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(MultiByteToWideChar, DecodesAndReplacesIllFormedSequences) {
  EXPECT_EQ(Convert("\xC3\xA9\xE2\x82\xAC", 5), u"\u00e9\u20ac");
  EXPECT_EQ(Convert("\xF0\x9F\x98\x80", 4), u"\U0001F600");
  EXPECT_EQ(Convert("\xF4\x8F\xBF\xBF", 4), u"\U0010FFFF");
  // A stray continuation byte, a truncated sequence followed by ASCII.
  EXPECT_EQ(Convert("a\x80z", 3), u"a\uFFFDz");
  EXPECT_EQ(Convert("\xE2\x82z", 3), u"\uFFFDz");
  // Overlong forms, encoded surrogates and code points above U+10FFFF.
  EXPECT_EQ(Convert("\xC0\xAF", 2), u"\uFFFD\uFFFD");
  EXPECT_EQ(Convert("\xE0\x80\x80", 3), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Convert("\xED\xA0\x80", 3), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Convert("\xF4\x90\x80\x80", 4), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Convert("\xFF", 1), u"\uFFFD");
  // Cut at the end of the input.
  EXPECT_EQ(Convert("a\xF0\x9F\x98", 4), u"a\uFFFD");
  WCHAR out[4];
  EXPECT_EQ(
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "a\x80", 2, out, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

int CompareWide(const char16_t* a, const char16_t* b) {
  return lstrcmpiW(reinterpret_cast<LPCWSTR>(a), reinterpret_cast<LPCWSTR>(b));
}

TEST(LstrcmpiW, FoldsAsciiAndLatin1) {
  EXPECT_EQ(CompareWide(u".PSD", u".psd"), 0);
  EXPECT_EQ(CompareWide(u".Psb", u".pSB"), 0);
  EXPECT_EQ(CompareWide(u"\u00C9T\u00C9", u"\u00e9t\u00e9"), 0);
  EXPECT_NE(CompareWide(u".psd", u".psb"), 0);
  EXPECT_LT(CompareWide(u"ABC", u"abd"), 0);
  EXPECT_GT(CompareWide(u"abd", u"ABC"), 0);
  EXPECT_LT(CompareWide(u".ps", u".psd"), 0);
  EXPECT_GT(CompareWide(u".psd", u".ps"), 0);
  // The multiplication sign has no case partner.
  EXPECT_NE(CompareWide(u"\u00D7", u"\u00F7"), 0);
}

std::string FormatA(const char* format, ...) {
  char out[2048];
  va_list args;
  va_start(args, format);
  int n = wvsprintfA(out, format, args);
  va_end(args);
  EXPECT_EQ(n, static_cast<int>(strlen(out)));
  return out;
}

TEST(Wsprintf, IntegerDirectives) {
  EXPECT_EQ(FormatA("%d|%i|%u", -5, 42, 7u), "-5|42|7");
  EXPECT_EQ(FormatA("%u", -1), "4294967295");
  EXPECT_EQ(FormatA("%x %X", -1, 0xBEEF), "ffffffff BEEF");
  EXPECT_EQ(FormatA("%lx %ld %lu", 0x1234, -2147483647 - 1, 3u),
            "1234 -2147483648 3");
  EXPECT_EQ(FormatA("[%4d][%-4d][%04d][%05d]", 7, 7, 7, -42),
            "[   7][7   ][0007][-0042]");
  EXPECT_EQ(FormatA("[%-04d]", 7), "[7   ]");
  EXPECT_EQ(FormatA("%.3d %#x", 5, 255), "005 0xff");
  // The log's time stamp.
  EXPECT_EQ(FormatA("%4d-%02d-%02d %02d:%02d:%02d ", 2026, 3, 5, 14, 7, 9),
            "2026-03-05 14:07:09 ");
  EXPECT_EQ(FormatA("%4d-", 987), " 987-");
  EXPECT_EQ(FormatA("layer%04d.bmp", 12345), "layer12345.bmp");
}

TEST(Wsprintf, CharactersStringsAndPercent) {
  EXPECT_EQ(FormatA("%c%c %% 100%%", 'o', 'k'), "ok % 100%");
  EXPECT_EQ(FormatA("[%s][%5s][%-5s][%.2s]", "ab", "ab", "ab", "abc"),
            "[ab][   ab][ab   ][ab]");
  EXPECT_EQ(FormatA("%s", static_cast<const char*>(nullptr)), "(null)");
  // Wide arguments in the narrow formatter come out as UTF-8.
  EXPECT_EQ(FormatA("%ls|%S", u"\u00e9", u"x\U0001F600"),
            "\xC3\xA9|x\xF0\x9F\x98\x80");

  WCHAR wide[64];
  int n = wsprintfW(wide, reinterpret_cast<LPCWSTR>(u"%s\\layer%04d.%hs [%x]"),
                    u"dir", 3, "bmp", 255);
  EXPECT_EQ(
      std::u16string(reinterpret_cast<char16_t*>(wide), static_cast<size_t>(n)),
      u"dir\\layer0003.bmp [ff]");
  n = wsprintfW(wide, reinterpret_cast<LPCWSTR>(u"%S"), "\xC3\xA9");
  EXPECT_EQ(n, 1);
  EXPECT_EQ(wide[0], 0xE9);
}

TEST(Wsprintf, OutputStopsAt1024Units) {
  const std::string long_text(3000, 'x');
  std::vector<char> out(4096, '#');
  int n = wsprintfA(out.data(), "%s%d", long_text.c_str(), 5);
  EXPECT_EQ(n, 1023);
  EXPECT_EQ(out[1022], 'x');
  EXPECT_EQ(out[1023], '\0');
  EXPECT_EQ(out[1024], '#');

  // Padding counts against the limit too.
  n = wsprintfA(out.data(), "ab%2000d", 1);
  EXPECT_EQ(n, 1023);
  EXPECT_EQ(out[1023], '\0');
  EXPECT_EQ(out[1024], '#');

  std::vector<WCHAR> wide(2048, u'#');
  std::u16string wide_text(1500, u'y');
  n = wsprintfW(wide.data(), reinterpret_cast<LPCWSTR>(u"%s"),
                wide_text.c_str());
  EXPECT_EQ(n, 1023);
  EXPECT_EQ(wide[1023], 0);
  EXPECT_EQ(wide[1024], u'#');
}

// ---------------------------------------------------------------------------
// The module and the clock

std::string ExecutablePath() {
  char path[PATH_MAX];
  EXPECT_NE(realpath("/proc/self/exe", path), nullptr);
  return path;
}

TEST(Module, AttachNotificationNamesTheExecutable) {
  EXPECT_EQ(attach_calls, 1);
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
  EXPECT_EQ(attach_calls, 1);
  dlclose(module);
}

TEST(Clock, LocalTimeMatchesTheCalendar) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    time_t now = time(nullptr);
    SYSTEMTIME local;
    GetLocalTime(&local);
    if (time(nullptr) != now) continue;  // a second boundary passed
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
