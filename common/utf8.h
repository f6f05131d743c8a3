#ifndef CLOAKCAM_COMMON_UTF8_H
#define CLOAKCAM_COMMON_UTF8_H

// The program's text is UTF-8; the system's wide strings are UTF-16 where
// wchar_t has 16 bits (Windows) and code points where it has 32. What is not
// valid text on one side becomes U+FFFD on the other.

#include <string>

// `wide` up to its terminating null; empty for a null pointer.
std::string utf8FromWide(const wchar_t *wide);

std::wstring wideFromUtf8(const std::string &utf8);

#endif
