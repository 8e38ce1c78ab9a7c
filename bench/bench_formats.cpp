// BMP, TGA and PCX reading and writing of a 4000 x 3000 true-colour picture, each timed
// against reading or writing the same file's bytes as one plain file in the same run.
// The counter "vs_plain" is format time / plain time; for reading, "vs_plain_fresh" compares
// with a plain read into a newly allocated block, as a reader must allocate its image.
#include "BenchRatio.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FFDispatch.h"
#include "image/ImgBasic.h"

namespace {

constexpr int kW = 4000, kH = 3000;

struct BenchState {
    std::filesystem::path dir;
    Image img;
    BenchState()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kvs-bench-XXXXXX").string();
        dir = mkdtemp(tmpl.data());
        // A photograph-like picture: smooth gradients with a little noise, so the run-length
        // writers meet both runs and literals.
        ImgAlloc(img, kW, kH, 24);
        uint32_t seed = 12345;
        for (int y = 0; y < kH; ++y) {
            uint8_t* row = img.Data + static_cast<size_t>(y) * kW * 3;
            for (int x = 0; x < kW; ++x) {
                seed = seed * 1664525u + 1013904223u;
                int noise = ((seed >> 24) & 3) == 0 ? static_cast<int>((seed >> 16) & 7) : 0;
                row[x * 3] = static_cast<uint8_t>((x / 16 + noise) & 0xFF);
                row[x * 3 + 1] = static_cast<uint8_t>((y / 12) & 0xFF);
                row[x * 3 + 2] = static_cast<uint8_t>(((x + y) / 28) & 0xFF);
            }
        }
    }
    ~BenchState()
    {
        ImgFree(img);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
};

BenchState& St()
{
    static BenchState s;
    return s;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

void PlainWrite(const std::string& name, const uint8_t* data, int64_t size)
{
    FDelete(name);
    int h = 0;
    FOpen(h, name, FM_CREATE);
    FWrite(h, data, size);
    FClose(h);
}

void PlainRead(const std::string& name, uint8_t* data, int64_t size)
{
    int h = 0;
    FOpen(h, name, FM_READ);
    FRead(h, data, size);
    FClose(h);
}

void Write(benchmark::State& state, int format, const char* ext)
{
    BenchState& s = St();
    std::string name = s.Path(std::string("w.") + ext), plain = s.Path("plain.bin");
    ImgSave(name, s.img, format);
    int64_t size = static_cast<int64_t>(std::filesystem::file_size(name));
    uint8_t* bytes = nullptr;
    MemAllocT(&bytes, size);
    PlainRead(name, bytes, size);
    double fmt = 0, base = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        ImgSave(name, s.img, format);
        auto t1 = std::chrono::steady_clock::now();
        PlainWrite(plain, bytes, size);
        auto t2 = std::chrono::steady_clock::now();
        fmt += Seconds(t0, t1);
        base += Seconds(t1, t2);
        state.SetIterationTime(Seconds(t0, t1));
    }
    MemFreeT(&bytes);
    state.counters["vs_plain"] = fmt / base;
    state.counters["file_MB"] = static_cast<double>(size) / 1e6;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kW * kH * 3);
}

void Read(benchmark::State& state, int format, const char* ext)
{
    BenchState& s = St();
    std::string name = s.Path(std::string("r.") + ext);
    ImgSave(name, s.img, format);
    int64_t size = static_cast<int64_t>(std::filesystem::file_size(name));
    uint8_t* bytes = nullptr;
    MemAllocT(&bytes, size);
    double fmt = 0, base = 0, fresh = 0;
    for (auto _ : state) {
        Image img;
        auto t0 = std::chrono::steady_clock::now();
        ImgLoad(name, img, format);
        auto t1 = std::chrono::steady_clock::now();
        PlainRead(name, bytes, size);
        auto t2 = std::chrono::steady_clock::now();
        uint8_t* block = nullptr;
        MemAllocT(&block, size);
        PlainRead(name, block, size);
        MemFreeT(&block);
        auto t3 = std::chrono::steady_clock::now();
        fmt += Seconds(t0, t1);
        base += Seconds(t1, t2);
        fresh += Seconds(t2, t3);
        state.SetIterationTime(Seconds(t0, t1));
        ImgFree(img);
    }
    MemFreeT(&bytes);
    state.counters["vs_plain"] = fmt / base;
    state.counters["vs_plain_fresh"] = fmt / fresh;
    state.counters["file_MB"] = static_cast<double>(size) / 1e6;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kW * kH * 3);
}

} // namespace

BENCHMARK_CAPTURE(Write, BMP, FMT_BMP, "bmp")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, BMP, FMT_BMP, "bmp")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Write, TGA, FMT_TGA, "tga")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, TGA, FMT_TGA, "tga")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Write, PCX, FMT_PCX, "pcx")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, PCX, FMT_PCX, "pcx")->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return RunWithRatios(argc, argv, [](const RatioReporter& r) {
        for (const char* f : {"BMP", "TGA", "PCX"}) {
            const std::string w = std::string("Write/") + f, rd = std::string("Read/") + f;
            if (r.Counter(w, "vs_plain") > 0) std::printf("%s write / plain write = %.2f\n", f, r.Counter(w, "vs_plain"));
            if (r.Counter(rd, "vs_plain") > 0)
                std::printf("%s read / plain read = %.2f, / plain read into a new block = %.2f\n", f,
                            r.Counter(rd, "vs_plain"), r.Counter(rd, "vs_plain_fresh"));
        }
    });
}
