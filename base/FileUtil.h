// Shared helpers: paths, file sizes, text files, string replacement, number and time texts, box
// fitting. Paths use '/'; folder results end with '/'.
#pragma once

#include <cstdint>
#include <string>

// Appends '/' to a non-empty path that lacks it.
std::string AddBS(const std::string& path);
// The program folder, with trailing '/'.
std::string GetAppDir();
// Size in bytes of the first file matching the name or pattern ('*', '?' in the last part, letter
// case ignored as on Windows); Undef when nothing matches. A folder counts with size 0.
int64_t GetFileSize(const std::string& nameOrPattern);
// "0.5 kB", "175.8 kB", "1.0 MB": one decimal, units kB, MB, GB, TB.
std::string GetFileSizeStr(double size);
// 1-based position of needle in text at or after start; 0 when none or either is empty.
int PosFrom(const std::string& needle, const std::string& text, int start);
// Hexadecimal digits only (no sign, prefix or blanks), 32-bit wrap; def for empty or bad text.
int32_t HexToInt(const std::string& text, int32_t def);
// The text file's lines joined with CR LF (none after the last); empty text when it cannot be
// read. Failures stay recorded in the monitor and do not propagate.
std::string FileToStr(const std::string& name);
// Writes text and CR LF, appending or replacing the file (a replaced file is written to a
// through the safe write path). Failures stay recorded in the monitor.
void StrToFile(const std::string& name, const std::string& text, bool append);
// The largest multiple of divisor not above value (quotient cut toward zero).
double DivisibleFloat(double value, double divisor);
// Flags: 1 force hours, 2 force minutes, 4 force seconds, 8 force milliseconds, 16 never
// milliseconds. 3725 s with flags 23 give "01:02:05"; 65.25 s with flags 0 give "01:05.250".
void SecToStr(int flags, std::string& text, double seconds);
std::string SecToStr(int flags, double seconds);
// Replaces or removes (empty ext) the name's extension; ext gets its '.' when missing.
std::string ForceFileExt(const std::string& name, const std::string& ext);
// Creates the folder and its missing parents; whether it exists afterwards.
bool MakeLongDir(const std::string& folder);
// Replaces every occurrence of oldText; empty text when newText contains oldText.
std::string ReplaceStr(const std::string& text, const std::string& oldText, const std::string& newText);
inline std::string IfStr(bool condition, const std::string& ifTrue, const std::string& ifFalse)
{
    return condition ? ifTrue : ifFalse;
}
inline int32_t IfInt(bool condition, int32_t ifTrue, int32_t ifFalse)
{
    return condition ? ifTrue : ifFalse;
}
// Fits a source size into a box keeping the aspect ratio (always: also enlarge, else a source
// that fits stays at its size, centred). Gives the offsets and the new size.
void CalcBoxResize(int srcWidth, int srcHeight, int boxWidth, int boxHeight, bool always,
                   int& x, int& y, int& width, int& height);
// Equal but for the letter case of 'a'-'z', as Windows compares names.
bool SameText(const std::string& a, const std::string& b);
// The Unicode code point of a byte of the Windows ANSI code page (1252).
uint32_t AnsiCodePoint(unsigned char c);
// Windows ANSI text (code page 1252) as UTF-8.
std::string AnsiToUtf8(const std::string& text);
// Exchanges the lowest and third-lowest bytes.
inline uint32_t SwapRB(uint32_t color)
{
    return (color & 0xFF00FF00u) | ((color & 0xFFu) << 16) | ((color >> 16) & 0xFFu);
}
