// UTF-8 to Windows-1252, and the code page's one table.
#include "base/CharSet.h"

#include "base/Mon.h"

namespace {

// Only 0x80-0x9F differ from Latin-1.
const uint16_t winHigh_[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Decodes the sequence at text[i]; false for a malformed one. Moves i past it.
bool decode_(const std::string& text, size_t& i, uint32_t& cp)
{
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int more;
    uint32_t min;
    if (c < 0x80) more = 0, cp = c, min = 0;
    else if ((c & 0xE0) == 0xC0) more = 1, cp = c & 0x1F, min = 0x80;
    else if ((c & 0xF0) == 0xE0) more = 2, cp = c & 0x0F, min = 0x800;
    else if ((c & 0xF8) == 0xF0) more = 3, cp = c & 0x07, min = 0x10000;
    else return false;
    if (text.size() - i <= static_cast<size_t>(more)) return false;
    for (int k = 1; k <= more; ++k) {
        const unsigned char n = static_cast<unsigned char>(text[i + k]);
        if ((n & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (n & 0x3F);
    }
    i += static_cast<size_t>(more) + 1;
    return cp >= min && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

}  // namespace

uint32_t CharWinToUnicode(unsigned char c) { return c >= 0x80 && c < 0xA0 ? winHigh_[c - 0x80] : c; }

char CharUnicodeToWin(uint32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (unsigned i = 0; i < 32; ++i)
        if (winHigh_[i] == cp) return static_cast<char>(0x80 + i);
    return '?';
}

bool CharIsUtf8(const std::string& text)
{
    TRACE("CharSet.CharIsUtf8");
    uint32_t cp;
    for (size_t i = 0; i < text.size();)
        if (!decode_(text, i, cp)) return false;
    return true;
}

std::string CharUtf8ToWin(const std::string& text)
{
    TRACE("CharSet.CharUtf8ToWin");
    if (!CharIsUtf8(text)) return text;
    std::string out;
    out.reserve(text.size());
    uint32_t cp;
    for (size_t i = 0; i < text.size();) {
        decode_(text, i, cp);
        // Typed control characters have nothing to draw, the code page's unused places included.
        out += cp >= 0x80 && cp < 0xA0 ? '?' : CharUnicodeToWin(cp);
    }
    return out;
}

uint32_t AnsiCodePoint(unsigned char c)
{
    TRACE("CharSet.AnsiCodePoint");
    const uint32_t u = CharWinToUnicode(c);
    // The code page's unused places have no character of their own.
    return u >= 0x80 && u < 0xA0 ? 0xFFFD : u;
}

void CharAppendUtf8(std::string& out, uint32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string AnsiToUtf8(const std::string& text)
{
    TRACE("CharSet.AnsiToUtf8");
    std::string out;
    for (unsigned char c : text) CharAppendUtf8(out, AnsiCodePoint(c));
    return out;
}
