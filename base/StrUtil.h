// Small text helpers shared by every layer. Letter case is ASCII only: names and keys are
// compared as Windows compares them, and 8-bit characters stay as they are.
#pragma once

#include <cstdint>
#include <string>

// Without leading and trailing blanks and control characters (every byte up to ' ').
std::string StrTrim(const std::string& s);
// 'A'-'Z' turned to 'a'-'z'.
std::string StrLower(std::string s);
// 'a'-'z' turned to 'A'-'Z'.
std::string StrUpper(std::string s);

// Equal but for the letter case of 'a'-'z', as Windows compares names.
bool SameText(const std::string& a, const std::string& b);
// 1-based position of needle in text at or after start; 0 when none or either is empty.
int PosFrom(const std::string& needle, const std::string& text, int start);
// Replaces every occurrence of oldText; empty text when newText contains oldText.
std::string ReplaceStr(const std::string& text, const std::string& oldText, const std::string& newText);
// Hexadecimal digits only (no sign, prefix or blanks), 32-bit wrap; def for empty or bad text.
int32_t HexToInt(const std::string& text, int32_t def);
// "0.5 kB", "175.8 kB", "1.0 MB": one decimal, units kB, MB, GB, TB.
std::string GetFileSizeStr(double size);
// Flags: 1 force hours, 2 force minutes, 4 force seconds, 8 force milliseconds, 16 never
// milliseconds. 3725 s with flags 23 give "01:02:05"; 65.25 s with flags 0 give "01:05.250".
void SecToStr(int flags, std::string& text, double seconds);
std::string SecToStr(int flags, double seconds);
inline std::string IfStr(bool condition, const std::string& ifTrue, const std::string& ifFalse)
{
    return condition ? ifTrue : ifFalse;
}
inline int32_t IfInt(bool condition, int32_t ifTrue, int32_t ifFalse)
{
    return condition ? ifTrue : ifFalse;
}
