// What flushing to disk costs the commands that write the owned files: `set` (three logo files,
// restore.bat checked) and `change` (the automatic change), each with every flush of the safe
// write path on and off, in the same run. Off stands for the write path before the flushes (the
// same temporary file and rename, never waiting for the disk). The flushes should cost little on
// these few files: the ratios say how much.
#include "BenchDrive.h"
#include "BenchRatio.h"

#include "base/SafeFile.h"
#include "core/ImageStore.h"
#include "core/LogoBuilder.h"
#include "core/LogoCommands.h"
#include "core/Settings.h"
#include "image/ImgBasic.h"

#include <array>
#include <optional>
#include <filesystem>
#include <string>

namespace {

std::filesystem::path g_root;

void MakeStore()
{
    // Under the working folder, not /tmp: a tmpfs would make every flush free.
    g_root = MakeBenchDrive(std::filesystem::current_path(), "kvs-bench-durable");
    for (int n = 0; n < 4; ++n) {
        Image img;
        ImgAlloc(img, LOGO_WIDTH, LOGO_HEIGHT, 8);
        for (int i = 0; i < img.Size; ++i) img.Data[i] = uint8_t(1 + (i * (n + 3) ^ (i >> 9)) % 235);
        for (int c = 0; c < 256; ++c) img.Pal[c][0] = img.Pal[c][1] = img.Pal[c][2] = uint8_t(c);
        SaveStoredImage(GetStorageDir() + "Bench--Image" + std::to_string(n) + ".png", img);
        ImgFree(img);
    }
    StoreLoad();
    LogoPickMethod = 0;
}

void BM_Set(benchmark::State& state)
{
    SafeSetSync(state.range(0) != 0);
    const std::array<std::optional<std::string>, 3> messages = {"Good morning", "", "Good night"};
    int k = 0;
    for (auto _ : state) LogoSet("Bench--Image" + std::to_string(k++ % 4) + ".png", POS_ALL, messages);
    SafeSetSync(true);
}
BENCHMARK(BM_Set)->ArgName("sync")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_Change(benchmark::State& state)
{
    SafeSetSync(state.range(0) != 0);
    for (auto _ : state) LogoChange();
    SafeSetSync(true);
}
BENCHMARK(BM_Change)->ArgName("sync")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    MakeStore();
    int rc = RunWithRatios(argc, argv, [](const RatioReporter& r) {
        r.PrintRatio("set with flushes / without", "BM_Set/sync:1", "BM_Set/sync:0", 0);
        r.PrintRatio("change with flushes / without", "BM_Change/sync:1", "BM_Change/sync:0", 0);
    });
    StoreFree();
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
    return rc;
}
