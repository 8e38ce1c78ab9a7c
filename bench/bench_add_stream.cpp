// Whole `kvs add` processes against `djpeg -outfile /dev/null` of the same JPEG (and against
// `dwebp -ppm -o /dev/null` of the same WebP), run one after the other in every iteration: wall and
// CPU time ratios and the peak memory (maximum resident set, as /usr/bin/time -v reports it) of
// each process. kvs is the one built next to this program.
#include <benchmark/benchmark.h>

#include <jpeglib.h>
#include <webp/encode.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "BenchRatio.h"

namespace fs = std::filesystem;

namespace {

struct Picture {
    const char* Label;
    int W, H;
    bool Timed;  // ratio target 1.2; the others are about memory or the fixed cost of one add
    int Iterations;
};
const Picture kPictures[] = {
    {"12 MP (4000 x 3000)", 4000, 3000, true, 10},
    {"48 MP (8000 x 6000)", 8000, 6000, true, 4},
    {"192 MP (16000 x 12000)", 16000, 12000, false, 1},
    {"panorama (20000 x 2000)", 20000, 2000, false, 1},
    {"small (640 x 480)", 640, 480, false, 20},
};
constexpr int kPictureCount = static_cast<int>(std::size(kPictures));
const char* const kModes[] = {"border", "crop", "stretch"};
constexpr double kPeakLimitMiB = 64;

fs::path Dir_()
{
    static fs::path dir = [] {
        std::string tmpl = (fs::temp_directory_path() / "kvs-bench-stream-XXXXXX").string();
        return fs::path(mkdtemp(tmpl.data()));
    }();
    return dir;
}

// A photograph-like JPEG (gradients, a disc, noise), written row by row so any size fits.
std::string Jpeg_(int index)
{
    const Picture& p = kPictures[index];
    const std::string path = (Dir_() / ("photo" + std::to_string(index) + ".jpg")).string();
    if (fs::exists(path)) return path;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = static_cast<JDIMENSION>(p.W);
    c.image_height = static_cast<JDIMENSION>(p.H);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(p.W) * 3);
    uint32_t seed = 777;
    const int cx = p.W * 2 / 3, cy = p.H * 2 / 5, r = std::min(p.W, p.H) / 4;
    for (int y = 0; y < p.H; ++y) {
        for (int x = 0; x < p.W; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>((seed >> 24) & 15);
            const bool disc = int64_t(x - cx) * (x - cx) + int64_t(y - cy) * (y - cy) < int64_t(r) * r;
            row[x * 3] = static_cast<uint8_t>(((x + y) / 28) & 0xFF);
            row[x * 3 + 1] = static_cast<uint8_t>(disc ? 200 : (y * 255 / p.H + noise) & 0xFF);
            row[x * 3 + 2] = static_cast<uint8_t>(disc ? 40 + noise : (x * 255 / p.W + noise) & 0xFF);
        }
        JSAMPROW rp = row.data();
        jpeg_write_scanlines(&c, &rp, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
    return path;
}

// The same photograph as a lossy WebP, encoded in this process (the fastest method: it is the
// decoding that is measured).
std::string Webp_(int index)
{
    const Picture& p = kPictures[index];
    const std::string path = (Dir_() / ("photo" + std::to_string(index) + ".webp")).string();
    if (fs::exists(path)) return path;
    std::vector<uint8_t> px(static_cast<size_t>(p.W) * p.H * 3);
    uint32_t seed = 777;
    for (int y = 0; y < p.H; ++y)
        for (int x = 0; x < p.W; ++x) {
            seed = seed * 1664525u + 1013904223u;
            uint8_t* d = &px[(static_cast<size_t>(y) * p.W + x) * 3];
            d[0] = static_cast<uint8_t>(((x + y) / 28) & 0xFF);
            d[1] = static_cast<uint8_t>((y * 255 / p.H + ((seed >> 24) & 15)) & 0xFF);
            d[2] = static_cast<uint8_t>((x * 255 / p.W) & 0xFF);
        }
    WebPConfig config;
    WebPPicture pic;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&pic)) std::abort();
    config.quality = 80;
    config.method = 0;
    pic.width = p.W;
    pic.height = p.H;
    WebPMemoryWriter out;
    WebPMemoryWriterInit(&out);
    pic.writer = WebPMemoryWrite;
    pic.custom_ptr = &out;
    if (!WebPPictureImportBGR(&pic, px.data(), p.W * 3) || !WebPEncode(&config, &pic)) std::abort();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(out.mem, 1, out.size, f) != out.size) std::abort();
    std::fclose(f);
    WebPPictureFree(&pic);
    WebPMemoryWriterClear(&out);
    return path;
}

struct Run {
    double Wall = 0, Cpu = 0, PeakMiB = 0;
    bool Ok = false;
};

// Runs the program to its end with output discarded; its own figures, not this process's.
Run Spawn_(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    Run r;
    if (pid < 0 || wait4(pid, &status, 0, &ru) != pid) return r;
    r.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.Cpu = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.PeakMiB = ru.ru_maxrss / 1024.0;
    r.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

std::string Kvs_() { return (fs::read_symlink("/proc/self/exe").parent_path() / "kvs").string(); }

// kvs add of file against the reference decoder's command, whose figures go under refKey.
void AddVsReference_(benchmark::State& state, const std::string& file, const char* mode,
                     const std::vector<std::string>& reference, const std::string& refKey)
{
    const std::string drive = (Dir_() / "drive").string();
    fs::create_directories(Dir_() / "drive" / "WINDOWS");
    fs::create_directories(Dir_() / "program");
    setenv("KVS_PROGRAM_DIR", (Dir_() / "program").c_str(), 1);
    Run kvs, ref;
    for (auto _ : state) {
        const Run d = Spawn_(reference);
        const Run k = Spawn_({Kvs_(), "--yes", "--drive", drive, "add", "--mode", mode, "--clash", "overwrite", file});
        if (!d.Ok || !k.Ok) {
            state.SkipWithError(!d.Ok ? (reference[0] + " failed (is it installed?)").c_str() : "kvs add failed");
            break;
        }
        state.SetIterationTime(k.Wall);
        kvs.Wall += k.Wall, kvs.Cpu += k.Cpu, kvs.PeakMiB = std::max(kvs.PeakMiB, k.PeakMiB);
        ref.Wall += d.Wall, ref.Cpu += d.Cpu, ref.PeakMiB = std::max(ref.PeakMiB, d.PeakMiB);
    }
    if (ref.Wall <= 0 || ref.Cpu <= 0) return;
    state.counters["wall_ratio"] = kvs.Wall / ref.Wall;
    state.counters["cpu_ratio"] = kvs.Cpu / ref.Cpu;
    state.counters["peak_MiB"] = kvs.PeakMiB;
    state.counters[refKey + "_peak_MiB"] = ref.PeakMiB;
}

void BM_AddVsDjpeg(benchmark::State& state)
{
    const int picture = static_cast<int>(state.range(0)), mode = static_cast<int>(state.range(1));
    const std::string jpeg = Jpeg_(picture);
    AddVsReference_(state, jpeg, kModes[mode], {"djpeg", "-outfile", "/dev/null", jpeg}, "djpeg");
}

// The WebP pictures: 12 and 48 megapixels, border mode.
const int kWebpPictures[] = {0, 1};

void BM_AddWebpVsDwebp(benchmark::State& state)
{
    const std::string webp = Webp_(static_cast<int>(state.range(0)));
    AddVsReference_(state, webp, "border", {"dwebp", "-quiet", webp, "-ppm", "-o", "/dev/null"}, "dwebp");
}

void Register_()
{
    for (int p : kWebpPictures)
        benchmark::RegisterBenchmark("BM_AddWebpVsDwebp", BM_AddWebpVsDwebp)
            ->Args({p})
            ->Iterations(kPictures[p].Iterations / 2)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    for (int p = 0; p < kPictureCount; ++p)
        for (int m = 0; m < 3; ++m)
            benchmark::RegisterBenchmark("BM_AddVsDjpeg", BM_AddVsDjpeg)
                ->Args({p, m})
                ->Iterations(kPictures[p].Iterations)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
}

void Report_(const RatioReporter& r)
{
    std::printf("\nkvs add of a lossy WebP against dwebp of the same file, whole processes, same run:\n");
    for (int p : kWebpPictures) {
        const std::string name = "BM_AddWebpVsDwebp/" + std::to_string(p) + "/";
        const double wall = r.Counter(name, "wall_ratio"), peak = r.Counter(name, "peak_MiB");
        if (wall <= 0) continue;
        std::printf("%-24s border   %.2f wall, %.2f CPU; peak %.1f MiB (dwebp %.1f, limit %.0f): %s\n",
                    kPictures[p].Label, wall, r.Counter(name, "cpu_ratio"), peak, r.Counter(name, "dwebp_peak_MiB"),
                    kPeakLimitMiB, peak <= kPeakLimitMiB ? "met" : "NOT met");
    }
    std::printf("\nkvs add against djpeg of the same JPEG, whole processes, same run:\n");
    for (int p = 0; p < kPictureCount; ++p)
        for (int m = 0; m < 3; ++m) {
            const std::string name = "BM_AddVsDjpeg/" + std::to_string(p) + "/" + std::to_string(m) + "/";
            const double wall = r.Counter(name, "wall_ratio"), cpu = r.Counter(name, "cpu_ratio");
            const double peak = r.Counter(name, "peak_MiB");
            if (wall <= 0) continue;
            const bool peakOk = peak <= kPeakLimitMiB;
            std::printf("%-24s %-8s %.2f wall, %.2f CPU", kPictures[p].Label, kModes[m], wall, cpu);
            if (kPictures[p].Timed)
                std::printf(" (target <= 1.20): %s", wall <= 1.2 ? "met" : cpu <= 1.2 ? "met in CPU time" : "NOT met");
            std::printf("; peak %.1f MiB (djpeg %.1f, limit %.0f): %s\n", peak, r.Counter(name, "djpeg_peak_MiB"),
                        kPeakLimitMiB, peakOk ? "met" : "NOT met");
        }
}

}  // namespace

int main(int argc, char** argv)
{
    Register_();
    const int rc = RunWithRatios(argc, argv, Report_);
    std::error_code ec;
    fs::remove_all(Dir_(), ec);
    return rc;
}
