// Colour quantiser (see PalOpt.h).
#include "image/PalOpt.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/Basic.h"
#include "base/Mon.h"
#include "image/DitherMatrix.h"

PalWork* quantP = nullptr;

namespace {

// Palette entries sorted by green, so the nearest-colour search of the remappers can stop
// as soon as the green term alone exceeds the best distance, looking only near the colour's
// own green. Gives exactly PalNearest's answer, ties included.
struct NearTab_ {
    int Count = 0;
    uint8_t G[256], R[256], B[256], Index[256];
    int Start[256];  // first sorted position whose green is >= the value
};

} // namespace

static void BuildNearTab_(NearTab_& t, int count, const uint8_t pal[][3])
{
    TRACE("PalOpt.BuildNearTab_");
    count = std::clamp(count, 1, 256);
    int order[256];
    for (int i = 0; i < count; i++) order[i] = i;
    std::stable_sort(order, order + count, [&](int a, int b) { return pal[a][1] < pal[b][1]; });
    t.Count = count;
    for (int j = 0; j < count; j++) {
        const int i = order[j];
        t.B[j] = pal[i][0];
        t.G[j] = pal[i][1];
        t.R[j] = pal[i][2];
        t.Index[j] = static_cast<uint8_t>(i);
    }
    int j = 0;
    for (int v = 0; v < 256; v++) {
        while (j < count && t.G[j] < v) j++;
        t.Start[v] = j;
    }
}

static inline int NearFast_(const NearTab_& t, int r, int g, int b)
{
    int best = INT_MAX, bestIndex = 0;
    auto consider = [&](int j, int greenTerm) {
        const int dr = r - t.R[j], db = b - t.B[j];
        const int d = greenTerm + dr * dr * PAL_WEIGHT_R + db * db * PAL_WEIGHT_B;
        if (d < best || (d == best && t.Index[j] < bestIndex)) {
            best = d;
            bestIndex = t.Index[j];
        }
    };
    const int start = t.Start[g];
    for (int j = start; j < t.Count; j++) {
        const int dg = t.G[j] - g;
        const int greenTerm = dg * dg * PAL_WEIGHT_G;
        if (greenTerm > best) break;
        consider(j, greenTerm);
    }
    for (int j = start - 1; j >= 0; j--) {
        const int dg = g - t.G[j];
        const int greenTerm = dg * dg * PAL_WEIGHT_G;
        if (greenTerm > best) break;
        consider(j, greenTerm);
    }
    return bestIndex;
}

// Palette index of a colour: the cell's index, or the nearest entry, cached into the cell.
static inline int Lookup_(int32_t* hist, const NearTab_& t, int r, int g, int b)
{
    int32_t& cell = hist[PalCell(r, g, b)];
    if (cell < 0) cell = NearFast_(t, r, g, b);
    return cell;
}

static inline void AddCount_(int32_t* hist, int cell)
{
    int32_t& c = hist[cell];
    c += (c != INT32_MAX);
}

static inline uint8_t Clamp255_(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

void PalClearVars()
{
    TRACE("PalOpt.PalClearVars");
    if (!quantP) return;
    std::memset(quantP->Hist, 0xFF, sizeof(quantP->Hist));
    quantP->Distinct = 0;
}

void PalInit()
{
    TRACE("PalOpt.PalInit");
    MonBlock([&] {
        if (!MemIsRegistered(reinterpret_cast<void* const*>(&quantP))) {
            quantP = nullptr;
            MemAllocT(&quantP, sizeof(PalWork), __LINE__, "PalOpt.PalInit.quantP");
        }
        PalClearVars();
    });
}

void PalDone()
{
    TRACE("PalOpt.PalDone");
    MemFreeT(&quantP);
    quantP = nullptr;
}

void Count8(const Image& img)
{
    TRACE("PalOpt.Count8");
    if (!quantP || !img.Data) return;
    int64_t counts[256] = {};
    const int64_t n = int64_t(img.Width) * img.Height;
    for (int64_t i = 0; i < n; i++) counts[img.Data[i]]++;
    for (int i = 0; i < 256; i++) {
        if (counts[i] == 0) continue;
        int32_t& c = quantP->Hist[PalCell(img.Pal[i][2], img.Pal[i][1], img.Pal[i][0])];
        c = static_cast<int32_t>(std::min<int64_t>(int64_t(c) + counts[i], INT32_MAX));
    }
}

void PalCountColors(const Image& img)
{
    TRACE("PalOpt.PalCountColors");
    if (!quantP || !img.Data || img.Width <= 0 || img.Height <= 0) return;
    int32_t* hist = quantP->Hist;
    const int64_t n = int64_t(img.Width) * img.Height;
    const uint8_t* p = img.Data;
    switch (img.Bpp) {
    case 8:
        Count8(img);
        break;
    case 15:
        for (int64_t i = 0; i < n; i++, p += 2) {
            const int v = p[0] | (p[1] << 8);
            AddCount_(hist, (((v >> 10) & 31) << 1) | ((((v >> 5) & 31) << 1) << 6) | (((v & 31) << 1) << 12));
        }
        break;
    case 16:
        for (int64_t i = 0; i < n; i++, p += 2) {
            const int v = p[0] | (p[1] << 8);
            AddCount_(hist, (((v >> 11) & 31) << 1) | (((v >> 5) & 63) << 6) | (((v & 31) << 1) << 12));
        }
        break;
    case 24:
        for (int64_t i = 0; i < n; i++, p += 3) AddCount_(hist, PalCell(p[2], p[1], p[0]));
        break;
    case 32:
        for (int64_t i = 0; i < n; i++, p += 4) AddCount_(hist, PalCell(p[2], p[1], p[0]));
        break;
    default:
        break;
    }
}

void CalcBoxColor(const PalBox& box, int form, int& r, int& g, int& b)
{
    TRACE("PalOpt.CalcBoxColor");
    const int32_t* hist = quantP->Hist;
    int64_t total = 0, sumR = 0, sumG = 0, sumB = 0;
    for (int cb = box.LowB; cb <= box.HighB; cb++) {
        for (int cg = box.LowG; cg <= box.HighG; cg++) {
            const int32_t* row = hist + (cb << 12) + (cg << 6);
            int64_t rowTotal = 0, rowR = 0;
            for (int cr = box.LowR; cr <= box.HighR; cr++) {
                const int32_t v = row[cr];
                if (v < 0) continue;
                const int64_t k = int64_t(v) + 1;
                rowTotal += k;
                rowR += k * cr;
            }
            total += rowTotal;
            sumR += rowR;
            sumG += rowTotal * cg;
            sumB += rowTotal * cb;
        }
    }
    if (total == 0) {
        r = g = b = 0;
        return;
    }
    const double t = double(total);
    if (form == PAL_FORM_STATS) {
        r = int(std::nearbyint(double(sumR) / t));
        g = int(std::nearbyint(double(sumG) / t));
        b = int(std::nearbyint(double(sumB) / t));
    } else {
        r = quantP->Corr[int(4.0 * double(sumR) / t)];
        g = quantP->Corr[int(4.0 * double(sumG) / t)];
        b = quantP->Corr[int(4.0 * double(sumB) / t)];
    }
}

// Weighted spread of one axis from its per-plane sums of stored values (pixel count - 1).
// Each term is formed exactly (wide integers), so crowded cells far from the mean cannot
// wrap into a negative spread.
static double AxisSpread_(const int64_t* weightPerPlane, int low, int high, int mean, int axisWeight)
{
    __int128 sum = 0;
    for (int c = low; c <= high; c++) {
        const int64_t d = mean - c;
        sum += __int128(weightPerPlane[c]) * (d * d * axisWeight);
    }
    return double(sum);
}

// Per plane of each axis (red, green, blue): the box's non-empty cells and their stored values.
// The bounds of the non-empty cells are what the plane-by-plane search finds in any order, and
// since the cells cut off are empty, the same sums give the statistics of the shrunk box.
struct PlaneSums_ {
    int64_t Cells[3][64] = {};
    int64_t Vals[3][64] = {};
};

static void AddCell_(PlaneSums_& s, int cell, int32_t value)
{
    const int r = cell & 63, g = (cell >> 6) & 63, b = cell >> 12;
    s.Cells[0][r]++, s.Cells[1][g]++, s.Cells[2][b]++;
    s.Vals[0][r] += value, s.Vals[1][g] += value, s.Vals[2][b] += value;
}

static void ShrinkToSums_(PalBox& box, const PlaneSums_& s)
{
    auto shrinkAxis = [](const int64_t* cells, int32_t& low, int32_t& high) {
        int lo = low, hi = high;
        while (lo <= hi && cells[lo] == 0) lo++;
        if (lo > hi) return;  // no non-empty cell: bounds stay
        while (cells[hi] == 0) hi--;
        low = lo;
        high = hi;
    };
    shrinkAxis(s.Cells[0], box.LowR, box.HighR);
    shrinkAxis(s.Cells[1], box.LowG, box.HighG);
    shrinkAxis(s.Cells[2], box.LowB, box.HighB);

    box.ExtentR = box.HighR - box.LowR;
    box.ExtentG = box.HighG - box.LowG;
    box.ExtentB = box.HighB - box.LowB;
    box.Volume = (box.ExtentR * box.ExtentR + box.ExtentG * box.ExtentG + box.ExtentB * box.ExtentB) * 121;

    // Means as CalcBoxColor's statistics form gives them (weights = pixel counts).
    auto spread = [&](int axis, int low, int high, int axisWeight) {
        int64_t total = 0, sum = 0;
        for (int c = low; c <= high; c++) {
            const int64_t k = s.Vals[axis][c] + s.Cells[axis][c];
            total += k;
            sum += k * c;
        }
        const int mean = total == 0 ? 0 : int(std::nearbyint(double(sum) / double(total)));
        return AxisSpread_(s.Vals[axis], low, high, mean, axisWeight);
    };
    box.SpreadR = spread(0, box.LowR, box.HighR, PAL_WEIGHT_R);
    box.SpreadG = spread(1, box.LowG, box.HighG, PAL_WEIGHT_G);
    box.SpreadB = spread(2, box.LowB, box.HighB, PAL_WEIGHT_B);

    box.MiddleR = (box.LowR + box.HighR) / 2;
    box.MiddleG = (box.LowG + box.HighG) / 2;
    box.MiddleB = (box.LowB + box.HighB) / 2;
}

void ShrinkBox(PalBox& box)
{
    TRACE("PalOpt.ShrinkBox");
    const int32_t* hist = quantP->Hist;
    PlaneSums_ s;
    for (int cb = box.LowB; cb <= box.HighB; cb++)
        for (int cg = box.LowG; cg <= box.HighG; cg++)
            for (int cr = box.LowR; cr <= box.HighR; cr++) {
                const int cell = (cb << 12) | (cg << 6) | cr;
                if (hist[cell] >= 0) AddCell_(s, cell, hist[cell]);
            }
    ShrinkToSums_(box, s);
}

namespace {
// A non-empty cell and its stored value. Each box owns a contiguous run of these, so shrinking
// visits only the box's own cells instead of its whole, mostly empty, volume.
struct FilledCell_ {
    int32_t Cell, Value;
};
struct CellRun_ {
    int32_t First, Count;
};
} // namespace

static void ShrinkRun_(PalBox& box, const FilledCell_* cells, CellRun_ run)
{
    PlaneSums_ s;
    for (int32_t i = run.First; i < run.First + run.Count; i++) AddCell_(s, cells[i].Cell, cells[i].Value);
    ShrinkToSums_(box, s);
}

// The non-empty cells in index order. Written unconditionally and kept by advancing: filled
// cells are scattered, a branch on each would mostly mispredict.
static std::vector<FilledCell_> FilledCells_(const int32_t* hist)
{
    int32_t count = 0;
    for (int cell = 0; cell < PAL_CELLS; cell++) count += hist[cell] >= 0;
    std::vector<FilledCell_> cells(static_cast<size_t>(count) + 1);
    int32_t filled = 0;
    for (int cell = 0; cell < PAL_CELLS; cell++) {
        cells[static_cast<size_t>(filled)] = {cell, hist[cell]};
        filled += hist[cell] >= 0;
    }
    cells.pop_back();
    return cells;
}

// Cell coordinate on an axis (0 red, 1 green, 2 blue).
static int CellAxis_(int cell, int axis) { return (cell >> (6 * axis)) & 63; }

// Moves the run's cells at or below middle on the axis to its front, the others behind them;
// returns how many stay in front. Every cell is written to both sides and one side advances,
// so the sides do not depend on a branch.
static int32_t PartitionRun_(FilledCell_* cells, FilledCell_* scratch, CellRun_ run, int axis, int middle)
{
    FilledCell_* run0 = cells + run.First;
    int32_t low = 0, high = 0;
    for (int32_t i = 0; i < run.Count; i++) {
        const FilledCell_ c = run0[i];
        const bool below = CellAxis_(c.Cell, axis) <= middle;
        run0[low] = c;
        scratch[high] = c;
        low += below;
        high += !below;
    }
    std::copy(scratch, scratch + high, run0 + low);
    return low;
}

void SplitBoxes()
{
    TRACE("PalOpt.SplitBoxes");
    PalWork& q = *quantP;
    std::vector<FilledCell_> cells = FilledCells_(q.Hist);
    std::vector<FilledCell_> scratch(cells.size());
    CellRun_ runs[PAL_MAX_BOXES];

    PalBox& whole = q.Boxes[0];
    whole = PalBox{};
    whole.HighR = whole.HighG = whole.HighB = 63;
    q.BoxCount = 1;
    runs[0] = {0, static_cast<int32_t>(cells.size())};
    ShrinkRun_(whole, cells.data(), runs[0]);

    const int wanted = std::min(q.Wanted, PAL_MAX_BOXES);
    while (q.BoxCount < wanted) {
        // Largest spread wins; ties go to the earlier box, then red, green, blue. An axis
        // of extent 0 cannot be halved (it would leave an empty box, a stray black entry).
        int bestBox = -1, bestAxis = 0;
        double best = -1;
        for (int i = 0; i < q.BoxCount; i++) {
            const PalBox& bx = q.Boxes[i];
            if (bx.Volume <= 0) continue;
            if (bx.ExtentR > 0 && bx.SpreadR > best) { best = bx.SpreadR; bestBox = i; bestAxis = 0; }
            if (bx.ExtentG > 0 && bx.SpreadG > best) { best = bx.SpreadG; bestBox = i; bestAxis = 1; }
            if (bx.ExtentB > 0 && bx.SpreadB > best) { best = bx.SpreadB; bestBox = i; bestAxis = 2; }
        }
        if (bestBox < 0) break;
        PalBox& oldBox = q.Boxes[bestBox];
        PalBox& newBox = q.Boxes[q.BoxCount];
        newBox = oldBox;
        switch (bestAxis) {
        case 0: oldBox.HighR = oldBox.MiddleR; newBox.LowR = newBox.MiddleR + 1; break;
        case 1: oldBox.HighG = oldBox.MiddleG; newBox.LowG = newBox.MiddleG + 1; break;
        default: oldBox.HighB = oldBox.MiddleB; newBox.LowB = newBox.MiddleB + 1; break;
        }
        // The old box's cells stay at the front of its run, the new box takes the rest.
        const int middle = bestAxis == 0 ? newBox.MiddleR : bestAxis == 1 ? newBox.MiddleG : newBox.MiddleB;
        CellRun_& oldRun = runs[bestBox];
        const int32_t kept = PartitionRun_(cells.data(), scratch.data(), oldRun, bestAxis, middle);
        runs[q.BoxCount] = {oldRun.First + kept, oldRun.Count - kept};
        oldRun.Count = kept;
        ShrinkRun_(oldBox, cells.data(), oldRun);
        ShrinkRun_(newBox, cells.data(), runs[q.BoxCount]);
        q.BoxCount++;
    }
}

void CreateInverseBoxMap(const PalBox& box, int index)
{
    TRACE("PalOpt.CreateInverseBoxMap");
    int32_t* hist = quantP->Hist;
    for (int cb = box.LowB; cb <= box.HighB; cb++)
        for (int cg = box.LowG; cg <= box.HighG; cg++) {
            int32_t* row = hist + (cb << 12) + (cg << 6);
            std::fill(row + box.LowR, row + box.HighR + 1, index);
        }
}

void CreateHighPalette()
{
    TRACE("PalOpt.CreateHighPalette");
    PalWork& q = *quantP;
    for (int i = 0; i < q.BoxCount; i++) {
        int r, g, b;
        CalcBoxColor(q.Boxes[i], PAL_FORM_PALETTE, r, g, b);
        q.Pal[i][0] = uint8_t(b);
        q.Pal[i][1] = uint8_t(g);
        q.Pal[i][2] = uint8_t(r);
        CreateInverseBoxMap(q.Boxes[i], i);
    }
}

void CreateLowPalette()
{
    TRACE("PalOpt.CreateLowPalette");
    PalWork& q = *quantP;
    int k = 0;
    for (int cell = 0; cell < PAL_CELLS; cell++) {
        if (q.Hist[cell] < 0) continue;
        if (k < 256) {
            q.Pal[k][0] = uint8_t(q.Corr[4 * (cell >> 12)]);
            q.Pal[k][1] = uint8_t(q.Corr[4 * ((cell >> 6) & 63)]);
            q.Pal[k][2] = uint8_t(q.Corr[4 * (cell & 63)]);
        }
        q.Hist[cell] = k < 256 ? k : 255;
        k++;
    }
}

int PalNearest(int r, int g, int b, int count, const uint8_t palette[][3])
{
    TRACE("PalOpt.PalNearest");
    int best = INT_MAX, bestIndex = 0;
    count = std::clamp(count, 1, 256);
    for (int i = 0; i < count; i++) {
        const int dg = std::abs(g - palette[i][1]);
        const int greenTerm = dg * dg * PAL_WEIGHT_G;
        if (greenTerm > best) continue;
        const int dr = std::abs(r - palette[i][2]), db = std::abs(b - palette[i][0]);
        const int d = greenTerm + dr * dr * PAL_WEIGHT_R + db * db * PAL_WEIGHT_B;
        if (d < best) {
            best = d;
            bestIndex = i;
        }
    }
    return bestIndex;
}

void SetDarkColorFirst()
{
    TRACE("PalOpt.SetDarkColorFirst");
    PalWork& q = *quantP;
    const int a = PalNearest(0, 0, 0, q.Wanted, q.Pal);
    if (a == 0) return;
    for (int c = 0; c < 3; c++) std::swap(q.Pal[0][c], q.Pal[a][c]);
    for (int cell = 0; cell < PAL_CELLS; cell++) {
        int32_t& v = q.Hist[cell];
        if (v == 0) v = a;
        else if (v == a) v = 0;
    }
}

void PalReduce(int wanted)
{
    TRACE("PalOpt.PalReduce");
    if (!quantP) return;
    PalWork& q = *quantP;
    std::memset(q.Pal, 255, sizeof(q.Pal));
    q.Wanted = std::clamp(wanted, 2, 256);
    int distinct = 0;
    for (int cell = 0; cell < PAL_CELLS; cell++) distinct += (q.Hist[cell] != -1);
    q.Distinct = distinct;
    for (int i = 0; i < 256; i++) q.Corr[i] = i < 4 ? 0 : i;
    q.BoxCount = 0;
    if (q.Wanted < q.Distinct) {
        SplitBoxes();
        CreateHighPalette();
    } else {
        CreateLowPalette();
    }
    SetDarkColorFirst();
}

// ---- remapping ----

static void Remap24_(const uint8_t* src, int step, int64_t n, uint8_t* dst, const NearTab_& t)
{
    TRACE("PalOpt.Remap24_");
    int32_t* hist = quantP->Hist;
    for (int64_t i = 0; i < n; i++, src += step) {
        int32_t c = hist[PalCell(src[2], src[1], src[0])];
        // Every counted colour is covered; the search only serves a source that was not counted.
        if (c < 0) c = Lookup_(hist, t, src[2], src[1], src[0]);
        dst[i] = uint8_t(c);
    }
}

static void RemapDitherLite24_(const uint8_t* src, int step, int width, int height, uint8_t* dst, const NearTab_& t)
{
    TRACE("PalOpt.RemapDitherLite24_");
    int32_t* hist = quantP->Hist;
    const uint8_t(*pal)[3] = quantP->Pal;
    // Two passes per row: the table reads of one pass do not wait on each other, so their
    // cache misses overlap. A cell's answer is the same whichever pass fills it in.
    std::vector<uint8_t> first(static_cast<size_t>(width));
    for (int y = 0; y < height; y++, src += int64_t(width) * step, dst += width) {
        const uint8_t* matrixRow = DitherMatrix[y & 127];
        const uint8_t* px = src;
        for (int x = 0; x < width; x++, px += step) first[x] = uint8_t(Lookup_(hist, t, px[2], px[1], px[0]));
        px = src;
        for (int x = 0; x < width; x++, px += step) {
            const int b = px[0], g = px[1], r = px[2];
            const int p = first[x];
            const int pb = pal[p][0], pg = pal[p][1], pr = pal[p][2];
            const int m = 2 * matrixRow[x & 127];
            const int r2 = Clamp255_(pr + (m * (r - pr)) / 255);
            const int g2 = Clamp255_(pg + (m * (g - pg)) / 255);
            const int b2 = Clamp255_(pb + (m * (b - pb)) / 255);
            dst[x] = uint8_t(Lookup_(hist, t, r2, g2, b2));
        }
    }
}

// Amount of an error e (-256..256) passed on with weight/16; larger errors are damped and
// errors beyond 57 dropped, so streaks of clipped colours do not smear.
static void MakeErrTable_(int weight, int32_t* table)
{
    TRACE("PalOpt._MakeErrTable");
    int32_t pos[257];
    for (int e = 0; e <= 256; e++) {
        int v = 0;
        if (e <= 19) v = int(std::nearbyint(weight * e / 16.0));
        else if (e <= 38) v = int(std::nearbyint(weight * (e - 19) / 16.0)) / 2;
        else if (e <= 57) v = int(std::nearbyint(weight * (e - 38) / 16.0)) / 4;
        pos[e] = v;
    }
    for (int e = -256; e <= 256; e++) table[e + 256] = e < 0 ? -pos[-e] : pos[e];
}

static void RemapDitherHeavy24_(uint8_t* src, int step, int width, int height, uint8_t* dst, const NearTab_& t)
{
    TRACE("PalOpt.RemapDitherHeavy24_");
    int32_t* hist = quantP->Hist;
    const uint8_t(*pal)[3] = quantP->Pal;
    int32_t tab7[513], tab3[513], tab5[513], tab1[513];
    MakeErrTable_(7, tab7);
    MakeErrTable_(3, tab3);
    MakeErrTable_(5, tab5);
    MakeErrTable_(1, tab1);
    const int64_t rowBytes = int64_t(width) * step;
    auto spread = [&](uint8_t* px, const int32_t* tab, const int* err) {
        for (int c = 0; c < 3; c++) px[c] = Clamp255_(px[c] + tab[err[c] + 256]);
    };
    for (int y = 0; y < height; y++) {
        const bool lastRow = y == height - 1;
        for (int x = 0; x < width; x++) {
            uint8_t* px = src + int64_t(y) * rowBytes + int64_t(x) * step;
            const int p = Lookup_(hist, t, px[2], px[1], px[0]);
            dst[int64_t(y) * width + x] = uint8_t(p);
            if (x == 0 && (y & 1) == 0) continue;
            // Error per byte position (blue, green, red).
            const int err[3] = {px[0] - pal[p][0], px[1] - pal[p][1], px[2] - pal[p][2]};
            const bool lastCol = x == width - 1;
            if (!lastCol) spread(px + step, tab7, err);
            if (!lastRow) {
                uint8_t* below = px + rowBytes;
                if (x > 0) spread(below - step, tab3, err);
                spread(below, tab5, err);
                if (!lastCol) spread(below + step, tab1, err);
            }
        }
    }
}

static void Remap8_(const Image& src, Image& dst, const NearTab_& t)
{
    TRACE("PalOpt.Remap8_");
    uint8_t map[256];
    for (int i = 0; i < 256; i++)
        map[i] = uint8_t(Lookup_(quantP->Hist, t, src.Pal[i][2], src.Pal[i][1], src.Pal[i][0]));
    std::memcpy(dst.Pal, quantP->Pal, sizeof(dst.Pal));
    const int64_t n = int64_t(src.Width) * src.Height;
    for (int64_t i = 0; i < n; i++) dst.Data[i] = map[src.Data[i]];
}

// 15/16 -> 24 bits with the components shifted up and the low bits zero.
static void Words24_(const Image& src, Image& dst)
{
    TRACE("PalOpt.Words24_");
    const int64_t n = int64_t(src.Width) * src.Height;
    const uint8_t* s = src.Data;
    uint8_t* d = dst.Data;
    const bool is16 = src.Bpp == 16;
    for (int64_t i = 0; i < n; i++, s += 2, d += 3) {
        const int v = s[0] | (s[1] << 8);
        d[0] = uint8_t((v & 31) << 3);
        if (is16) {
            d[1] = uint8_t(((v >> 5) & 63) << 2);
            d[2] = uint8_t(((v >> 11) & 31) << 3);
        } else {
            d[1] = uint8_t(((v >> 5) & 31) << 3);
            d[2] = uint8_t(((v >> 10) & 31) << 3);
        }
    }
}

void PalRemap(Image& src, Image& dst, int mode)
{
    TRACE("PalOpt.PalRemap");
    if (mode < PAL_REMAP_NONE || mode > PAL_REMAP_DIFFUSION) return;
    if (!quantP || !src.Data || src.Width <= 0 || src.Height <= 0) return;
    const int bpp = src.Bpp;
    if (bpp != 8 && bpp != 15 && bpp != 16 && bpp != 24 && bpp != 32) return;
    MonBlock([&] {
        NearTab_ near;
        BuildNearTab_(near, quantP->Wanted, quantP->Pal);
        // Remapping an image into itself goes through a fresh record, swapped in at the end.
        Image own;
        Image& out = (&src == &dst) ? own : dst;
        const int width = src.Width, height = src.Height;
        ImgAllocNamed(out, width, height, "PalOpt.PalRemap.img8bit", __LINE__, 8);
        Image temp;
        Image* work = &src;
        if (bpp == 15 || bpp == 16) {
            ImgAllocNamed(temp, width, height, "PalOpt.PalRemap.temp24", __LINE__, 24);
            Words24_(src, temp);
            work = &temp;
        }
        if (bpp == 8) {
            Remap8_(src, out, near);
        } else {
            const int step = work->Bpp == 32 ? 4 : 3;
            std::memcpy(out.Pal, quantP->Pal, sizeof(out.Pal));
            switch (mode) {
            case PAL_REMAP_NONE:
                Remap24_(work->Data, step, int64_t(width) * height, out.Data, near);
                break;
            case PAL_REMAP_ORDERED:
                RemapDitherLite24_(work->Data, step, width, height, out.Data, near);
                break;
            default:
                RemapDitherHeavy24_(work->Data, step, width, height, out.Data, near);
                break;
            }
        }
        if (work == &temp) ImgFree(temp);
        if (&out == &own) {
            ImgXchg(src, own);
            ImgFree(own);
        }
    });
}

void ConvTo8bit(Image& src, Image& dst, int mode)
{
    TRACE("PalOpt.ConvTo8bit");
    MonBlock([&] {
        PalInit();
        PalCountColors(src);
        PalReduce(256);
        PalRemap(src, dst, mode);
        PalDone();
    });
}
