// Adding one 4000 x 3000 JPEG to the store (load, fit, reduce, store) timed against decoding the
// same JPEG alone with libjpeg in the same run. The counter "vs_libjpeg" is add time / decode time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <jpeglib.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/Basic.h"
#include "base/Mon.h"
#include "core/AddImages.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "formats/FFDispatch.h"
#include "image/ImgBasic.h"

namespace {

constexpr int kW = 4000, kH = 3000;

struct BenchState {
    std::filesystem::path dir;
    std::string jpeg;
    BenchState()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kvs-bench-add-XXXXXX").string();
        dir = mkdtemp(tmpl.data());
        jpeg = (dir / "photo.jpg").string();
        // A photograph-like picture: gradients, a few shapes and some noise.
        Image img;
        ImgAlloc(img, kW, kH, 24);
        uint32_t seed = 777;
        for (int y = 0; y < kH; ++y) {
            uint8_t* row = img.Data + static_cast<size_t>(y) * kW * 3;
            for (int x = 0; x < kW; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int noise = static_cast<int>((seed >> 24) & 15);
                const bool disc = (x - 2600) * (x - 2600) + (y - 1200) * (y - 1200) < 700 * 700;
                row[x * 3] = static_cast<uint8_t>(disc ? 40 + noise : (x / 16 + noise) & 0xFF);
                row[x * 3 + 1] = static_cast<uint8_t>(disc ? 200 : (y / 12 + noise) & 0xFF);
                row[x * 3 + 2] = static_cast<uint8_t>(((x + y) / 28) & 0xFF);
            }
        }
        ImgSave(jpeg, img, FMT_JPEG);
        ImgFree(img);
        SetStorageDir((dir / "store").string());
        if (!Images) Images = ImageListCreate();
    }
    ~BenchState()
    {
        ImageListFree(Images);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
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

// Plain libjpeg: the whole file decoded into one RGB block.
void DecodeWithLibjpeg(const std::string& name)
{
    FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) std::abort();
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    const size_t stride = static_cast<size_t>(cinfo.output_width) * cinfo.output_components;
    std::vector<uint8_t> pixels(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    benchmark::DoNotOptimize(pixels.data());
}

void BM_AddJpeg(benchmark::State& state)
{
    BenchState& s = St();
    ResizeMode = static_cast<int32_t>(state.range(0));
    double add = 0, decode = 0;
    for (auto _ : state) {
        OverwriteChoice = OC_OVERWRITE_ALL;
        std::string target = AddTargetPath(s.jpeg);
        ImageEntry entry;
        ImageEntryInit(entry);
        auto t0 = std::chrono::steady_clock::now();
        const bool ok = ImagesAddOne(s.jpeg, target, entry);
        auto t1 = std::chrono::steady_clock::now();
        DecodeWithLibjpeg(s.jpeg);
        auto t2 = std::chrono::steady_clock::now();
        if (!ok) {
            state.SkipWithError("adding failed");
            break;
        }
        add += Seconds(t0, t1);
        decode += Seconds(t1, t2);
        state.SetIterationTime(Seconds(t0, t1));
    }
    if (decode > 0) state.counters["vs_libjpeg"] = add / decode;
}

}  // namespace

BENCHMARK(BM_AddJpeg)->Arg(RM_BORDER)->Arg(RM_CROP)->Arg(RM_STRETCH)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
