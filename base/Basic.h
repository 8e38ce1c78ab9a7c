// Memory, files and low-level helpers. Every heap block of the program's own units is
// registered (base/Registry) under the address of the pointer variable that owns it, so the
// error monitor can release what a failing block acquired.
#pragma once

#include "base/Registry.h"

#include <cstdint>
#include <string>

constexpr int32_t Undef = static_cast<int32_t>(0xAF100D7Cu);

// Allocation kinds of MemAllocNamed.
enum { MEM_ORDINARY = 0, MEM_STRING = 1, MEM_NEW = 2 };

// File open modes.
enum { FM_READ = 1, FM_WRITE = 2, FM_CREATE = 4, FM_APPEND = 8 };

// ---- memory (class-5 result codes, 0 = success) ----
int MemAllocNamed(void** owner, int64_t size, int line, int kind, const std::string& name);
int MemAlloc(void** owner, int64_t size);
void MemFree(void** owner);
void MemXchg(void** a, void** b);
bool MemIsRegistered(void* const* owner);
// Registered size of the block the variable holds, 0 when unregistered.
int64_t MemSize(void* const* owner);

// Typed conveniences so callers need no casts.
template <class T> int MemAllocT(T** owner, int64_t size, int line = 0, const std::string& name = std::string(), int kind = MEM_ORDINARY)
{
    return MemAllocNamed(reinterpret_cast<void**>(owner), size, line, kind, name);
}
template <class T> void MemFreeT(T** owner) { MemFree(reinterpret_cast<void**>(owner)); }

// ---- files (class-6 result codes, 0 = success) ----
int FOpen(int& handle, const std::string& name, int mode);
int FRead(int handle, void* buffer, int64_t count);
void FReadPart(int handle, void* buffer, int64_t count, int64_t& bytesRead);
int FWrite(int handle, const void* buffer, int64_t count);
int FSeek(int handle, int64_t position);
int64_t FSize(int handle);
int64_t FPos(int handle);
void FClose(int handle);
int TXTOpen(int& handle, const std::string& name, int mode);
int TXTWrite(int handle, const std::string& text);
// Reads one line without its line end (CR LF or LF); false at the end of the file.
bool TXTReadLn(int handle, std::string& line);
void TXTClose(int handle);
int FDelete(const std::string& name);

// ---- helpers ----
void FillMem(int value, int64_t length, void* address);
void MoveMem(int64_t length, void* destination, const void* source);
void SwapMem(int64_t length, void* a, void* b);
int FindBytes(int step, int bufferLength, int patternLength, const void* buffer, const void* pattern);
uint16_t Swap16(uint16_t v);
uint32_t Swap32(uint32_t v);
inline bool BitTest(int64_t value, int64_t mask) { return (value & mask) != 0; }
void NumToStr(std::string& text, int mode, uint32_t value);
std::string NumToStr(int mode, uint32_t value);
int StrToNum(const std::string& text);
void FloatToStrW(double value, int width, int decimals, std::string& text);
int ClampInt(int value, int low, int high);
double ClampFloat(double value, double low, double high);
// The largest multiple of divisor not above value (quotient cut toward zero).
double DivisibleFloat(double value, double divisor);
// Fits a source size into a box keeping the aspect ratio (always: also enlarge, else a source
// that fits stays at its size, centred). Gives the offsets and the new size.
void CalcBoxResize(int srcWidth, int srcHeight, int boxWidth, int boxHeight, bool always,
                   int& x, int& y, int& width, int& height);
// Exchanges the lowest and third-lowest bytes.
inline uint32_t SwapRB(uint32_t color)
{
    return (color & 0xFF00FF00u) | ((color & 0xFFu) << 16) | ((color >> 16) & 0xFFu);
}
