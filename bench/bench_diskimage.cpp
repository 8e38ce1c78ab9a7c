// "kvs list" and "kvs change" on a disk image holding 200 stored images (staged through mtools,
// changes written back) against the same commands on a folder drive with the same files, both
// measured in this run as whole kvs processes. Staging runs eight mtools programs; copying the
// stored images out costs most, and far less when $XDG_RUNTIME_DIR (or $TMPDIR) is in memory.
#include "BenchRatio.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path g_root, g_image, g_folder;
std::string g_kvs;

std::string Q_(const std::string& s)
{
    return "'" + s + "'";
}

bool Sh_(const std::string& cmd)
{
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
}

// An MBR disk image and a folder drive, both holding the same 200 stored images.
bool MakeDrives()
{
    g_root = fs::temp_directory_path() / ("kvs-bench-disk-" + std::to_string(::getpid()));
    const fs::path source = fs::path(__FILE__).parent_path().parent_path();
    g_kvs = (fs::read_symlink("/proc/self/exe").parent_path() / "kvs").string();
    g_image = g_root / "win98.img";
    g_folder = g_root / "folder";
    const fs::path store = g_root / "store";
    fs::create_directories(store);
    fs::create_directories(g_root / "prog-image");
    fs::create_directories(g_root / "prog-folder");
    int n = 0;
    for (int round = 0; n < 200; round++)
        for (const auto& e : fs::directory_iterator(source / "data" / "samples"))
            if (n < 200 && e.path().extension() == ".png")
                fs::copy_file(e.path(), store / ("Bench" + std::to_string(n++) + "--" + e.path().filename().string()));
    if (!Sh_(Q_((source / "scripts" / "make-disk-image").string()) + " " + Q_(g_image.string()) + " mbr-fat32")) return false;
    const std::string at = Q_(g_image.string() + "@@1048576");
    if (!Sh_("MTOOLS_SKIP_CHECK=1 mmd -i " + at + " '::/Program Files/KvsLogos' && MTOOLS_SKIP_CHECK=1 mcopy -i " + at +
             " " + Q_(store.string()) + "/* '::/Program Files/KvsLogos/'"))
        return false;
    fs::create_directories(g_folder);
    return Sh_("MTOOLS_SKIP_CHECK=1 mcopy -s -n -i " + at + " ::/ " + Q_(g_folder.string() + "/"));
}

void RunKvs(benchmark::State& state, const fs::path& drive, const char* program, const char* command)
{
    const std::string cmd = "env -u KVS_WINDOWS_DIR -u KVS_DRIVE KVS_PROGRAM_DIR=" + Q_((g_root / program).string()) +
                            " " + Q_(g_kvs) + " --drive " + Q_(drive.string()) + " " + command + " >/dev/null 2>&1";
    for (auto _ : state)
        if (!Sh_(cmd)) {
            state.SkipWithError(("kvs " + std::string(command) + " failed").c_str());
            break;
        }
}

void BM_FolderList(benchmark::State& s) { RunKvs(s, g_folder, "prog-folder", "list"); }
void BM_ImageList(benchmark::State& s) { RunKvs(s, g_image, "prog-image", "list"); }
void BM_FolderChange(benchmark::State& s) { RunKvs(s, g_folder, "prog-folder", "change"); }
void BM_ImageChange(benchmark::State& s) { RunKvs(s, g_image, "prog-image", "change"); }
BENCHMARK(BM_FolderList)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImageList)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FolderChange)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImageChange)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!MakeDrives()) {
        std::fprintf(stderr, "bench_diskimage: could not make the drives (mtools, dosfstools, fdisk)\n");
        fs::remove_all(g_root);
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio("list on a disk image / on a folder drive", "BM_ImageList", "BM_FolderList", 0);
    reporter.PrintRatio("change on a disk image / on a folder drive", "BM_ImageChange", "BM_FolderChange", 0);
    std::error_code ec;
    fs::remove_all(g_root, ec);
    return 0;
}
