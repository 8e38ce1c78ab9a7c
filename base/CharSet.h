// Text in the Windows character set: everything the program draws or writes into the managed
// drive is 8-bit Windows-1252 text, while the command line and the desktop speak UTF-8.
#pragma once

#include <string>

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
bool CharIsUtf8(const std::string& text);
// UTF-8 text as Windows-1252; a character without a Windows-1252 form becomes '?'. Text that is
// not valid UTF-8 is taken to be Windows-1252 already and returned unchanged.
std::string CharUtf8ToWin(const std::string& text);
