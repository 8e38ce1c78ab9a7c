// A small GIF writer with its own LZW encoder, for building test files and benchmark input.
// Deliberately independent of the reader: plain dictionary encoder, explicit block layout.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace giftest {

// How the encoder treats a full code table.
enum class FullTable {
    Clear,      // emit a clear code as soon as the table is full (the usual encoder)
    Keep,       // never clear: codes stay 12 bits to the end
    ClearLater  // keep 12-bit codes for a while, then clear
};

struct LzwOptions {
    int minCodeSize = 8;
    FullTable full = FullTable::Clear;
    int codesBeforeLateClear = 500;  // for ClearLater
};

class BitSink {
public:
    void Put(int code, int size)
    {
        acc_ |= uint64_t(code) << n_;
        n_ += size;
        while (n_ >= 8) {
            bytes.push_back(uint8_t(acc_));
            acc_ >>= 8;
            n_ -= 8;
        }
    }
    void Flush()
    {
        if (n_ > 0) bytes.push_back(uint8_t(acc_));
        acc_ = 0;
        n_ = 0;
    }
    std::vector<uint8_t> bytes;

private:
    uint64_t acc_ = 0;
    int n_ = 0;
};

// Encodes pixels into a raw LZW code stream (no sub-blocks, no code-size byte).
// Stats report what happened, so tests can check that the case they want really occurred.
struct LzwStats {
    int maxCodeSize = 0;
    int tableFullCodes = 0;  // codes written while the table was full
    int clears = 0;
};

inline std::vector<uint8_t> LzwEncode(const uint8_t* px, size_t n, const LzwOptions& o, LzwStats* stats = nullptr)
{
    const int m = o.minCodeSize;
    const int clear = 1 << m, end = clear + 1, first = clear + 2;
    std::vector<int32_t> dict(size_t(4096) * 256, -1);
    std::vector<int32_t> used;
    BitSink out;
    int size = m + 1, next = first, emitted = 0, fullCodes = 0;
    LzwStats st;
    auto emit = [&](int code) {
        out.Put(code, size);
        ++emitted;
        if (next >= 4096) {
            ++st.tableFullCodes;
            ++fullCodes;
        }
        // The reader widens its codes once its table (one entry behind ours) passes the mask.
        if (size < 12 && first + emitted - 1 >= (1 << size)) ++size;
        if (size > st.maxCodeSize) st.maxCodeSize = size;
    };
    auto reset = [&]() {
        out.Put(clear, size);
        ++st.clears;
        for (int32_t k : used) dict[size_t(k)] = -1;
        used.clear();
        size = m + 1;
        next = first;
        emitted = 0;
        fullCodes = 0;
    };
    reset();
    if (n == 0) {
        out.Put(end, size);
        out.Flush();
        return out.bytes;
    }
    int prefix = px[0];
    for (size_t i = 1; i < n; ++i) {
        const int c = px[i];
        const int32_t key = prefix * 256 + c;
        if (dict[size_t(key)] >= 0) {
            prefix = dict[size_t(key)];
            continue;
        }
        emit(prefix);
        if (next < 4096) {
            dict[size_t(key)] = next++;
            used.push_back(key);
        }
        if (next >= 4096) {
            if (o.full == FullTable::Clear || (o.full == FullTable::ClearLater && fullCodes >= o.codesBeforeLateClear))
                reset();
        }
        prefix = c;
    }
    emit(prefix);
    out.Put(end, size);
    out.Flush();
    if (stats) *stats = st;
    return out.bytes;
}

struct Frame {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<uint8_t> pixels;     // width x height, rows top first (interlacing is done here)
    bool interlaced = false;
    std::vector<uint8_t> localPal;   // red, green, blue triples; 2, 4 ... 256 entries; empty = none
    bool gce = false;
    int disposal = 0, delay = 0, transparent = -1;
    LzwOptions lzw;
    std::vector<uint8_t> before;     // raw blocks written before the control extension
    std::vector<uint8_t> between;    // raw blocks between the control extension and the descriptor
    int cutData = -1;                // when >= 0, keep only this many bytes of the code stream
};

struct Screen {
    std::string version = "89a";
    int width = 0, height = 0;
    std::vector<uint8_t> globalPal;  // empty = no global table
    int background = 0;
    int subBlock = 255;              // data sub-block size
    bool trailer = true;
};

inline int TableBits(size_t entries)
{
    int b = 0;
    while ((size_t(2) << b) < entries) ++b;
    return b;
}

inline void Put16(std::vector<uint8_t>& v, int x)
{
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

// Sub-blocks of raw bytes with the given block size, plus the terminator.
inline void PutSubBlocks(std::vector<uint8_t>& v, const std::vector<uint8_t>& data, int blockSize)
{
    for (size_t i = 0; i < data.size(); i += size_t(blockSize)) {
        const size_t k = std::min(data.size() - i, size_t(blockSize));
        v.push_back(uint8_t(k));
        v.insert(v.end(), data.begin() + long(i), data.begin() + long(i + k));
    }
    v.push_back(0);
}

// A comment extension holding the given text.
inline std::vector<uint8_t> Comment(const std::vector<uint8_t>& text)
{
    std::vector<uint8_t> v = {0x21, 0xFE};
    PutSubBlocks(v, text, 255);
    return v;
}

inline std::vector<uint8_t> Interlace(const std::vector<uint8_t>& px, int w, int h)
{
    std::vector<uint8_t> out;
    out.reserve(px.size());
    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int p = 0; p < 4; ++p)
        for (int y = start[p]; y < h; y += step[p]) out.insert(out.end(), px.begin() + long(y) * w, px.begin() + long(y + 1) * w);
    return out;
}

inline std::vector<uint8_t> Build(const Screen& s, const std::vector<Frame>& frames)
{
    const std::string signature = "GIF" + s.version;
    std::vector<uint8_t> v(signature.begin(), signature.end());
    Put16(v, s.width);
    Put16(v, s.height);
    if (!s.globalPal.empty()) {
        const int bits = TableBits(s.globalPal.size() / 3);
        v.push_back(uint8_t(0x80 | 0x70 | bits));
        v.push_back(uint8_t(s.background));
        v.push_back(0);
        std::vector<uint8_t> pal = s.globalPal;
        pal.resize(size_t(3) << (bits + 1), 0);
        v.insert(v.end(), pal.begin(), pal.end());
    } else {
        v.push_back(0x70);
        v.push_back(uint8_t(s.background));
        v.push_back(0);
    }
    for (const Frame& f : frames) {
        v.insert(v.end(), f.before.begin(), f.before.end());
        if (f.gce) {
            const uint8_t flags = uint8_t((f.disposal & 7) << 2 | (f.transparent >= 0 ? 1 : 0));
            v.insert(v.end(), {0x21, 0xF9, 0x04, flags});
            Put16(v, f.delay);
            v.push_back(uint8_t(f.transparent >= 0 ? f.transparent : 0));
            v.push_back(0);
        }
        v.insert(v.end(), f.between.begin(), f.between.end());
        v.push_back(0x2C);
        Put16(v, f.left);
        Put16(v, f.top);
        Put16(v, f.width);
        Put16(v, f.height);
        uint8_t flags = f.interlaced ? 0x40 : 0;
        std::vector<uint8_t> pal = f.localPal;
        if (!pal.empty()) {
            const int bits = TableBits(pal.size() / 3);
            flags |= uint8_t(0x80 | bits);
            pal.resize(size_t(3) << (bits + 1), 0);
        }
        v.push_back(flags);
        v.insert(v.end(), pal.begin(), pal.end());
        v.push_back(uint8_t(f.lzw.minCodeSize));
        const std::vector<uint8_t> px = f.interlaced ? Interlace(f.pixels, f.width, f.height) : f.pixels;
        std::vector<uint8_t> codes = LzwEncode(px.data(), px.size(), f.lzw);
        if (f.cutData >= 0 && size_t(f.cutData) < codes.size()) codes.resize(size_t(f.cutData));
        PutSubBlocks(v, codes, s.subBlock);
    }
    if (s.trailer) v.push_back(0x3B);
    return v;
}

// Pseudo-random bytes below limit, reproducible.
inline std::vector<uint8_t> Noise(size_t n, int limit, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    uint32_t x = seed ? seed : 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t((x >> 8) % uint32_t(limit));
    }
    return v;
}

inline std::vector<uint8_t> GreyPal(int entries)
{
    std::vector<uint8_t> p;
    for (int i = 0; i < entries; ++i) {
        const uint8_t g = uint8_t(i * 255 / (entries > 1 ? entries - 1 : 1));
        p.insert(p.end(), {g, uint8_t(255 - g), uint8_t(i)});
    }
    return p;
}

}  // namespace giftest
