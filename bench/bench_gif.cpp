// GIF decoding speed: our reader against giflib on the same 2000 x 2000 files, in one run.
#include "BenchRatio.h"
#include <gif_lib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/Mon.h"
#include "formats/FF_GIF.h"
#include "image/ImgBasic.h"
#include "tests/formats/GifTestWriter.h"

namespace {

constexpr int kSide = 2000;

// Writes the benchmark files once per run and removes them at exit.
struct BenchFiles {
    std::filesystem::path dir;
    std::string noise256, noise16;
    BenchFiles()
    {
        dir = std::filesystem::temp_directory_path() / ("kvs-bench-gif-" + std::to_string(std::rand()));
        std::filesystem::create_directories(dir);
        noise256 = Make("noise256.gif", 256, 8);
        noise16 = Make("noise16.gif", 16, 4);
    }
    ~BenchFiles()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string Make(const std::string& name, int colours, int codeSize)
    {
        giftest::Screen s;
        s.width = s.height = kSide;
        s.globalPal = giftest::GreyPal(colours);
        giftest::Frame f;
        f.width = f.height = kSide;
        f.pixels = giftest::Noise(size_t(kSide) * kSide, colours, 12345);
        f.lzw.minCodeSize = codeSize;
        const auto bytes = giftest::Build(s, {f});
        const std::string p = (dir / name).string();
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p;
    }
};

const BenchFiles& Files()
{
    static BenchFiles files;
    return files;
}

void Ours(benchmark::State& state, const std::string& path)
{
    Image img;
    for (auto _ : state) {
        GIFFile gf;
        GIFOpen(gf, path, -1);
        GIFLoadNext(gf, img);
        GIFClose(gf);
        benchmark::DoNotOptimize(img.Data[img.Size - 1]);
    }
    // Both decoders must agree, or the timing means nothing.
    int err = 0;
    GifFileType* g = DGifOpenFileName(path.c_str(), &err);
    if (!g || DGifSlurp(g) != GIF_OK || img.Size != kSide * kSide ||
        std::memcmp(g->SavedImages[0].RasterBits, img.Data, size_t(img.Size)) != 0)
        state.SkipWithError("our picture differs from giflib's");
    if (g) DGifCloseFile(g, &err);
    ImgFree(img);
    state.SetItemsProcessed(state.iterations() * int64_t(kSide) * kSide);
}

void Giflib(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        int err = 0;
        GifFileType* g = DGifOpenFileName(path.c_str(), &err);
        if (!g || DGifSlurp(g) != GIF_OK) {
            state.SkipWithError("giflib could not read the file");
            if (g) DGifCloseFile(g, &err);
            break;
        }
        benchmark::DoNotOptimize(g->SavedImages[0].RasterBits[size_t(kSide) * kSide - 1]);
        DGifCloseFile(g, &err);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kSide) * kSide);
}

void BM_GifNoise256_Ours(benchmark::State& s) { Ours(s, Files().noise256); }
void BM_GifNoise256_Giflib(benchmark::State& s) { Giflib(s, Files().noise256); }
void BM_GifNoise16_Ours(benchmark::State& s) { Ours(s, Files().noise16); }
void BM_GifNoise16_Giflib(benchmark::State& s) { Giflib(s, Files().noise16); }

}  // namespace

BENCHMARK(BM_GifNoise256_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifNoise256_Giflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifNoise16_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifNoise16_Giflib)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return RunWithRatios(argc, argv, [](const RatioReporter& r) {
        r.PrintRatio("GIF 2000x2000, 256 colours: ours / giflib", "BM_GifNoise256_Ours", "BM_GifNoise256_Giflib", 0);
        r.PrintRatio("GIF 2000x2000, 16 colours: ours / giflib", "BM_GifNoise16_Ours", "BM_GifNoise16_Giflib", 0);
    });
}
