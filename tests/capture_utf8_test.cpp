// Camera names come as the system's wide strings, and on Windows the title
// goes back as one.

#include "common/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf8, WideStringsAndUtf8TurnIntoEachOther) {
    // A surrogate pair where wchar_t has 16 bits, one code point where it has 32.
    const wchar_t wide[] = L"Cam\u00E9ra \u65E5\u672C \U0001F600";
    const std::string utf8 = "Cam\xC3\xA9ra \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
    EXPECT_EQ(utf8FromWide(wide), utf8);
    EXPECT_EQ(wideFromUtf8(utf8), wide);

    // What is not text becomes U+FFFD: a sequence the end cuts short, a stray
    // continuation byte, an overlong form, surrogates without their partner.
    EXPECT_EQ(wideFromUtf8("a\xF0\x9F\x98"), L"a\uFFFD");
    EXPECT_EQ(wideFromUtf8("\x80z\xC0\xAF"), L"\uFFFDz\uFFFD\uFFFD");
    const wchar_t lone[] = {L'a', wchar_t(0xD83D), L'z', wchar_t(0xDE00), wchar_t(0xD83D), 0};
    const std::string replaced = "\xEF\xBF\xBD";
    EXPECT_EQ(utf8FromWide(lone), "a" + replaced + "z" + replaced + replaced);
}

} // namespace
