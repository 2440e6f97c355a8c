// The Linux stand-ins for the Win32 text calls, checked against the Windows
// behaviour the plug-ins depend on: MultiByteToWideChar over UTF-8,
// lstrcmpiW's case folding and the wsprintf directives and limit.

#include <stdarg.h>
#include <string.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/win32_api.h"

namespace {

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

}  // namespace
