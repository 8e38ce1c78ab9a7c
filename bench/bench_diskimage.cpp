// The commands of the user story on a disk image holding 200 stored images (read in the program's
// own process, changes written back through mtools) against the same commands on a folder drive
// with the same files, both measured in this run as whole kvs processes. A stored picture is
// copied out of the image only when a command reads it, so the cost of a command on an image does
// not grow with the store; what is left is one mtools run or two for each file a command changes.
// Goal: each within 2.5 times the folder drive, list within 3 times.
#include "BenchRatio.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

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
    std::vector<fs::path> samples;
    for (const auto& e : fs::directory_iterator(source / "data" / "samples"))
        if (e.path().extension() == ".png") samples.push_back(e.path());
    std::sort(samples.begin(), samples.end());  // Bench<n> is the sample n modulo their number
    for (size_t n = 0; n < 200 && !samples.empty(); n++) {
        const fs::path& sample = samples[n % samples.size()];
        fs::copy_file(sample, store / ("Bench" + std::to_string(n) + "--" + sample.filename().string()));
    }
    if (!Sh_(Q_((source / "scripts" / "make-disk-image").string()) + " " + Q_(g_image.string()) + " mbr-fat32")) return false;
    const std::string at = Q_(g_image.string() + "@@1048576");
    if (!Sh_("MTOOLS_SKIP_CHECK=1 mmd -i " + at + " '::/Program Files/KvsLogos' && MTOOLS_SKIP_CHECK=1 mcopy -i " + at +
             " " + Q_(store.string()) + "/* '::/Program Files/KvsLogos/'"))
        return false;
    fs::create_directories(g_folder);
    return Sh_("MTOOLS_SKIP_CHECK=1 mcopy -s -n -i " + at + " ::/ " + Q_(g_folder.string() + "/"));
}

// Runs the commands (one iteration: all of them, in order) as kvs processes on a drive.
void RunKvs(benchmark::State& state, const fs::path& drive, const char* program, std::initializer_list<std::string> commands)
{
    std::vector<std::string> cmds;
    for (const std::string& c : commands)
        cmds.push_back("env -u KVS_WINDOWS_DIR -u KVS_DRIVE KVS_PROGRAM_DIR=" + Q_((g_root / program).string()) + " " + Q_(g_kvs) +
                       " --yes --drive " + Q_(drive.string()) + " " + c + " >/dev/null 2>&1");
    for (auto _ : state)
        for (const std::string& cmd : cmds)
            if (!Sh_(cmd)) {
                state.SkipWithError(("failed: " + cmd).c_str());
                return;
            }
}

std::string Sample_()
{
    return Q_((fs::path(__FILE__).parent_path().parent_path() / "data" / "samples" / "Samples--Waves.png").string());
}

// One benchmark pair per command: BM_<command>/folder and BM_<command>/image.
#define KVS_BENCH_COMMAND(name, ...)                                                                   \
    void BM_Folder##name(benchmark::State& s) { RunKvs(s, g_folder, "prog-folder", {__VA_ARGS__}); } \
    void BM_Image##name(benchmark::State& s) { RunKvs(s, g_image, "prog-image", {__VA_ARGS__}); }    \
    BENCHMARK(BM_Folder##name)->Unit(benchmark::kMillisecond)->UseRealTime();                          \
    BENCHMARK(BM_Image##name)->Unit(benchmark::kMillisecond)->UseRealTime();

KVS_BENCH_COMMAND(List, "list")
KVS_BENCH_COMMAND(Add, "add --clash overwrite --prefix New " + Sample_())
KVS_BENCH_COMMAND(Set, "set Bench6--Samples--Tiles.png --startup --wait --off")
KVS_BENCH_COMMAND(Change, "change")
KVS_BENCH_COMMAND(Positions, "positions start,off Bench10--Samples--Tiles.png")
KVS_BENCH_COMMAND(Rename, "rename Bench11--Samples--Waves.png Renamed", "rename Renamed.png Bench11--Samples--Waves")
KVS_BENCH_COMMAND(Restore, "restore")

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
    for (const char* name : {"List", "Add", "Set", "Change", "Positions", "Rename", "Restore"}) {
        const std::string label = std::string(name) + " on a disk image / on a folder drive";
        reporter.PrintRatio(label.c_str(), std::string("BM_Image") + name, std::string("BM_Folder") + name,
                            std::string(name) == "List" ? 3.0 : 2.5, false);
    }
    std::error_code ec;
    fs::remove_all(g_root, ec);
    return 0;
}
