// Fitting a 4000 x 3000 24-bit photograph to the logo size with ImgResample, against a plain
// copy of the same 36 MB source buffer measured in the same run. Target: within 4x the copy.
// Also reports the peak resident memory of one resample against the source's size
// (target: below twice the source).
#include "BenchRatio.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "image/ImgBasic.h"
#include "image/ImgResize.h"

namespace {

constexpr int SRC_W = 4000, SRC_H = 3000;
constexpr size_t SRC_BYTES = size_t(SRC_W) * SRC_H * 3;

// Smooth overlapping colour fields, an object and a little grain, like a camera picture.
void MakePhoto(Image& img)
{
    ImgAlloc(img, SRC_W, SRC_H, 24);
    uint32_t seed = 987654321u;
    std::vector<double> cu(SRC_W), su(SRC_W);
    for (int x = 0; x < SRC_W; x++) {
        const double u = x / double(SRC_W);
        cu[size_t(x)] = std::cos(5.0 * u);
        su[size_t(x)] = std::sin(7.0 * u);
    }
    for (int y = 0; y < SRC_H; y++) {
        const double v = y / double(SRC_H);
        const double sv = std::sin(4.3 * v), cv = std::cos(2.9 * v);
        uint8_t* p = img.Data + size_t(y) * SRC_W * 3;
        for (int x = 0; x < SRC_W; x++, p += 3) {
            double r = 120 + 70 * cu[size_t(x)] * sv + 30 * su[size_t(x)];
            double g = 110 + 60 * sv + 40 * cu[size_t(x)] * cv;
            double b = 100 + 80 * cv + 20 * su[size_t(x)] * sv;
            const int dx = x - 2600, dy = y - 1200;
            if (dx * dx + dy * dy < 700 * 700) { r = 0.6 * r + 90; g *= 0.5; b *= 0.4; }
            seed = seed * 1664525u + 1013904223u;
            const int noise = int((seed >> 24) % 13) - 6;
            p[0] = uint8_t(std::clamp(int(b) + noise, 0, 255));
            p[1] = uint8_t(std::clamp(int(g) + noise, 0, 255));
            p[2] = uint8_t(std::clamp(int(r) + noise, 0, 255));
        }
    }
}

Image& Photo()
{
    static Image photo;
    if (!photo.Data) MakePhoto(photo);
    return photo;
}

void BM_Copy36MB(benchmark::State& state)
{
    Image& photo = Photo();
    std::vector<uint8_t> to(SRC_BYTES, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), photo.Data, SRC_BYTES);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SRC_BYTES));
}
BENCHMARK(BM_Copy36MB)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// The photograph fitted to the logo size by one of the scalers.
void FitToLogo(benchmark::State& state, void (*fit)(Image&, Image&, int, int))
{
    Image& photo = Photo();
    Image out;
    for (auto _ : state) {
        fit(photo, out, 320, 400);
        benchmark::DoNotOptimize(out.Data);
    }
    ImgFree(out);
}

void BM_ResampleToLogo(benchmark::State& state) { FitToLogo(state, ImgResample); }
BENCHMARK(BM_ResampleToLogo)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// Enlargement path for reference: a 320 x 400 logo doubled twice and stretched to 1440 x 1800.
void BM_ResampleEnlarge(benchmark::State& state)
{
    Image small, out;
    ImgResample(Photo(), small, 320, 400);
    for (auto _ : state) {
        ImgResample(small, out, 1440, 1800);
        benchmark::DoNotOptimize(out.Data);
    }
    ImgFree(out);
    ImgFree(small);
}
BENCHMARK(BM_ResampleEnlarge)->Unit(benchmark::kMillisecond);

void BM_ResizeToLogo(benchmark::State& state) { FitToLogo(state, ImgResize); }
BENCHMARK(BM_ResizeToLogo)->Unit(benchmark::kMillisecond);

long StatusKb(const char* key)
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
    return -1;
}

// Peak resident memory of one resample, in a fresh child so nothing earlier sets the peak.
void ReportMemory()
{
    int fd[2];
    if (pipe(fd) != 0) return;
    const pid_t pid = fork();
    if (pid < 0) return;
    if (pid == 0) {
        Image src, dst;
        MakePhoto(src);
        const long before = StatusKb("VmRSS:");
        ImgResample(src, dst, 320, 400);
        long out[2] = {before, StatusKb("VmHWM:")};
        (void)!write(fd[1], out, sizeof out);
        _exit(0);
    }
    close(fd[1]);
    long got[2] = {0, 0};
    const bool ok = read(fd[0], got, sizeof got) == ssize_t(sizeof got);
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!ok) return;
    const long srcKb = long(SRC_BYTES / 1024);
    const long base = got[0] - srcKb;  // resident before the source existed
    const long peak = got[1] - base;   // source plus everything the resample added
    std::printf("resample peak memory = %ld kB = %.2f x source (%ld kB) (target < 2.00): %s\n", peak,
                double(peak) / srcKb, srcKb, peak < 2 * srcKb ? "met" : "NOT met");
}

} // namespace

int main(int argc, char** argv)
{
    ReportMemory();
    const int rc = RunWithRatios(argc, argv, [](const RatioReporter& r) {
        r.PrintRatio("resample 4000x3000 -> 320x400 / 36 MB copy", "BM_ResampleToLogo",
                     "BM_Copy36MB", 4.0);
    });
    ImgFree(Photo());
    return rc;
}
