#include "base/Basic.h"

#include "base/Mon.h"
#include "base/NumGroup.h"
#include "base/WriteJournal.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

int FindMem_(void* block, void* const* owner)
{
    if (block == nullptr) return -1;
    auto& m = RegGet().mem;
    for (int i = static_cast<int>(m.size()) - 1; i >= 0; --i)
        if (m[i].block == block && m[i].owner == owner) return i;
    return -1;
}

void RemoveMem_(int pos)
{
    auto& m = RegGet().mem;
    if (pos != static_cast<int>(m.size()) - 1) m[pos] = std::move(m.back());
    m.pop_back();
}

RegFileEntry* FindFile_(int handle, int* pos = nullptr)
{
    auto& f = RegGet().files;
    for (size_t i = 0; i < f.size(); ++i)
        if (f[i].handle == handle) {
            if (pos) *pos = static_cast<int>(i);
            return &f[i];
        }
    return nullptr;
}

void RemoveFile_(int pos)
{
    auto& f = RegGet().files;
    if (pos != static_cast<int>(f.size()) - 1) f[pos] = std::move(f.back());
    f.pop_back();
}

// round(size * 1.05) with halves to even, then up to a multiple of 4.
int64_t AdjustedSize_(int64_t size)
{
    if (size <= 0 || size > (INT64_C(1) << 50)) return size <= 0 ? 0 : -1;
    int64_t num = size * 105, q = num / 100, r = num % 100;
    if (r > 50 || (r == 50 && (q & 1))) ++q;
    return (q + 3) & ~INT64_C(3);
}

int OpenEntry_(int& handle, const std::string& name, bool text, std::FILE* fp)
{
    auto& s = RegGet();
    handle = s.nextHandle++;
    s.files.push_back({handle, text, name.substr(0, 255), fp});
    return 0;
}

}  // namespace

// ---------------------------------------------------------------- memory

int MemAllocNamed(void** owner, int64_t size, int line, int kind, const std::string& name)
{
    auto& s = RegGet();
    int code = 0;
    int64_t adjusted = AdjustedSize_(size);
    if (adjusted == 0) {
        code = 5;
    } else if (adjusted < 0) {
        code = 1;
    } else {
        int pos = FindMem_(*owner, owner);
        std::string fullName;
        char kindLetter = kind == MEM_STRING ? 'S' : kind == MEM_NEW ? 'N' : 'C';
        if (pos < 0 || kind == MEM_NEW) {
            void* block = std::calloc(1, static_cast<size_t>(adjusted));
            if (!block) {
                code = 1;
            } else if (static_cast<int>(s.mem.size()) >= MEM_MAX_ENTRIES) {
                *owner = block;  // stays allocated but unregistered, as the registry is full
                code = 6;
            } else {
                *owner = block;
                int position = static_cast<int>(s.mem.size());
                fullName = std::string(1, kindLetter) + ":" +
                           (name.empty() ? "Handle #" + std::to_string(position) : name) + ":" + NumGroupDigits(line);
                s.mem.push_back({block, owner, adjusted, fullName});
                if (static_cast<int>(s.mem.size()) > s.memHighest) s.memHighest = static_cast<int>(s.mem.size());
            }
        } else {
            RegMemEntry& e = s.mem[pos];
            void* block = std::realloc(e.block, static_cast<size_t>(adjusted));
            if (!block) {
                code = 3;
            } else {
                if (adjusted > e.size) std::memset(static_cast<char*>(block) + e.size, 0, static_cast<size_t>(adjusted - e.size));
                e.block = block;
                e.owner = owner;
                e.size = adjusted;
                e.name = std::string(1, kindLetter) + ":" + (name.empty() ? "Handle #" + std::to_string(pos) : name) +
                         ":" + NumGroupDigits(line);
                *owner = block;
            }
        }
    }
    MonError(EC_MEMORY, code, line);
    return code;
}

int MemAlloc(void** owner, int64_t size) { return MemAllocNamed(owner, size, 0, MEM_ORDINARY, std::string()); }

void MemFree(void** owner)
{
    int pos = FindMem_(*owner, owner);
    if (pos < 0) return;
    std::free(RegGet().mem[pos].block);
    RemoveMem_(pos);
    *owner = nullptr;
}

void MemXchg(void** a, void** b)
{
    int pa = FindMem_(*a, a), pb = FindMem_(*b, b);
    if (pa < 0 || pb < 0) {
        MonError(EC_MEMORY, ME_MANAGER, __LINE__);
        return;
    }
    auto& m = RegGet().mem;
    std::swap(m[pa].block, m[pb].block);
    std::swap(m[pa].size, m[pb].size);
}

bool MemIsRegistered(void* const* owner) { return FindMem_(*owner, owner) >= 0; }

int64_t MemSize(void* const* owner)
{
    int pos = FindMem_(*owner, owner);
    return pos < 0 ? 0 : RegGet().mem[pos].size;
}

// ---------------------------------------------------------------- files

int FOpen(int& handle, const std::string& name, int mode)
{
    auto& s = RegGet();
    s.lastFileName = name;
    handle = Undef;
    int code = 0;
    if (static_cast<int>(s.files.size()) >= FILE_MAX_ENTRIES) {
        code = 11;
    } else if (mode & FM_CREATE) {
        std::FILE* fp = std::fopen(name.c_str(), "w+b");
        code = fp ? OpenEntry_(handle, name, false, fp) : 2;
    } else {
        const char* how = (mode & FM_READ) ? "rb" : "r+b";
        std::FILE* fp = std::fopen(name.c_str(), how);
        if (!fp) {
            code = (mode & FM_APPEND) ? 7 : 1;
        } else if ((mode & FM_APPEND) && std::fseek(fp, 0, SEEK_END) != 0) {
            std::fclose(fp);
            code = 5;
        } else {
            code = OpenEntry_(handle, name, false, fp);
        }
    }
    MonError(EC_FILE, code, __LINE__);
    return code;
}

int FRead(int handle, void* buffer, int64_t count)
{
    int code = 0;
    RegFileEntry* f = FindFile_(handle);
    if (f && count > 0) {
        std::clearerr(f->fp);
        if (std::fread(buffer, 1, static_cast<size_t>(count), f->fp) != static_cast<size_t>(count)) code = 3;
    }
    MonError(EC_FILE, code, __LINE__);
    return code;
}

void FReadPart(int handle, void* buffer, int64_t count, int64_t& bytesRead)
{
    bytesRead = 0;
    RegFileEntry* f = FindFile_(handle);
    if (f && count > 0) {
        std::clearerr(f->fp);
        bytesRead = static_cast<int64_t>(std::fread(buffer, 1, static_cast<size_t>(count), f->fp));
    }
}

int FWrite(int handle, const void* buffer, int64_t count)
{
    int code = 0;
    RegFileEntry* f = FindFile_(handle);
    if (f && count > 0) {
        std::clearerr(f->fp);
        if (std::fwrite(buffer, 1, static_cast<size_t>(count), f->fp) != static_cast<size_t>(count)) code = 4;
    }
    MonError(EC_FILE, code, __LINE__);
    return code;
}

int FSeek(int handle, int64_t position)
{
    int code = 0;
    RegFileEntry* f = FindFile_(handle);
    if (f) {
        std::clearerr(f->fp);
        if (position < 0 || fseeko(f->fp, static_cast<off_t>(position), SEEK_SET) != 0) code = 5;
    }
    MonError(EC_FILE, code, __LINE__);
    return code;
}

int64_t FSize(int handle)
{
    RegFileEntry* f = FindFile_(handle);
    if (!f) return Undef;
    off_t here = ftello(f->fp);
    if (fseeko(f->fp, 0, SEEK_END) != 0) return Undef;
    off_t end = ftello(f->fp);
    fseeko(f->fp, here, SEEK_SET);
    return static_cast<int64_t>(end);
}

int64_t FPos(int handle)
{
    RegFileEntry* f = FindFile_(handle);
    return f ? static_cast<int64_t>(ftello(f->fp)) : Undef;
}

void FClose(int handle)
{
    int pos = 0;
    RegFileEntry* f = FindFile_(handle, &pos);
    if (!f) return;
    // The last part of a write may only fail here (a full disk): that is a failed write.
    bool failed = std::fclose(f->fp) != 0;
    RemoveFile_(pos);
    if (failed) MonError(EC_FILE, FE_CLOSE, __LINE__);
}

int TXTOpen(int& handle, const std::string& name, int mode)
{
    auto& s = RegGet();
    s.lastFileName = name;
    handle = Undef;
    int code = 0;
    if (static_cast<int>(s.files.size()) >= FILE_MAX_ENTRIES) {
        code = 11;
    } else {
        const char* how = (mode & FM_CREATE) ? "wb" : (mode & FM_APPEND) ? "ab" : "rb";
        std::FILE* fp = std::fopen(name.c_str(), how);
        code = fp ? OpenEntry_(handle, name, true, fp) : (mode & FM_CREATE) ? 2 : (mode & FM_APPEND) ? 7 : 1;
    }
    MonError(EC_FILE, code, __LINE__);
    return code;
}

int TXTWrite(int handle, const std::string& text)
{
    int code = 0;
    RegFileEntry* f = FindFile_(handle);
    if (f) {
        std::clearerr(f->fp);
        if (std::fwrite(text.data(), 1, text.size(), f->fp) != text.size() || std::fwrite("\r\n", 1, 2, f->fp) != 2)
            code = 4;
    }
    MonError(EC_FILE, code, __LINE__);
    return code;
}

bool TXTReadLn(int handle, std::string& line)
{
    line.clear();
    RegFileEntry* f = FindFile_(handle);
    if (!f) return false;
    int c = std::fgetc(f->fp);
    if (c == EOF) return false;
    while (c != EOF && c != '\n') {
        line += static_cast<char>(c);
        c = std::fgetc(f->fp);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void TXTClose(int handle) { FClose(handle); }

int FDelete(const std::string& name)
{
    RegGet().lastFileName = name;
    int code = 0;
    std::error_code ec;
    const bool link = std::filesystem::is_symlink(name, ec);
    if (link || std::filesystem::exists(name, ec)) {
        // Archive only: the owner may always write what he deletes. A link's target is not ours to open up.
        if (!link)
            std::filesystem::permissions(name, std::filesystem::perms::owner_write, std::filesystem::perm_options::add, ec);
        if (std::remove(name.c_str()) != 0) code = 6;
        else JournalNote(name);
    }
    MonError(EC_FILE, code, __LINE__);
    return code;
}

// ---------------------------------------------------------------- helpers

void FillMem(int value, int64_t length, void* address)
{
    if (length > 0) std::memset(address, value, static_cast<size_t>(length));
}

void MoveMem(int64_t length, void* destination, const void* source)
{
    if (length >= 1) std::memmove(destination, source, static_cast<size_t>(length));
}

void SwapMem(int64_t length, void* a, void* b)
{
    auto* pa = static_cast<uint8_t*>(a);
    auto* pb = static_cast<uint8_t*>(b);
    for (int64_t i = 0; i < length; ++i) std::swap(pa[i], pb[i]);
}

int FindBytes(int step, int bufferLength, int patternLength, const void* buffer, const void* pattern)
{
    if (step <= 0 || patternLength <= 0) return 0;
    const auto* b = static_cast<const uint8_t*>(buffer);
    for (int off = 0; off <= bufferLength - patternLength; off += step)
        if (std::memcmp(b + off, pattern, static_cast<size_t>(patternLength)) == 0) return off / step + 1;
    return 0;
}

uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

uint32_t Swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

void NumToStr(std::string& text, int mode, uint32_t value)
{
    std::string digits = std::to_string(value);
    int width = 0;
    char pad = ' ';
    if (mode >= 200) {
        width = mode - 200;
        pad = '0';
    } else if (mode >= 100) {
        width = mode - 100;
        digits = NumGroupDigits(value);
    } else if (mode > 0) {
        width = mode;
    }
    if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), pad);
    text = digits;
}

std::string NumToStr(int mode, uint32_t value)
{
    std::string t;
    NumToStr(t, mode, value);
    return t;
}

int StrToNum(const std::string& text)
{
    uint32_t v = 0;
    for (unsigned char c : text) v = v * 10u + static_cast<uint32_t>(c - '0');
    return static_cast<int>(v);
}

void FloatToStrW(double value, int width, int decimals, std::string& text)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "%*.*f", ClampInt(width, 0, 64), ClampInt(decimals, 0, 30), value);
    text = buf;
}

int ClampInt(int value, int low, int high)
{
    if (value > high) value = high;
    if (value < low) value = low;
    return value;
}

double ClampFloat(double value, double low, double high)
{
    if (value > high) value = high;
    if (value < low) value = low;
    return value;
}

double DivisibleFloat(double value, double divisor)
{
    TRACE("miscprocs.DivisibleFloat");
    if (divisor == 0 || !std::isfinite(value) || !std::isfinite(divisor)) return value;
    return std::trunc(value / divisor) * divisor;
}

void CalcBoxResize(int srcWidth, int srcHeight, int boxWidth, int boxHeight, bool always,
                   int& x, int& y, int& width, int& height)
{
    TRACE("miscprocs.CalcBoxResize");
    width = srcWidth;
    height = srcHeight;
    if (!always && srcWidth <= boxWidth && srcHeight <= boxHeight) {
        x = (boxWidth - srcWidth) / 2;
        y = (boxHeight - srcHeight) / 2;
        return;
    }
    if (srcWidth != 0 && srcHeight != 0) {
        double rx = static_cast<double>(boxWidth) / srcWidth;
        double ry = static_cast<double>(boxHeight) / srcHeight;
        if (rx > 0 && ry > 0) {
            if (rx < ry) {
                width = boxWidth;
                height = static_cast<int>(srcHeight * rx);
            } else {
                height = boxHeight;
                width = static_cast<int>(srcWidth * ry);
            }
            if (width < 1) width = 1;
            if (height < 1) height = 1;
            x = std::abs(boxWidth - width) / 2;
            y = std::abs(boxHeight - height) / 2;
            return;
        }
    }
    x = 0;
    y = 0;
    width = boxWidth;
    height = boxHeight;
}
