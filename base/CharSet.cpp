// UTF-8 to Windows-1252; the code page's table is the one of AnsiCodePoint.
#include "base/CharSet.h"

#include "base/Mon.h"
#include "base/miscprocs.h"

#include <cstdint>

namespace {

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

char winByte_(uint32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (unsigned b = 0x80; b < 0xA0; ++b)
        if (cp != 0xFFFD && AnsiCodePoint(static_cast<unsigned char>(b)) == cp) return static_cast<char>(b);
    return '?';
}

}  // namespace

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
        out += winByte_(cp);
    }
    return out;
}
