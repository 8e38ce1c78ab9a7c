// Scalers: nearest-neighbour stepping, box averaging, doubling passes and stretches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "base/Basic.h"
#include "base/Mon.h"
#include "image/ImgBasic.h"

#include "ImageTestFixture.h"
#include "image/ImgResize.h"

namespace {

class ResizeTest : public ImagePairTest {
protected:
    // 24-bit image whose pixel (x, y) is (x & 255, y & 255, (x >> 8) + 16 * (y >> 8)).
    static void MakeCoords(Image& img, int w, int h)
    {
        ImgAlloc(img, w, h, 24);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* p = img.Data + (size_t(y) * w + x) * 3;
                p[0] = uint8_t(x);
                p[1] = uint8_t(y);
                p[2] = uint8_t((x >> 8) + 16 * (y >> 8));
            }
    }
    static const uint8_t* Px(const Image& img, int x, int y)
    {
        return img.Data + (size_t(y) * img.Width + x) * img.BytesPerPixel;
    }
    static int SrcX(const Image& img, int x, int y)
    {
        const uint8_t* p = Px(img, x, y);
        return p[0] + 256 * (p[2] & 15);
    }
};

TEST_F(ResizeTest, ResizeStepping)
{
    MakeCoords(a, 320, 2);
    ImgResize(a, b, 640, 2);
    for (int x = 0; x < 640; ++x) ASSERT_EQ(SrcX(b, x, 0), x / 2) << x;

    MakeCoords(a, 640, 2);
    ImgResize(a, b, 320, 2);
    for (int x = 0; x < 320; ++x) ASSERT_EQ(SrcX(b, x, 1), 2 * x) << x;

    // Exact landings skip one more source pixel.
    MakeCoords(a, 500, 1);
    ImgResize(a, b, 320, 1);
    const int first[] = {0, 2, 4, 5, 7};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(SrcX(b, k, 0), first[k]) << k;
    EXPECT_EQ(SrcX(b, 16, 0), 26);
    EXPECT_LT(SrcX(b, 319, 0), 500);

    // Rows: enlarging floors, reducing rounds up.
    MakeCoords(a, 1, 10);
    ImgResize(a, b, 1, 4);  // ry = 250000: rows 0, 3 (2.5 up), 5, 8 (7.5 up)
    EXPECT_EQ(Px(b, 0, 1)[1], 3);
    EXPECT_EQ(Px(b, 0, 3)[1], 8);
    ImgResize(a, b, 1, 25);  // ry = 40000: row k shows floor(k * 0.4)
    for (int k = 0; k < 25; ++k) ASSERT_EQ(Px(b, 0, k)[1], k * 4 / 10) << k;
}

TEST_F(ResizeTest, ResizeDepths)
{
    ImgAlloc(a, 4, 2, 8);
    for (int i = 0; i < 8; ++i) a.Data[i] = uint8_t(i);
    a.Pal[3][1] = 55;
    ImgResize(a, b, 2, 1);
    EXPECT_EQ(b.Bpp, 8);
    EXPECT_EQ(b.Data[0], 0);
    EXPECT_EQ(b.Data[1], 2);
    EXPECT_EQ(b.Pal[3][1], 55);

    ImgResize(a, b, 4, 2);  // same size: identical
    EXPECT_EQ(0, std::memcmp(a.Data, b.Data, 8));

    ImgFree(a);
    ImgAlloc(a, 2, 2, 16);
    std::memset(a.Data, 0xFF, 8);
    ImgResize(a, a, 3, 3);  // in place through the frame's temporary
    EXPECT_EQ(a.Bpp, 24);
    EXPECT_EQ(a.Width, 3);
    EXPECT_EQ(Px(a, 2, 2)[1], 252);
}

TEST_F(ResizeTest, ResampleSameSizeIsIdentical)
{
    ImgAlloc(a, 5, 3, 8);
    for (int i = 0; i < 15; ++i) a.Data[i] = uint8_t(i);
    for (int i = 0; i < 256; ++i) a.Pal[i][0] = uint8_t(i), a.Pal[i][1] = uint8_t(255 - i), a.Pal[i][2] = 9;
    ImgResample(a, b, 5, 3);
    ASSERT_EQ(b.Bpp, 24);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(0, std::memcmp(b.Data + 3 * i, a.Pal[i], 3));

    MakeCoords(a, 7, 6);
    ImgResample(a, b, 7, 6);
    EXPECT_EQ(0, std::memcmp(a.Data, b.Data, 7 * 6 * 3));
}

TEST_F(ResizeTest, ResampleRowDoublingPasses)
{
    // Upward pass: 0, 0, avg(0,1), 1, ...; downward pass doubles that again.
    MakeCoords(a, 2, 100);
    auto row = [](int y) { return y == 0 ? 0 : y == 1 ? 200 : (y * 53) % 256; };
    for (int y = 0; y < 100; ++y) a.Data[y * 6 + 1] = a.Data[y * 6 + 4] = uint8_t(row(y));
    ImgResample(a, b, 2, 400);
    auto g = [&](int y) { return int(Px(b, 1, y)[1]); };
    EXPECT_EQ(g(0), 0);
    EXPECT_EQ(g(1), 0);
    EXPECT_EQ(g(2), 0);
    EXPECT_EQ(g(3), 50);  // avg(row 0, avg(row 0, row 1))
    EXPECT_EQ(g(4), 100);
    EXPECT_EQ(g(399), row(99));
    EXPECT_EQ(g(398), row(99));
    EXPECT_EQ(g(397), ((row(98) + row(99)) / 2 + row(99)) / 2);
}

TEST_F(ResizeTest, ResampleWidthEnlargement)
{
    ImgAlloc(a, 1, 1, 24);
    a.Data[0] = 10, a.Data[1] = 20, a.Data[2] = 30;
    ImgResample(a, b, 4, 1);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(std::vector<uint8_t>(Px(b, x, 0), Px(b, x, 0) + 3), (std::vector<uint8_t>{10, 20, 30}));

    // 3 -> 5: no doubling; stretch with r = 60 000 gives P0, avg, P1, avg, P2.
    ImgFree(a);
    ImgAlloc(a, 3, 1, 24);
    const uint8_t px[9] = {0, 0, 0, 100, 101, 102, 201, 200, 255};
    std::memcpy(a.Data, px, 9);
    ImgResample(a, b, 5, 1);
    const uint8_t want[15] = {0, 0, 0, 50, 50, 51, 100, 101, 102, 150, 150, 178, 201, 200, 255};
    EXPECT_EQ(0, std::memcmp(b.Data, want, 15));

    // 2 -> 6: one doubling (P0, avg, P1, P1), then a stretch from 4 to 6.
    ImgFree(a);
    ImgAlloc(a, 2, 1, 24);
    a.Data[0] = 0, a.Data[3] = 200;
    ImgResample(a, b, 6, 1);
    const int wantB[6] = {0, 50, 100, 150, 200, 200};
    for (int x = 0; x < 6; ++x) EXPECT_EQ(Px(b, x, 0)[0], wantB[x]) << x;
}

TEST_F(ResizeTest, ResampleBoxAveraging)
{
    // 1000 -> 333: groups of 3 or 4 pixels, averaged per component with truncation.
    ImgAlloc(a, 1000, 1, 24);
    for (int x = 0; x < 1000; ++x) a.Data[3 * x] = uint8_t(x * 37), a.Data[3 * x + 1] = uint8_t(x), a.Data[3 * x + 2] = 9;
    ImgResample(a, b, 333, 1);
    int start = 0;
    for (int k = 0; k < 333; ++k) {
        // Group k ends where the next one starts; recover its bounds from the known group sizes.
        int best = -1;
        for (int n = 3; n <= 4 && best < 0; ++n) {
            if (start + n > 1000) break;
            int s0 = 0, s1 = 0;
            for (int i = start; i < start + n; ++i) s0 += uint8_t(i * 37), s1 += uint8_t(i);
            if (Px(b, k, 0)[0] == s0 / n && Px(b, k, 0)[1] == s1 / n) best = n;
        }
        ASSERT_GT(best, 0) << "output " << k << " is not the average of 3 or 4 pixels from " << start;
        EXPECT_EQ(Px(b, k, 0)[2], 9);
        start += best;
    }
    EXPECT_EQ(start, 1000);
}

TEST(ResampleLineTest, GroupAveragesMatchAPlainSumForEveryGroupWidth)
{
    // Group widths from 1 to beyond 512 pixels, each channel its own pattern, groups ending
    // both well inside the row and at its last byte.
    for (int sw : {7, 50, 333, 1001, 4000, 3000}) {
        std::vector<uint8_t> row(size_t(sw) * 3);
        uint32_t seed = 12345u + uint32_t(sw);
        for (uint8_t& v : row) v = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
        for (int dw : {1, 2, 5, 9, 17, 64, 250, 320}) {
            if (dw >= sw) continue;
            const int64_t rx = int64_t(sw) * IMG_RATIO_UNIT / dw;
            std::vector<int32_t> starts(static_cast<size_t>(dw));
            ImgReduceStarts(starts.data(), dw, rx, sw);
            std::vector<uint8_t> out(size_t(dw) * 3), line(size_t(sw) * 3);
            ImgResampleLine(row.data(), out.data(), starts.data(), line.data(), sw, dw, rx);
            for (int k = 0; k < dw; ++k) {
                const int a = starts[size_t(k)], b = k + 1 < dw ? std::max(starts[size_t(k) + 1], a + 1) : sw;
                for (int c = 0; c < 3; ++c) {
                    int sum = 0;
                    for (int i = a; i < b; ++i) sum += row[size_t(i) * 3 + size_t(c)];
                    ASSERT_EQ(out[size_t(k) * 3 + size_t(c)], sum / (b - a)) << sw << " -> " << dw << ", pixel " << k << ", channel " << c;
                }
            }
        }
    }
}

TEST_F(ResizeTest, ResampleLastGroupStaysInsideTheSource)
{
    // 400 -> 320: the start rule gives 399 and then 401; the last group is pixel 399 alone.
    ImgAlloc(a, 400, 400, 24);
    std::memset(a.Data, 0, size_t(a.Size));
    for (int y = 0; y < 400; ++y) std::memset(a.Data + (size_t(y) * 400 + 399) * 3, 240, 3);
    std::memset(a.Data + size_t(399) * 400 * 3, 240, 400 * 3);  // last row bright as well
    ImgResample(a, b, 320, 320);
    EXPECT_EQ(Px(b, 319, 0)[0], 240);
    EXPECT_EQ(Px(b, 318, 0)[0], 0);
    EXPECT_EQ(Px(b, 100, 319)[0], 240);  // last row group is row 399 alone
    EXPECT_EQ(Px(b, 100, 318)[0], 0);
}

TEST_F(ResizeTest, ResampleWideGroupsAndTallImages)
{
    // 600 rows to 1 and 600 columns to 2: groups far above 255 must not overflow.
    ImgAlloc(a, 600, 600, 24);
    std::memset(a.Data, 255, size_t(a.Size));
    ImgResample(a, b, 2, 1);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(b.Data[i], 255);
    for (int y = 0; y < 600; y += 2) std::memset(a.Data + size_t(y) * 1800, 0, 1800);
    ImgResample(a, b, 1, 1);
    EXPECT_EQ(b.Data[0], 127);

    // 40 000 rows: reduce and enlarge.
    ImgFree(a);
    ImgAlloc(a, 1, 40000, 24);
    for (int y = 0; y < 40000; ++y) a.Data[3 * y] = uint8_t(y < 20000 ? 10 : 250), a.Data[3 * y + 1] = uint8_t(y);
    ImgResample(a, b, 1, 2);
    EXPECT_EQ(b.Data[0], 10);
    EXPECT_EQ(b.Data[3], 250);
    ImgResample(a, b, 1, 80000);
    EXPECT_EQ(Px(b, 0, 79999)[1], uint8_t(39999));
    EXPECT_EQ(Px(b, 0, 39998)[0], 10);
    EXPECT_EQ(Px(b, 0, 40001)[0], 250);
}

// Row enlargement written into separate blocks: the doubling passes (first upward, alternating)
// and the final stretch, each reading the previous pass's rows in its own direction.
std::vector<int> EnlargeRef(std::vector<int> cur, int dh)
{
    auto pass = [](const std::vector<int>& rows, long long c, bool up, size_t limit) {
        std::vector<int> rd(rows);
        if (up) std::reverse(rd.begin(), rd.end());
        const int n = int(rd.size());
        auto at = [&](int j) { return rd[size_t(std::min(j, n - 1))]; };
        std::vector<int> out;
        long long pos = 0, acc = 0;
        for (int j = 0; out.size() < limit; ++j) {
            out.push_back(at(j));
            if (out.size() >= limit) break;
            pos += 100000;
            acc += c;
            if (c == 0 || acc < pos) {
                out.push_back((at(j) + at(j + 1)) / 2);
                acc += c;
            }
        }
        if (up) std::reverse(out.begin(), out.end());
        return out;
    };
    int ky = dh / int(cur.size());
    bool up = true;
    while (ky > 1) {
        cur = pass(cur, 0, up, 2 * cur.size());
        ky /= 2;
        up = !up;
    }
    const long long c = (long long)cur.size() * 100000 / dh;
    if (c < 100000) cur = pass(cur, c, up, size_t(dh));
    return cur;
}

TEST_F(ResizeTest, ResampleRowEnlargementInPlaceMatchesSeparateBlocks)
{
    // Truncated ratios can ask for more rows than fit; the in-place passes must then not smear
    // rows they have not read yet (329 -> 330, 464 -> 465 and 475 -> 476 do this).
    std::vector<std::pair<int, int>> sizes = {{329, 330}, {464, 465}, {475, 476}, {1000, 1001}, {100, 399}, {7, 61}};
    for (int sh = 1; sh <= 24; ++sh)
        for (int dh = sh; dh <= 9 * sh; ++dh) sizes.push_back({sh, dh});
    for (auto [sh, dh] : sizes) {
        ImgFree(a);
        ImgAlloc(a, 1, sh, 24);
        std::vector<int> rows(static_cast<size_t>(sh));
        for (int y = 0; y < sh; ++y) {
            rows[size_t(y)] = (y * 97 + 13) % 251;
            a.Data[3 * y] = uint8_t(rows[size_t(y)]);
        }
        ImgResample(a, b, 1, dh);
        const std::vector<int> want = EnlargeRef(rows, dh);
        ASSERT_EQ(want.size(), size_t(dh));
        for (int y = 0; y < dh; ++y) ASSERT_EQ(Px(b, 0, y)[0], want[size_t(y)]) << sh << " -> " << dh << " row " << y;
    }
}

static long StatusKb(const char* key)
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
    return -1;
}

TEST(ResampleMemoryTest, PhotoToLogoPeaksBelowTwiceTheSource)
{
    // Measured in a child so that earlier tests do not set the peak.
    int fd[2];
    ASSERT_EQ(pipe(fd), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        Image src, dst;
        ImgAlloc(src, 4000, 3000, 24);
        for (int i = 0; i < src.Size; ++i) src.Data[i] = uint8_t(i * 7 + (i >> 12));
        const long base = StatusKb("VmRSS:");
        ImgResample(src, dst, 320, 400);
        const long peak = StatusKb("VmHWM:");
        long out[2] = {base, peak};
        (void)!write(fd[1], out, sizeof out);
        _exit(0);
    }
    close(fd[1]);
    long got[2] = {0, 0};
    ASSERT_EQ(read(fd[0], got, sizeof got), ssize_t(sizeof got));
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    const long sourceKb = 4000L * 3000 * 3 / 1024;
    ASSERT_GT(got[0], sourceKb / 2) << "source not resident?";
    // Peak (process baseline plus source plus work) stays below the baseline plus twice the source.
    EXPECT_LT(got[1] - (got[0] - sourceKb), 2 * sourceKb) << "peak " << got[1] << " kB, resident before " << got[0];
}

}  // namespace
