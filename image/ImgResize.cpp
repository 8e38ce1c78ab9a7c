// Scalers. Both step through the source with fixed-point ratios (unit 100 000); all positions are
// 64-bit so that no picture the allocator accepts can overflow them.
#include "image/ImgResize.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/Basic.h"
#include "base/Mon.h"

namespace {
constexpr int64_t U = IMG_RATIO_UNIT;

int64_t CeilDiv_(int64_t a, int64_t b) { return (a + b - 1) / b; }

// Start pixels of a reducing step (ratio r > U): output 0 starts at 0; after start s the next is
// s + 1 while k * r stays below (s + 1) * U, else max(s + 2, ceil(k * r / U)). Exact landings thus
// skip one more pixel. Starts are clipped to the last pixel so nothing outside is addressed.
void ReduceStarts_(int32_t* starts, int64_t count, int64_t r, int64_t limit)
{
    TRACE("ImgResize.ReduceStarts_");
    int64_t s = 0;
    starts[0] = 0;
    for (int64_t k = 1; k < count; ++k) {
        const int64_t p = s + 1;
        const int64_t kr = k * r;
        s = kr < p * U ? p : std::max(p + 1, CeilDiv_(kr, U));
        starts[k] = static_cast<int32_t>(std::min(s, limit - 1));
    }
}

// floor((a + b) / 2) per byte, eight bytes at a time.
inline void AvgRow_(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n)
{
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        const uint64_t v = (x & y) + (((x ^ y) >> 1) & 0x7F7F7F7F7F7F7F7Full);
        std::memcpy(out + i, &v, 8);
    }
    for (; i < n; ++i) out[i] = static_cast<uint8_t>((a[i] + b[i]) >> 1);
}

inline uint8_t Avg_(uint8_t a, uint8_t b) { return static_cast<uint8_t>((a + b) >> 1); }
}  // namespace

// ---------------------------------------------------------------- nearest neighbour

void ImgResize(Image& src, Image& dst, int width, int height)
{
    TRACE("ImgResize.ImgResize");
    MonBlock([&] {
        ImgOpInfo info;
        ImgOpContext ctx;
        ImgInfo(info, OP_RESIZE);
        ImgInitEx(info, ctx, src, height, width, &dst);
        const Image& s = *ctx.Src;
        if (s.Width <= 0 || s.Height <= 0 || !s.Data) MonError(EC_IMAGE, IE_INIT_FUNCTION, __LINE__);
        const int bpp = s.BytesPerPixel;
        const int64_t sw = s.Width, sh = s.Height, dw = width, dh = height;
        const int64_t rx = sw * U / dw, ry = sh * U / dh;

        // Column of every output pixel, computed once for all rows.
        int32_t* cols = nullptr;
        MemAllocT(&cols, dw * static_cast<int64_t>(sizeof(int32_t)), __LINE__, "ImgResize.ImgResize.cols");
        if (rx > U) {
            ReduceStarts_(cols, dw, rx, sw);
        } else {
            for (int64_t k = 0; k < dw; ++k) cols[k] = static_cast<int32_t>(std::min(k * rx / U, sw - 1));
        }

        const size_t srow = static_cast<size_t>(sw) * bpp, drow = static_cast<size_t>(dw) * bpp;
        int64_t prevRow = -1;
        uint8_t* out = ctx.DstBits;
        for (int64_t k = 0; k < dh; ++k, out += drow) {
            const int64_t sr = std::min(ry <= U ? k * ry / U : CeilDiv_(k * ry, U), sh - 1);
            if (sr == prevRow) {
                std::memcpy(out, out - drow, drow);
                continue;
            }
            prevRow = sr;
            const uint8_t* in = ctx.SrcBits + sr * srow;
            if (bpp == 1) {
                for (int64_t x = 0; x < dw; ++x) out[x] = in[cols[x]];
            } else if (bpp == 3) {
                uint8_t* o = out;
                for (int64_t x = 0; x < dw; ++x, o += 3) {
                    const uint8_t* p = in + 3 * static_cast<size_t>(cols[x]);
                    o[0] = p[0];
                    o[1] = p[1];
                    o[2] = p[2];
                }
            }
        }
        MemFreeT(&cols);
        ImgDone(ctx);
    });
}

// ---------------------------------------------------------------- resample helpers

namespace {

// Adds one row of bytes into the accumulators; fixed-size chunks let the compiler vectorise.
template <class T> void AddRow_(T* __restrict acc, const uint8_t* __restrict row, size_t n)
{
    size_t i = 0;
    for (; i + 64 <= n; i += 64)
        for (size_t j = 0; j < 64; ++j) acc[i + j] += row[i + j];
    for (; i < n; ++i) acc[i] += row[i];
}
template <class T> void SetRow_(T* __restrict acc, const uint8_t* __restrict row, size_t n)
{
    size_t i = 0;
    for (; i + 64 <= n; i += 64)
        for (size_t j = 0; j < 64; ++j) acc[i + j] = row[i + j];
    for (; i < n; ++i) acc[i] = row[i];
}

// floor(s / n) for a sum s of at most 255 * n, as a multiplication: with m = 2^32 div n + 1 the
// error stays below 1/n while n < 4104, so the quotient is exact.
struct ByteSumDiv_ {
    uint64_t N, M;
    explicit ByteSumDiv_(uint64_t n) : N(n), M(n < 4104 ? (uint64_t(1) << 32) / n + 1 : 0) {}
    uint8_t operator()(uint64_t sum) const { return static_cast<uint8_t>(M ? (sum * M) >> 32 : sum / N); }
};

// sum div count per byte for 16-bit sums (count <= 257): multiplied by 2^24 / count rounded up,
// exact in 32 bits.
IMG_WIDE_VECTORS void DivRow16_(uint8_t* __restrict out, const uint16_t* __restrict acc, size_t n, uint64_t count)
{
    const uint32_t m = static_cast<uint32_t>((uint32_t(1) << 24) / count + 1);
    size_t i = 0;
    for (; i + 64 <= n; i += 64)
        for (size_t j = 0; j < 64; ++j) out[i + j] = static_cast<uint8_t>((static_cast<uint32_t>(acc[i + j]) * m) >> 24);
    for (; i < n; ++i) out[i] = static_cast<uint8_t>((static_cast<uint32_t>(acc[i]) * m) >> 24);
}

template <class T> void DivRow_(uint8_t* __restrict out, const T* __restrict acc, size_t n, uint64_t count)
{
    if constexpr (sizeof(T) == 2) {
        DivRow16_(out, acc, n, count);
    } else {
        const ByteSumDiv_ div(count);
        for (size_t i = 0; i < n; ++i) out[i] = div(acc[i]);
    }
}

// Averages row groups [first, last) of the source into out (rowBytes bytes).
template <class T>
void SumRows_(const uint8_t* base, size_t rowBytes, int64_t first, int64_t last, T* acc, uint8_t* out)
{
    TRACE("ImgResize.SumRows_");
    const int64_t count = last - first;
    if (count == 1) {
        std::memcpy(out, base + first * rowBytes, rowBytes);
        return;
    }
    SetRow_(acc, base + first * rowBytes, rowBytes);
    for (int64_t r = first + 1; r < last; ++r) AddRow_(acc, base + r * rowBytes, rowBytes);
    DivRow_(out, acc, rowBytes, static_cast<uint64_t>(count));
}

#if defined(__SSE2__)
// Masks[n][c] keeps the bytes of channel c among the first n pixels of 48 bytes.
struct ChannelMasks_ {
    alignas(16) uint8_t Masks[17][3][48];
};

const ChannelMasks_& ChannelMasks_Table_()
{
    static const ChannelMasks_ table = [] {
        ChannelMasks_ t{};
        for (int n = 0; n <= 16; ++n)
            for (int j = 0; j < 3 * n; ++j) t.Masks[n][j % 3][j] = 0xFF;
        return t;
    }();
    return table;
}

// Channel sums of n <= 16 pixels: 48 bytes read at once, each channel masked out and summed
// against zero eight bytes at a time.
inline void SumPixelsWide_(const uint8_t* p, int64_t n, uint64_t& s0, uint64_t& s1, uint64_t& s2)
{
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    const __m128i zero = _mm_setzero_si128();
    const auto& masks = ChannelMasks_Table_().Masks[n];
    auto channel = [&](int c) {
        const __m128i* m = reinterpret_cast<const __m128i*>(masks[c]);
        __m128i s = _mm_sad_epu8(_mm_and_si128(v0, _mm_load_si128(m)), zero);
        s = _mm_add_epi64(s, _mm_sad_epu8(_mm_and_si128(v1, _mm_load_si128(m + 1)), zero));
        s = _mm_add_epi64(s, _mm_sad_epu8(_mm_and_si128(v2, _mm_load_si128(m + 2)), zero));
        return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_add_epi64(s, _mm_unpackhi_epi64(s, s))));
    };
    s0 = channel(0);
    s1 = channel(1);
    s2 = channel(2);
}
#endif

// Sums of the three bytes of n pixels starting at p; the row ends at end. Two pixels are
// read as one word whose six bytes go to six 16-bit lanes; a lane takes one byte per two
// pixels, so up to 512 pixels fit.
inline void SumPixels_(const uint8_t* p, const uint8_t* end, int64_t n, uint64_t& s0, uint64_t& s1, uint64_t& s2)
{
#if defined(__SSE2__)
    if (n <= 16 && end - p >= 48) return SumPixelsWide_(p, n, s0, s1, s2);
#endif
    constexpr uint64_t lanes = 0x000000FF00FF00FFull;
    uint64_t even = 0, odd = 0;  // bytes 0, 2, 4 and 1, 3, 5 of each pair
    int64_t i = 0;
    if (n <= 512)
        for (; i + 2 <= n && p + 8 <= end; i += 2, p += 6) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            even += v & lanes;
            odd += (v >> 8) & lanes;
        }
    // Byte 0 is blue of the first pixel, 3 blue of the second; green 1 and 4; red 2 and 5.
    s0 = (even & 0xFFFF) + ((odd >> 16) & 0xFFFF);
    s1 = (odd & 0xFFFF) + ((even >> 32) & 0xFFFF);
    s2 = ((even >> 16) & 0xFFFF) + ((odd >> 32) & 0xFFFF);
    for (; i < n; ++i, p += 3) {
        s0 += p[0];
        s1 += p[1];
        s2 += p[2];
    }
}

// Width reduction of one 24-bit row: each output pixel averages its group of source pixels.
void ReduceLine_(const uint8_t* in, uint8_t* out, const int32_t* starts, int64_t dw, int64_t sw)
{
    TRACE("ImgResize.ReduceLine_");
    const uint8_t* end = in + 3 * sw;
    int64_t lastCount = 0;
    ByteSumDiv_ div(1);
    for (int64_t k = 0; k < dw; ++k, out += 3) {
        const int64_t a = starts[k];
        // The last group always ends at the last pixel; earlier groups end before the next start.
        const int64_t b = k + 1 < dw ? std::max<int64_t>(starts[k + 1], a + 1) : sw;
        if (b - a != lastCount) div = ByteSumDiv_(static_cast<uint64_t>(lastCount = b - a));
        uint64_t s0, s1, s2;
        SumPixels_(in + 3 * a, end, b - a, s0, s1, s2);
        out[0] = div(s0);
        out[1] = div(s1);
        out[2] = div(s2);
    }
}

// Width enlargement of one 24-bit row of sw pixels into dw pixels. line holds at least dw pixels.
void EnlargeLine_(const uint8_t* in, uint8_t* out, uint8_t* line, int64_t sw, int64_t dw, int64_t rx)
{
    TRACE("ImgResize.EnlargeLine_");
    int64_t n = sw;
    int64_t f = dw / sw;
    const uint8_t* cur = in;
    bool doubled = false;
    while (f > 1) {
        // Doubling from the end keeps every pixel readable until it is moved.
        if (cur != line) std::memcpy(line, cur, static_cast<size_t>(n) * 3);
        cur = line;
        uint8_t* l = line;
        l[(2 * n - 1) * 3 + 0] = l[(n - 1) * 3 + 0];
        l[(2 * n - 1) * 3 + 1] = l[(n - 1) * 3 + 1];
        l[(2 * n - 1) * 3 + 2] = l[(n - 1) * 3 + 2];
        l[(2 * n - 2) * 3 + 0] = l[(n - 1) * 3 + 0];
        l[(2 * n - 2) * 3 + 1] = l[(n - 1) * 3 + 1];
        l[(2 * n - 2) * 3 + 2] = l[(n - 1) * 3 + 2];
        for (int64_t i = n - 2; i >= 0; --i) {
            uint8_t* p = l + i * 3;
            uint8_t* q = l + 2 * i * 3;
            const uint8_t a0 = p[0], a1 = p[1], a2 = p[2], b0 = p[3], b1 = p[4], b2 = p[5];
            q[3] = Avg_(a0, b0);
            q[4] = Avg_(a1, b1);
            q[5] = Avg_(a2, b2);
            q[0] = a0;
            q[1] = a1;
            q[2] = a2;
        }
        n *= 2;
        f /= 2;
        doubled = true;
    }
    const int64_t r = doubled ? n * U / dw : rx;
    if (r >= U) {
        std::memcpy(out, cur, static_cast<size_t>(dw) * 3);
        return;
    }
    int64_t pos = 0, acc = 0, written = 0, i = 0;
    while (written < dw) {
        const uint8_t* p = cur + std::min(i, n - 1) * 3;
        std::memcpy(out + written * 3, p, 3);
        if (++written >= dw) break;
        ++i;
        pos += U;
        acc += r;
        if (acc < pos) {
            const uint8_t* q = cur + std::min(i, n - 1) * 3;
            uint8_t* o = out + written * 3;
            o[0] = Avg_(p[0], q[0]);
            o[1] = Avg_(p[1], q[1]);
            o[2] = Avg_(p[2], q[2]);
            ++written;
            acc += r;
        }
    }
}

// One in-place pass of the height enlargement over the block of h rows. The cur current rows lie
// at the reading end of the block; writing starts at the other end and moves towards them.
// Upward passes read the rows from the last one up and write from the bottom; downward passes
// mirror that. Every row is followed by the average with its next row in reading direction
// (itself at the edge) when the accumulator falls behind; c = 0 inserts one after every row.
// When the truncated ratio asks for more rows than fit, writing can overtake unread rows: those
// are saved in the ring first, so the pass yields what it would yield with a separate target.
void HeightPass_(uint8_t* block, size_t row, int64_t h, int64_t cur, int64_t c, bool up, uint8_t* ring,
                 int64_t ringRows)
{
    TRACE("ImgResize.HeightPass_");
    const int64_t base = h - cur;  // logical position of current row 0
    auto phys = [&](int64_t logical) { return block + (up ? h - 1 - logical : logical) * row; };
    int64_t savedUpTo = -1;  // highest current row copied into the ring
    std::vector<int64_t> ringTag(static_cast<size_t>(ringRows), -1);  // row held by each slot
    auto rowPtr = [&](int64_t j) -> const uint8_t* {
        return ringTag[static_cast<size_t>(j % ringRows)] == j ? ring + (j % ringRows) * row : phys(base + j);
    };
    // Before writing logical position w, a current row still unread there is saved.
    auto guard = [&](int64_t w, int64_t firstNeeded) {
        const int64_t j = w - base;
        if (j >= firstNeeded && j < cur && j > savedUpTo) {
            for (int64_t k = std::max(savedUpTo + 1, firstNeeded); k <= j; ++k) {
                std::memcpy(ring + (k % ringRows) * row, phys(base + k), row);
                ringTag[static_cast<size_t>(k % ringRows)] = k;
            }
            savedUpTo = j;
        }
    };
    const int64_t limit = c == 0 ? 2 * cur : h;  // a doubling pass writes exactly twice its rows
    int64_t pos = 0, acc = 0, w = 0;
    for (int64_t j = 0; w < limit; ++j) {
        const int64_t jj = std::min(j, cur - 1);
        const int64_t jn = std::min(jj + 1, cur - 1);
        const uint8_t* a = rowPtr(jj);
        uint8_t* target = phys(w);
        if (target != a) {
            guard(w, jj + 1);
            std::memcpy(target, a, row);
        }
        if (++w >= limit) break;
        pos += U;
        acc += c;
        if (c == 0 || acc < pos) {
            guard(w, jj + 1);
            AvgRow_(phys(w), rowPtr(jj), rowPtr(jn), row);
            ++w;
            acc += c;
        }
    }
}

}  // namespace

void ImgReduceStarts(int32_t* starts, int64_t count, int64_t r, int64_t limit)
{
    ReduceStarts_(starts, count, r, limit);
}

void ImgResampleLine(const uint8_t* in, uint8_t* out, const int32_t* starts, uint8_t* line, int64_t sw, int64_t dw,
                     int64_t rx)
{
    if (rx > U) ReduceLine_(in, out, starts, dw, sw);
    else EnlargeLine_(in, out, line, sw, dw, rx);
}

void ImgEnlargeRows(uint8_t* block, size_t rowBytes, int64_t sh, int64_t dh)
{
    TRACE("ImgResize.ImgEnlargeRows");
    // Doubling passes, then a final stretch.
    int64_t cur = sh, f = dh / sh;
    bool up = true;
    uint8_t* ring = nullptr;
    const int64_t ringRows = dh / 40000 + 4;
    MemAllocT(&ring, static_cast<int64_t>(rowBytes) * ringRows, __LINE__, "ImgBasic.ImgResample.ring");
    while (f > 1) {
        HeightPass_(block, rowBytes, dh, cur, 0, up, ring, ringRows);
        cur *= 2;
        f /= 2;
        up = !up;
    }
    const int64_t c = cur * U / dh;
    // Otherwise cur = dh: the last pass filled the whole block.
    if (c < U) HeightPass_(block, rowBytes, dh, cur, c, up, ring, ringRows);
    MemFreeT(&ring);
}

template <class T> void ImgSumDiv(uint8_t* out, const T* acc, size_t n, uint64_t count) { DivRow_(out, acc, n, count); }
template void ImgSumDiv<uint16_t>(uint8_t*, const uint16_t*, size_t, uint64_t);
template void ImgSumDiv<uint32_t>(uint8_t*, const uint32_t*, size_t, uint64_t);
template void ImgSumDiv<uint64_t>(uint8_t*, const uint64_t*, size_t, uint64_t);

int ImgSumBytes(int64_t maxGroup) { return maxGroup <= 257 ? 2 : maxGroup <= 16843009 ? 4 : 8; }

// ---------------------------------------------------------------- averaging / interpolating

void ImgResample(Image& src, Image& dst, int width, int height)
{
    TRACE("ImgResize.ImgResample");
    MonBlock([&] {
        ImgOpInfo info;
        ImgOpContext ctx;
        ImgInfo(info, OP_RESAMPLE);
        ImgInitEx(info, ctx, src, height, width, &dst);
        const Image& s = *ctx.Src;
        if (s.Width <= 0 || s.Height <= 0 || !s.Data) MonError(EC_IMAGE, IE_INIT_FUNCTION, __LINE__);
        const int64_t sw = s.Width, sh = s.Height, dw = width, dh = height;
        const int64_t rx = sw * U / dw, ry = sh * U / dh;
        const int64_t ky = dh / sh;
        const size_t srow = static_cast<size_t>(sw) * 3, drow = static_cast<size_t>(dw) * 3;
        const size_t L = std::max(srow, drow);

        // One work block: the line (L bytes) and the averaged row of a height reduction (srow).
        uint8_t* tmpbuf1 = nullptr;
        MemAllocT(&tmpbuf1, static_cast<int64_t>(L + srow), __LINE__, "ImgBasic.ImgResample.tmpbuf1");
        uint8_t* line = tmpbuf1;
        uint8_t* rowAvg = tmpbuf1 + L;

        int32_t* starts = nullptr;
        if (rx > U) {
            MemAllocT(&starts, dw * static_cast<int64_t>(sizeof(int32_t)), __LINE__, "ImgBasic.ImgResample.starts");
            ReduceStarts_(starts, dw, rx, sw);
        }
        auto widthStep = [&](const uint8_t* in, uint8_t* out) { ImgResampleLine(in, out, starts, line, sw, dw, rx); };

        uint8_t* out = ctx.DstBits;
        if (ky == 0) {
            // Height reduction, one output row at a time: the averaged row goes straight through
            // the width step, so no intermediate picture is kept. Groups start at ceil(k * ry / U);
            // the last one ends at the last row.
            int64_t maxGroup = 1;
            for (int64_t k = 0, t = 0; k < dh; ++k) {
                const int64_t next = k + 1 < dh ? CeilDiv_((k + 1) * ry, U) : sh;
                maxGroup = std::max(maxGroup, next - t);
                t = next;
            }
            const int accSize = ImgSumBytes(maxGroup);
            void* accBlock = nullptr;
            MemAllocNamed(&accBlock, static_cast<int64_t>(srow) * accSize, __LINE__, MEM_ORDINARY, "ImgBasic.ImgResample.acc");
            int64_t t = 0;
            for (int64_t k = 0; k < dh; ++k, out += drow) {
                const int64_t next = std::min(k + 1 < dh ? CeilDiv_((k + 1) * ry, U) : sh, sh);
                const int64_t first = std::min(t, sh - 1);
                const int64_t last = std::max(next, first + 1);
                if (accSize == 2) SumRows_(ctx.SrcBits, srow, first, last, static_cast<uint16_t*>(accBlock), rowAvg);
                else if (accSize == 4) SumRows_(ctx.SrcBits, srow, first, last, static_cast<uint32_t*>(accBlock), rowAvg);
                else SumRows_(ctx.SrcBits, srow, first, last, static_cast<uint64_t*>(accBlock), rowAvg);
                widthStep(rowAvg, out);
                t = next;
            }
            MemFree(&accBlock);
        } else {
            for (int64_t r = 0; r < sh; ++r, out += drow) widthStep(ctx.SrcBits + r * srow, out);
            ImgEnlargeRows(ctx.DstBits, drow, sh, dh);
        }
        MemFreeT(&starts);
        MemFreeT(&tmpbuf1);
        ImgDone(ctx);
    });
}
