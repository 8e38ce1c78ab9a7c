// Crash consistency: the kvs tool is killed with SIGKILL at random moments while it adds images,
// builds logos, writes galleries and saves settings. After every kill each file the program owns
// is either its old or its new complete version: headers.dat reads whole, logo files are whole
// 129 078-byte bitmaps, stored pictures and galleries read whole, the profile files keep every key.
// KVS_CRASH_KILLS sets the number of kills (default 60); KVS_CRASH_SEED repeats a run.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FFDispatch.h"
#include "image/ImgBasic.h"
#include "platform/ProfileFile.h"
#include "support/TempEnv.h"

namespace fs = std::filesystem;

namespace {

const std::string kKvs = KVS_BINARY_DIR "/kvs";

std::string ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

uint32_t Le32(const std::string& b, size_t at)
{
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

// Starts kvs with args, its output thrown away; returns the child's id.
pid_t Spawn(const std::vector<std::string>& args)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(kKvs.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(kKvs.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

int RunToEnd(const std::vector<std::string>& args)
{
    int status = 0;
    waitpid(Spawn(args), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CrashConsistency : public ::testing::Test {
protected:
    TempEnv env;
    std::string store;                                    // storage folder, trailing '/'
    std::map<std::string, std::set<std::string>> keys_;   // profile file -> "section\nkey" it must keep

    std::string Root() const { return env.root.string() + "/"; }

    std::set<std::string> KeysOf(const std::string& file, const std::vector<std::string>& sections)
    {
        ProfileDropCache();
        std::set<std::string> out;
        for (const std::string& s : sections)
            for (const std::string& k : ProfileKeys(s, file)) out.insert(s + "\n" + k);
        ProfileDropCache();
        return out;
    }

    // Every owned file is whole; returns a description of the first damage found.
    std::string Damage()
    {
        std::error_code ec;
        const std::string index = store + "headers.dat";
        if (fs::exists(index, ec)) {
            const std::string b = ReadAll(index);
            if (b.size() < 12 || Le32(b, 0) != 12 || Le32(b, 4) != 1 || b.size() != 12 + size_t(Le32(b, 8)) * 152)
                return "headers.dat is not whole (" + std::to_string(b.size()) + " bytes)";
            for (size_t at = 12; at < b.size(); at += 152)
                if (Le32(b, at) != 152) return "headers.dat record at " + std::to_string(at) + " is damaged";
        }
        for (const std::string& logo : {Root() + "drive_c/logo.sys", env.win + "logow.sys", env.win + "logos.sys"}) {
            if (!fs::exists(logo, ec)) continue;
            const std::string b = ReadAll(logo);
            if (b.size() != 129078 || b.compare(0, 2, "BM") != 0 || Le32(b, 18) != 320 || Le32(b, 22) != 400 ||
                uint8_t(b[28]) != 8)
                return logo + " is not a whole logo bitmap (" + std::to_string(b.size()) + " bytes)";
        }
        for (const auto& e : fs::directory_iterator(store, ec)) {
            const std::string name = e.path().filename().string();
            if (name.size() < 4 || name.substr(name.size() - 4) != ".png") continue;
            Image img;
            std::string error;
            try {
                ImgLoad(e.path().string(), img, FMT_PNG);
            } catch (const EMon& x) {
                error = x.what();
            }
            MonClearError();
            ImgFree(img);
            if (!error.empty()) return "stored picture " + name + " does not load: " + error;
        }
        const std::string gal = Root() + "g.gal";
        if (fs::exists(gal, ec)) {
            const std::string b = ReadAll(gal);
            if (b.size() < 108) return "g.gal has no whole header";
            int64_t p = Le32(b, 0);
            const uint32_t count = Le32(b, 104);
            for (uint32_t i = 0; i < count && p + 148 <= int64_t(b.size()); ++i)
                p += int64_t(Le32(b, size_t(p))) + Le32(b, size_t(p) + 132);
            if (count < 2 || p != int64_t(b.size())) return "g.gal is not a whole gallery";
        }
        for (const auto& [file, must] : keys_) {
            const std::string text = ReadAll(file);
            if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) return file + " ends inside a line";
            std::vector<std::string> sections;
            for (const std::string& sk : must) sections.push_back(sk.substr(0, sk.find('\n')));
            const std::set<std::string> have = KeysOf(file, sections);
            for (const std::string& sk : must)
                if (!have.count(sk)) return file + " lost the key " + sk.substr(sk.find('\n') + 1);
        }
        return {};
    }
};

TEST_F(CrashConsistency, KilledCommandsLeaveOldOrNewFiles)
{
    ASSERT_TRUE(fs::exists(kKvs)) << kKvs;
    // Source pictures, written by our own writer.
    std::vector<std::string> pics;
    for (int k = 0; k < 3; ++k) {
        Image img;
        ImgAlloc(img, 200 + 40 * k, 150 + 30 * k, k == 2 ? 8 : 24);
        for (int i = 0; i < img.Size; ++i) img.Data[i] = uint8_t((i * (k + 3)) ^ (i >> 7));
        for (int c = 0; c < 256; ++c) img.Pal[c][0] = img.Pal[c][1] = img.Pal[c][2] = uint8_t(c);
        pics.push_back(Root() + "Pic" + std::to_string(k) + ".bmp");
        ImgSave(pics.back(), img, FMT_BMP);
        ImgFree(img);
    }
    std::vector<std::string> add = {"--yes", "add", "--clash", "overwrite", "--prefix", "Crash"};
    add.insert(add.end(), pics.begin(), pics.end());
    ASSERT_EQ(RunToEnd(add), 0);
    ASSERT_EQ(RunToEnd({"--yes", "inst"}), 0);
    for (const auto& e : fs::recursive_directory_iterator(env.root))
        if (e.path().filename() == "headers.dat") store = e.path().parent_path().string() + "/";
    ASSERT_FALSE(store.empty()) << "no store after adding";
    const std::vector<std::string> gallery = {"--yes", "gallery", "create", Root() + "g.gal", "--prefix", "G",
                                              "Crash--Pic0.png", "Crash--Pic1.png", "Crash--Pic2.png"};
    ASSERT_EQ(RunToEnd(gallery), 0);
    ASSERT_EQ(RunToEnd({"--yes", "change"}), 0);
    keys_[env.prog + "Kvs.ini"] = KeysOf(env.prog + "Kvs.ini", {"Main"});
    keys_[env.win + "win.ini"] = KeysOf(env.win + "win.ini", {"Trelmark"});
    ASSERT_GT(keys_[env.prog + "Kvs.ini"].size(), 10u);
    ASSERT_EQ(Damage(), "");

    const std::vector<std::vector<std::string>> commands = {
        add, {"--yes", "change"}, {"--yes", "shuffle"}, gallery, {"--yes", "settings", "FontSize", "12"},
        {"--yes", "set", "Crash--Pic1.png", "--startup", "--wait", "--off"}, {"--yes", "settings", "FontSize", "10"}};
    // How long each command takes when left alone: kills land anywhere in that span.
    std::vector<int64_t> spanUs;
    for (const auto& c : commands) {
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(RunToEnd(c), 0) << c[1];
        spanUs.push_back(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
                             .count());
    }

    const char* killsEnv = std::getenv("KVS_CRASH_KILLS");
    const int kills = killsEnv ? std::max(1, std::atoi(killsEnv)) : 60;
    const char* seedEnv = std::getenv("KVS_CRASH_SEED");
    const uint32_t seed = seedEnv ? uint32_t(std::strtoul(seedEnv, nullptr, 10)) : std::random_device{}();
    std::mt19937 rng(seed);
    int killedMidway = 0;
    for (int i = 0; i < kills; ++i) {
        const size_t c = rng() % commands.size();
        const int64_t delay = int64_t(rng() % uint64_t(spanUs[c] * 11 / 10 + 1));
        const pid_t pid = Spawn(commands[c]);
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        const bool running = kill(pid, SIGKILL) == 0;
        int status = 0;
        waitpid(pid, &status, 0);
        if (running && WIFSIGNALED(status)) ++killedMidway;
        const std::string damage = Damage();
        ASSERT_EQ(damage, "") << "kill " << i + 1 << " of '" << commands[c][1] << " " << commands[c][2] << "' after "
                              << delay << " us (KVS_CRASH_SEED=" << seed << ")";
    }
    // Enough kills must have hit a running command, or the test proves nothing.
    EXPECT_GT(killedMidway, kills / 4) << "seed " << seed;
    // And the program still works on what the kills left.
    EXPECT_EQ(RunToEnd({"--yes", "list"}), 0);
    EXPECT_EQ(RunToEnd({"--yes", "change"}), 0);
    EXPECT_EQ(Damage(), "");
    RecordProperty("kills", kills);
    RecordProperty("killed_midway", killedMidway);
    std::printf("%d kills, %d while the command ran, seed %u\n", kills, killedMidway, seed);
}

}  // namespace
