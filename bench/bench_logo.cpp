// The automatic change on a store of 20 images (pick, load, message, band, backup check, write
// three logo files) against loading the three picked PNG files alone, in the same run. The work
// beyond the loading should cost less than the loading: target ChangeLogos <= 2x the loads.
#include "BenchDrive.h"
#include "BenchRatio.h"

#include "core/ImageStore.h"
#include "core/LogoBuilder.h"
#include "core/Settings.h"
#include "core/Shuffle.h"
#include "image/ImgBasic.h"

#include <cmath>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <string>

namespace {

std::filesystem::path g_root;

void MakeStore()
{
    g_root = MakeBenchDrive(std::filesystem::temp_directory_path(), "kvs-bench-logo");
    for (int n = 0; n < 20; ++n) {
        Image img;
        ImgAlloc(img, LOGO_WIDTH, LOGO_HEIGHT, 8);
        for (int i = 1; i <= 235; ++i) {
            img.Pal[i][0] = uint8_t(i * 7 + n), img.Pal[i][1] = uint8_t(i * 3), img.Pal[i][2] = uint8_t(255 - i);
        }
        for (int y = 0; y < LOGO_HEIGHT; ++y)
            for (int x = 0; x < LOGO_WIDTH; ++x)
                img.Data[y * LOGO_WIDTH + x] =
                    uint8_t(1 + int(117 + 60 * std::sin(x / (9.0 + n)) + 50 * std::cos(y / 13.0) + (x * y + n) % 7) % 235);
        SaveStoredImage(GetStorageDir() + "Bench--Image" + std::to_string(n) + ".png", img);
        ImgFree(img);
    }
    for (int p : {POS_STARTUP, POS_WAIT, POS_TURNOFF}) SetMessageText(p, "Good morning\r\nHave a nice day");
    StoreLoad();
    LogoPickMethod = 0;
    MsgPickMethod = 0;
}

void BM_ChangeLogos(benchmark::State& state)
{
    for (auto _ : state) ChangeLogos(LogoPickMethod);
}
BENCHMARK(BM_ChangeLogos)->Unit(benchmark::kMillisecond);

void BM_LoadThreePng(benchmark::State& state)
{
    int k = 0;
    for (auto _ : state) {
        for (int i = 0; i < 3; ++i) {
            Image img;
            LoadStoredImage(GetStorageDir() + EntryName(*ImageListGet(Images, (k + i * 7) % 20)), img);
            benchmark::DoNotOptimize(img.Data);
            ImgFree(img);
        }
        k = (k + 1) % 20;
    }
}
BENCHMARK(BM_LoadThreePng)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    MakeStore();
    int rc = RunWithRatios(argc, argv, [](const RatioReporter& r) {
        r.PrintRatio("ChangeLogos / loading the three PNG files", "BM_ChangeLogos", "BM_LoadThreePng", 2.0);
    });
    StoreFree();
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
    return rc;
}
