// The drive search over a home folder of 10 000 files three levels deep (a tenth named like disk
// images, one a Windows image) against the least any search must do: listing every folder and
// stat-ing every entry of the same tree, measured in this run. The one-second limit is set far
// off here, so both do all their work.
#include "BenchRatio.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/DriveFind.h"

namespace fs = std::filesystem;

namespace {

fs::path g_home;

bool MakeHome()
{
    g_home = fs::temp_directory_path() / ("kvs-bench-drives-" + std::to_string(::getpid()));
    for (int a = 0; a < 20; a++)
        for (int b = 0; b < 10; b++) {
            const fs::path dir = g_home / ("a" + std::to_string(a)) / ("b" + std::to_string(b));
            fs::create_directories(dir);
            for (int f = 0; f < 50; f++) {
                const fs::path file = dir / ("f" + std::to_string(f) + (f % 10 ? ".txt" : ".img"));
                std::ofstream(file).put('x');
                if (f % 10 == 0) fs::resize_file(file, 70000);
            }
        }
    const fs::path source = fs::path(__FILE__).parent_path().parent_path();
    const std::string image = (g_home / "a9" / "b9" / "win98.img").string();
    const std::string cmd = "'" + (source / "scripts" / "make-disk-image").string() + "' '" + image +
                            "' fat16 && printf '\\315 ' >'" + g_home.string() + "/WIN.COM' && MTOOLS_SKIP_CHECK=1 mcopy -i '" +
                            image + "' '" + g_home.string() + "/WIN.COM' ::/WINDOWS/";
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
}

size_t Walk(const std::string& dir, int level)
{
    size_t n = 0;
    DIR* d = opendir(dir.c_str());
    if (!d) return 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string p = dir + "/" + e->d_name;
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) continue;
        n++;
        if (S_ISDIR(st.st_mode) && level < 3) n += Walk(p, level + 1);
    }
    closedir(d);
    return n;
}

void BM_ListTree(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(Walk(g_home.string(), 1));
}

void BM_DriveSearch(benchmark::State& state)
{
    DrivePlaces places;
    places.mountTable = "/proc/self/mountinfo";
    places.places = {{"home folder", g_home.string(), 3, false}};
    places.timeLimitMs = 60000;
    for (auto _ : state) {
        const DriveSearch found = DriveFindAll(places);
        if (found.timedOut || found.drives.empty()) {
            state.SkipWithError("the Windows image was not found");
            break;
        }
    }
}
BENCHMARK(BM_ListTree)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DriveSearch)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!MakeHome()) {
        std::fprintf(stderr, "bench_drivefind: could not make the home folder (mtools, dosfstools)\n");
        fs::remove_all(g_home);
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio("drive search / listing the tree", "BM_DriveSearch", "BM_ListTree", 0);
    std::printf("drive search of 10 000 files: %.1f ms (limit 1000 ms)\n", reporter.Time("BM_DriveSearch"));
    std::error_code ec;
    fs::remove_all(g_home, ec);
    return 0;
}
