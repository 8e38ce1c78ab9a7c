// The logo reduction (count, PalReduce(235), ordered remap) of a 320 x 400 photograph-like
// image, against a plain copy of a 4000 x 3000 x 3 buffer measured in the same run.
// Target: the reduction within 2x the copy.
#include "BenchRatio.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/ImgBasic.h"
#include "image/PalOpt.h"

namespace {

constexpr size_t COPY_BYTES = 4000u * 3000u * 3u;

// Smooth overlapping colour fields with a little grain, like a scaled-down photograph.
void MakePhoto(Image& img)
{
    ImgAlloc(img, 320, 400, 24);
    uint32_t seed = 12345;
    for (int y = 0; y < 400; y++) {
        for (int x = 0; x < 320; x++) {
            const double u = x / 320.0, v = y / 400.0;
            double r = 120 + 90 * std::sin(3.1 * u + 1.3 * v) + 30 * std::cos(9.0 * u * v);
            double g = 110 + 80 * std::sin(2.3 * v - 1.7 * u + 0.5) + 25 * std::sin(7.0 * u);
            double b = 100 + 95 * std::cos(1.9 * u + 2.9 * v) + 20 * std::sin(11.0 * v);
            if ((x - 200) * (x - 200) + (y - 150) * (y - 150) < 60 * 60) { r = 0.6 * r + 90; g *= 0.5; b *= 0.4; }
            seed = seed * 1664525u + 1013904223u;
            const int noise = int((seed >> 24) % 17) - 8;
            uint8_t* p = img.Data + (y * 320 + x) * 3;
            p[0] = uint8_t(std::clamp(int(b) + noise, 0, 255));
            p[1] = uint8_t(std::clamp(int(g) + noise, 0, 255));
            p[2] = uint8_t(std::clamp(int(r) + noise, 0, 255));
        }
    }
}

void BM_Copy36MB(benchmark::State& state)
{
    std::vector<uint8_t> from(COPY_BYTES, 1), to(COPY_BYTES, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), COPY_BYTES);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(COPY_BYTES));
}
BENCHMARK(BM_Copy36MB)->Unit(benchmark::kMillisecond)->MinTime(0.5);

void BM_LogoReduction(benchmark::State& state)
{
    Image photo, out;
    MakePhoto(photo);
    for (auto _ : state) {
        PalInit();
        PalCountColors(photo);
        PalReduce(235);
        PalRemap(photo, out, PAL_REMAP_ORDERED);
        benchmark::DoNotOptimize(out.Data);
    }
    PalDone();
    ImgFree(out);
    ImgFree(photo);
}
BENCHMARK(BM_LogoReduction)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// The parts, to see where the time goes.
void BM_PartCountReduce(benchmark::State& state)
{
    Image photo;
    MakePhoto(photo);
    for (auto _ : state) {
        PalInit();
        PalCountColors(photo);
        PalReduce(235);
    }
    PalDone();
    ImgFree(photo);
}
BENCHMARK(BM_PartCountReduce)->Unit(benchmark::kMillisecond);

void BM_PartRemap(benchmark::State& state)
{
    Image photo, out;
    MakePhoto(photo);
    const int mode = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        PalInit();
        PalCountColors(photo);
        PalReduce(235);
        state.ResumeTiming();
        PalRemap(photo, out, mode);
    }
    PalDone();
    ImgFree(out);
    ImgFree(photo);
}
BENCHMARK(BM_PartRemap)->Arg(PAL_REMAP_NONE)->Arg(PAL_REMAP_ORDERED)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return RunWithRatios(argc, argv, [](const RatioReporter& r) {
        r.PrintRatio("logo reduction / 36 MB copy", "BM_LogoReduction", "BM_Copy36MB", 2.0);
    });
}
