// The row groups of a height reduction are the ones ImgResample forms (output row k averages
// source rows ceil(k * ry / unit) up to the next group's start, the last group ends at the last
// row); rows arriving in order fill them one after the other. The sums stay zero outside the
// span; the first rows of a group replace the previous group's sums.
#include "image/ImgResampleRows.h"

#include <algorithm>
#include <cstring>

#include "base/Basic.h"
#include "base/Mon.h"
#include "image/ImgResize.h"

namespace {
constexpr int64_t U = IMG_RATIO_UNIT;

int64_t CeilDiv_(int64_t a, int64_t b) { return (a + b - 1) / b; }

// Adds K rows at once, so the sums are read and written once per K rows. Eight bytes add up to
// at most 2040, which no sum type overflows. The first rows of a group replace the sums, which
// saves clearing them.
template <class T, int K, bool First>
[[gnu::always_inline]] inline void AddK_(T* __restrict sums, const uint8_t* const* rows, size_t n)
{
    const uint8_t* __restrict r[8];
    for (int j = 0; j < 8; ++j) r[j] = rows[j < K ? j : 0];
    auto add = [&](size_t i) {
        unsigned v = r[0][i];
        if (K > 1) v += r[1][i];
        if (K > 2) v += r[2][i];
        if (K > 3) v += r[3][i];
        if (K > 4) v += r[4][i];
        if (K > 5) v += r[5][i];
        if (K > 6) v += r[6][i];
        if (K > 7) v += r[7][i];
        sums[i] = static_cast<T>(First ? v : sums[i] + v);
    };
    size_t i = 0;
    for (; i + 64 <= n; i += 64)
        for (size_t j = 0; j < 64; ++j) add(i + j);
    for (; i < n; ++i) add(i);
}

template <class T, bool First>
[[gnu::always_inline]] inline void AddBatch_(T* sums, const uint8_t* const* rows, int count, size_t n)
{
    switch (count) {
    case 1: AddK_<T, 1, First>(sums, rows, n); break;
    case 2: AddK_<T, 2, First>(sums, rows, n); break;
    case 3: AddK_<T, 3, First>(sums, rows, n); break;
    case 4: AddK_<T, 4, First>(sums, rows, n); break;
    case 5: AddK_<T, 5, First>(sums, rows, n); break;
    case 6: AddK_<T, 6, First>(sums, rows, n); break;
    case 7: AddK_<T, 7, First>(sums, rows, n); break;
    default: AddK_<T, 8, First>(sums, rows, n); break;
    }
}

template <class T, bool First>
[[gnu::always_inline]] inline void AddRowsFrom_(T* sums, const uint8_t* const* rows, int count, size_t n)
{
    AddBatch_<T, First>(sums, rows, std::min(count, 8), n);
    for (count -= 8, rows += 8; count > 0; count -= 8, rows += 8) AddBatch_<T, false>(sums, rows, std::min(count, 8), n);
}

template <class T> [[gnu::always_inline]] inline void AddRows_(T* sums, const uint8_t* const* rows, int count, size_t n, bool first)
{
    if (first) AddRowsFrom_<T, true>(sums, rows, count, n);
    else AddRowsFrom_<T, false>(sums, rows, count, n);
}

IMG_WIDE_VECTORS void AddRows16_(uint16_t* sums, const uint8_t* const* rows, int count, size_t n, bool first)
{
    AddRows_(sums, rows, count, n, first);
}
}  // namespace

// First source row after the group of output row k.
static int64_t GroupEnd_(const ImgRowResample& rs, int64_t k)
{
    return k + 1 < rs.Dh ? std::min(CeilDiv_((k + 1) * rs.Ry, U), rs.Sh) : rs.Sh;
}

static int64_t MaxGroup_(const ImgRowResample& rs)
{
    TRACE("ImgResampleRows.MaxGroup_");
    int64_t most = 1;
    for (int64_t k = 0, t = 0; k < rs.Dh; ++k) {
        const int64_t next = GroupEnd_(rs, k);
        most = std::max(most, next - t);
        t = next;
    }
    return most;
}

static uint8_t* Line_(const ImgRowResample& rs) { return rs.Work; }
static uint8_t* Averaged_(const ImgRowResample& rs) { return rs.Work + std::max(rs.Sw, rs.Dw) * 3; }
static uint8_t* DstRow_(const ImgRowResample& rs, int64_t k) { return rs.Dst->Data + k * rs.Dw * 3; }

static void WidthStep_(const ImgRowResample& rs, const uint8_t* in, uint8_t* out)
{
    if (!rs.Starts) return ImgResampleLine(in, out, rs.Starts, Line_(rs), rs.Sw, rs.Dw, rs.Rx);
    // Only the output pixels whose groups meet the span can be other than black: a narrow picture
    // in a border a million pixels wide would otherwise cost a million sums per row.
    const int32_t* s = rs.Starts;
    const int64_t last = std::upper_bound(s, s + rs.Dw, rs.SpanFirst) - s - 1;
    const int64_t first = std::lower_bound(s, s + rs.Dw, s[last]) - s;
    const int64_t end = std::max(first, static_cast<int64_t>(std::lower_bound(s, s + rs.Dw, rs.SpanEnd) - s));
    std::memset(out, 0, static_cast<size_t>(first) * 3);
    std::memset(out + end * 3, 0, static_cast<size_t>(rs.Dw - end) * 3);
    if (end == first) return;
    // The last group taken ends where the whole line's group would end.
    const int64_t sw = end < rs.Dw ? std::max<int64_t>(s[end], s[end - 1] + 1) : rs.Sw;
    ImgResampleLine(in, out + first * 3, s + first, Line_(rs), sw, end - first, rs.Rx);
}

void ImgRowsBegin(ImgRowResample& rs, int64_t srcW, int64_t srcH, Image& dst, int width, int height,
                  int64_t spanFirst, int64_t spanCount)
{
    TRACE("ImgResampleRows.ImgRowsBegin");
    MonBlock([&] {
        ImgRowsFree(rs);
        rs = ImgRowResample{};
        if (srcW <= 0 || srcH <= 0) MonError(EC_IMAGE, IE_INIT_FUNCTION, __LINE__);
        ImgAllocNamed(dst, width, height, "ImgResampleRows.dst", __LINE__, 24);
        rs.Dst = &dst;
        rs.Sw = srcW;
        rs.Sh = srcH;
        rs.Dw = width;
        rs.Dh = height;
        rs.Rx = srcW * U / width;
        rs.Ry = srcH * U / height;
        rs.SpanFirst = std::clamp<int64_t>(spanFirst, 0, srcW);
        rs.SpanEnd = spanCount < 0 ? srcW : std::clamp<int64_t>(spanFirst + spanCount, rs.SpanFirst, srcW);
        rs.Reduce = rs.Dh / rs.Sh == 0;
        const int64_t srow = srcW * 3;
        MemAllocT(&rs.Work, std::max(srcW, rs.Dw) * 3 + srow, __LINE__, "ImgResampleRows.work");
        // The averaged row stays black outside the span: only the span is ever divided.
        std::memset(rs.Work, 0, static_cast<size_t>(std::max(srcW, rs.Dw) * 3 + srow));
        if (rs.Rx > U) {
            MemAllocT(&rs.Starts, rs.Dw * static_cast<int64_t>(sizeof(int32_t)), __LINE__, "ImgResampleRows.starts");
            ImgReduceStarts(rs.Starts, rs.Dw, rs.Rx, srcW);
        }
        if (rs.Reduce) {
            rs.SumBytes = ImgSumBytes(MaxGroup_(rs));
            MemAllocT(&rs.Sums, srow * rs.SumBytes, __LINE__, "ImgResampleRows.sums");
            std::memset(rs.Sums, 0, static_cast<size_t>(srow * rs.SumBytes));
            rs.GroupEnd = GroupEnd_(rs, 0);
        }
    });
}

// Adds the span of count rows to the sums.
static void SumSpan_(ImgRowResample& rs, const uint8_t* const* rows, int count)
{
    const size_t first = static_cast<size_t>(rs.SpanFirst) * 3, n = static_cast<size_t>(rs.SpanEnd - rs.SpanFirst) * 3;
    const uint8_t* spans[IMG_ROWS_BATCH];
    for (int done = 0; done < count; done += IMG_ROWS_BATCH) {
        const int k = std::min(count - done, IMG_ROWS_BATCH);
        for (int i = 0; i < k; ++i) spans[i] = rows[done + i] + first;
        switch (rs.SumBytes) {
        case 2: AddRows16_(static_cast<uint16_t*>(rs.Sums) + first, spans, k, n, rs.SumsStale); break;
        case 4: AddRows_(static_cast<uint32_t*>(rs.Sums) + first, spans, k, n, rs.SumsStale); break;
        default: AddRows_(static_cast<uint64_t*>(rs.Sums) + first, spans, k, n, rs.SumsStale); break;
        }
        rs.SumsStale = false;
    }
}

// Writes the output row of the finished group and clears the sums for the next one.
static void FinishGroup_(ImgRowResample& rs)
{
    TRACE("ImgResampleRows.FinishGroup_");
    const uint64_t count = static_cast<uint64_t>(rs.GroupEnd - rs.GroupStart);
    const size_t first = static_cast<size_t>(rs.SpanFirst) * 3, n = static_cast<size_t>(rs.SpanEnd - rs.SpanFirst) * 3;
    uint8_t* avg = Averaged_(rs) + first;
    if (rs.SumsStale) {  // a group of black rows only
        std::memset(DstRow_(rs, rs.Out), 0, static_cast<size_t>(rs.Dw) * 3);
    } else {
        switch (rs.SumBytes) {
        case 2: ImgSumDiv(avg, static_cast<const uint16_t*>(rs.Sums) + first, n, count); break;
        case 4: ImgSumDiv(avg, static_cast<const uint32_t*>(rs.Sums) + first, n, count); break;
        default: ImgSumDiv(avg, static_cast<const uint64_t*>(rs.Sums) + first, n, count); break;
        }
        WidthStep_(rs, Averaged_(rs), DstRow_(rs, rs.Out));
    }
    rs.SumsStale = true;
    rs.GroupStart = rs.GroupEnd;
    rs.GroupEnd = GroupEnd_(rs, ++rs.Out);
}

static void CheckRoom_(const ImgRowResample& rs, int64_t count)
{
    if (!rs.Dst || count < 0 || count > rs.Sh - rs.Row) MonError(EC_IMAGE, IE_INIT_FUNCTION, __LINE__);
}

void ImgRowsPut(ImgRowResample& rs, const uint8_t* const* rows, int count)
{
    TRACE("ImgResampleRows.ImgRowsPut");
    CheckRoom_(rs, count);
    for (int i = 0; i < count && !rs.Reduce; ++i) WidthStep_(rs, rows[i], DstRow_(rs, rs.Row++));
    while (rs.Reduce && count > 0) {
        if (rs.GroupEnd - rs.GroupStart == 1) {
            // A group of one row is that row.
            WidthStep_(rs, rows[0], DstRow_(rs, rs.Out));
            rs.GroupStart = rs.GroupEnd;
            rs.GroupEnd = GroupEnd_(rs, ++rs.Out);
            ++rs.Row;
            ++rows;
            --count;
            continue;
        }
        const int take = static_cast<int>(std::min<int64_t>(count, rs.GroupEnd - rs.Row));
        SumSpan_(rs, rows, take);
        rs.Row += take;
        rows += take;
        count -= take;
        if (rs.Row == rs.GroupEnd) FinishGroup_(rs);
    }
}

void ImgRowsPutBlack(ImgRowResample& rs, int64_t count)
{
    TRACE("ImgResampleRows.ImgRowsPutBlack");
    CheckRoom_(rs, count);
    if (!rs.Reduce) {
        std::memset(DstRow_(rs, rs.Row), 0, static_cast<size_t>(count * rs.Dw * 3));
        rs.Row += count;
        return;
    }
    while (count > 0) {
        const int64_t take = std::min(count, rs.GroupEnd - rs.Row);
        rs.Row += take;
        count -= take;
        if (rs.Row == rs.GroupEnd) FinishGroup_(rs);
    }
}

void ImgRowsEnd(ImgRowResample& rs)
{
    TRACE("ImgResampleRows.ImgRowsEnd");
    MonBlock([&] {
        if (!rs.Dst || rs.Row != rs.Sh) MonError(EC_IMAGE, IE_INIT_FUNCTION, __LINE__);
        if (!rs.Reduce) ImgEnlargeRows(rs.Dst->Data, static_cast<size_t>(rs.Dw) * 3, rs.Sh, rs.Dh);
        ImgRowsFree(rs);
    });
}

void ImgRowsFree(ImgRowResample& rs)
{
    TRACE("ImgResampleRows.ImgRowsFree");
    MemFreeT(&rs.Work);
    MemFree(&rs.Sums);
    MemFreeT(&rs.Starts);
}
