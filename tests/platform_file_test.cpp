// The Linux stand-ins for the Win32 file calls, checked against the Windows
// behaviour the plug-ins depend on: creation dispositions, sharing, seeking,
// errors, wide names with backslashes, and handles that are never zero.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "platform/win32_api.h"
#include "platform_test_support.h"

namespace {

using platformtest::Counts;

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

}  // namespace
