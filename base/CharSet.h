// Text in the Windows character set: everything the program draws or writes into the managed
// drive is 8-bit Windows-1252 text, while the command line and the desktop speak UTF-8.
#pragma once

#include <cstdint>
#include <string>

// The code point a Windows-1252 byte stands for. The five unused places of the code page stand
// for the control characters of their own number, as the desktop reads them, so any byte
// survives the way there and back.
uint32_t CharWinToUnicode(unsigned char c);
// The Windows-1252 byte of a code point (the five unused places included); '?' when it has none.
char CharUnicodeToWin(uint32_t cp);

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
bool CharIsUtf8(const std::string& text);
// UTF-8 text as Windows-1252; a character without a Windows-1252 form becomes '?'. Text that is
// not valid UTF-8 is taken to be Windows-1252 already and returned unchanged.
std::string CharUtf8ToWin(const std::string& text);

// Appends the code point as UTF-8; one that is no character (a surrogate, beyond U+10FFFF) as U+FFFD.
void CharAppendUtf8(std::string& out, uint32_t cp);

// The Unicode code point of a byte of the Windows ANSI code page (1252); U+FFFD for its unused places.
uint32_t AnsiCodePoint(unsigned char c);
// Windows ANSI text (code page 1252) as UTF-8.
std::string AnsiToUtf8(const std::string& text);
