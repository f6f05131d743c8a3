#include "common/utf8.h"

namespace {

constexpr char32_t replacement = 0xFFFD;

bool isCodePoint(char32_t c) { return c < 0x110000 && !(c >= 0xD800 && c < 0xE000); }

void appendUtf8(std::string &text, char32_t c) {
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        text += static_cast<char>(0xE0 | (c >> 12));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (c >> 18));
        text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendWide(std::wstring &text, char32_t c) {
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
        c -= 0x10000;
        text += static_cast<wchar_t>(0xD800 + (c >> 10));
        text += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
        text += static_cast<wchar_t>(c);
    }
}

// The code point whose sequence starts at utf8[at], with `at` moved past it.
// A sequence that is cut short, overlong, a surrogate or beyond U+10FFFF is
// U+FFFD, and only the bytes that could have begun a valid one are taken, so
// that the next byte starts afresh; the end of the string is never passed.
char32_t nextCodePoint(const std::string &utf8, size_t &at) {
    const unsigned char lead = static_cast<unsigned char>(utf8[at++]);
    if (lead < 0x80)
        return lead;
    int following;
    char32_t c;
    // The range the second byte must fall in; the ones after it take any
    // continuation byte.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        following = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        following = 2;
        c = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        following = 3;
        c = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return replacement;
    }
    for (; following > 0; --following) {
        if (at >= utf8.size())
            return replacement;
        const unsigned char next = static_cast<unsigned char>(utf8[at]);
        if (next < low || next > high)
            return replacement;
        c = (c << 6) | (next & 0x3F);
        ++at;
        low = 0x80;
        high = 0xBF;
    }
    return c;
}

} // namespace

std::string utf8FromWide(const wchar_t *wide) {
    std::string text;
    if (wide == nullptr)
        return text;
    for (; *wide != 0; ++wide) {
        char32_t c = static_cast<char32_t>(*wide);
        // A high surrogate is followed at least by the terminating null, so
        // looking one further stays inside the string.
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00) {
            const char32_t next = static_cast<char32_t>(wide[1]);
            if (next >= 0xDC00 && next < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                ++wide;
            }
        }
        appendUtf8(text, isCodePoint(c) ? c : replacement);
    }
    return text;
}

std::wstring wideFromUtf8(const std::string &utf8) {
    std::wstring wide;
    for (size_t at = 0; at < utf8.size();)
        appendWide(wide, nextCodePoint(utf8, at));
    return wide;
}
