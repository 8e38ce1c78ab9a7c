// Little- and big-endian numbers in byte buffers, and a cursor that never reads past its end.
//
// Readers take a header or a record into a buffer, then read its fields through a cursor: a
// read beyond the end yields 0 and marks the cursor short, so a reader checks once after the
// whole record instead of before every field.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t BytesGetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t BytesGetLE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t BytesGetBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t BytesGetBE32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void BytesPutLE16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void BytesPutLE32(uint8_t* p, uint32_t v)
{
    BytesPutLE16(p, v);
    BytesPutLE16(p + 2, v >> 16);
}
inline void BytesPutBE16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void BytesPutBE32(uint8_t* p, uint32_t v)
{
    BytesPutBE16(p, v >> 16);
    BytesPutBE16(p + 2, v);
}

// Length of the run of bytes equal to s[i] that starts there: at most max, never past n.
inline int64_t BytesRunLength(const uint8_t* s, int64_t i, int64_t n, int64_t max)
{
    int64_t run = 1;
    while (i + run < n && run < max && s[i + run] == s[i]) ++run;
    return run;
}

struct ByteCursor {
    const uint8_t* Data = nullptr;
    int64_t Size = 0;
    int64_t Pos = 0;
    bool Short = false;  // a read wanted bytes beyond the end
};

inline ByteCursor BytesCursor(const void* data, int64_t size)
{
    ByteCursor c;
    c.Data = static_cast<const uint8_t*>(data);
    c.Size = size < 0 ? 0 : size;
    return c;
}

inline int64_t BytesLeft(const ByteCursor& c) { return c.Size - c.Pos; }

// The next n bytes, or nullptr (cursor marked short and left at its end) when fewer remain.
inline const uint8_t* BytesTake(ByteCursor& c, int64_t n)
{
    if (n < 0 || n > c.Size - c.Pos) {
        c.Pos = c.Size;
        c.Short = true;
        return nullptr;
    }
    const uint8_t* p = c.Data + c.Pos;
    c.Pos += n;
    return p;
}

inline void BytesSkip(ByteCursor& c, int64_t n) { BytesTake(c, n); }

// Moves to an absolute position; beyond the end marks the cursor short.
inline void BytesSeek(ByteCursor& c, int64_t pos)
{
    if (pos < 0 || pos > c.Size) {
        c.Pos = c.Size;
        c.Short = true;
    } else {
        c.Pos = pos;
    }
}

inline uint8_t BytesReadU8(ByteCursor& c) { const uint8_t* p = BytesTake(c, 1); return p ? *p : 0; }
inline uint16_t BytesReadLE16(ByteCursor& c) { const uint8_t* p = BytesTake(c, 2); return p ? BytesGetLE16(p) : 0; }
inline uint32_t BytesReadLE32(ByteCursor& c) { const uint8_t* p = BytesTake(c, 4); return p ? BytesGetLE32(p) : 0; }
inline uint16_t BytesReadBE16(ByteCursor& c) { const uint8_t* p = BytesTake(c, 2); return p ? BytesGetBE16(p) : 0; }
inline uint32_t BytesReadBE32(ByteCursor& c) { const uint8_t* p = BytesTake(c, 4); return p ? BytesGetBE32(p) : 0; }
// Copies n bytes into out (zeros when they are not there).
inline void BytesRead(ByteCursor& c, void* out, int64_t n)
{
    const uint8_t* p = BytesTake(c, n);
    if (p) std::memcpy(out, p, static_cast<size_t>(n));
    else if (n > 0) std::memset(out, 0, static_cast<size_t>(n));
}
