// Durable writes under the conditions a real drive meets: a full disk, two programs at once, and
// links planted where the program writes. The kvs tool is run as a user runs it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/Mon.h"
#include "base/SafeFile.h"
#include "core/Settings.h"
#include "core/StoreLock.h"
#include "formats/FFDispatch.h"
#include "image/ImgBasic.h"
#include "platform/ProfileFile.h"
#include "support/TempEnv.h"

namespace fs = std::filesystem;

namespace {

const std::string kKvs = KVS_BINARY_DIR "/kvs";

struct KvsRunResult {
    int status = -1;
    std::string out, err;
};

// Starts kvs with its output in files under dir; returns the child's id.
pid_t Start(const std::string& dir, const std::string& tag, const std::vector<std::string>& args)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDONLY);
        const int out = open((dir + tag + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((dir + tag + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(null, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(kKvs.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(kKvs.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

KvsRunResult Finish(const std::string& dir, const std::string& tag, pid_t pid)
{
    int raw = 0;
    waitpid(pid, &raw, 0);
    KvsRunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = TempEnv::Read(dir + tag + ".out");
    r.err = TempEnv::Read(dir + tag + ".err");
    return r;
}

// Output files live in outDir, never on the drive under test.
KvsRunResult Kvs(const std::string& outDir, const std::vector<std::string>& args)
{
    return Finish(outDir, "run", Start(outDir, "run", args));
}

std::string Describe(const KvsRunResult& r) { return "exit " + std::to_string(r.status) + "\n" + r.out + r.err; }

void WritePicture(const std::string& path, int seed)
{
    Image img;
    ImgAlloc(img, 64 + seed % 7, 48 + seed % 5, 24);
    for (int i = 0; i < img.Size; ++i) img.Data[i] = uint8_t(i * (seed + 3) ^ (i >> 5));
    ImgSave(path, img, FMT_BMP);
    ImgFree(img);
}

struct FileState {
    std::string bytes;
    mode_t mode = 0;
    bool link = false;
    bool operator==(const FileState& o) const { return bytes == o.bytes && mode == o.mode && link == o.link; }
};

// Every file under root but skip, with its bytes and mode.
std::map<std::string, FileState> Snapshot(const fs::path& root, const std::string& skip = "")
{
    std::map<std::string, FileState> all;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_directory() || e.path().filename() == skip) continue;
        struct stat st;
        lstat(e.path().c_str(), &st);
        all[e.path().string()] = {TempEnv::Read(e.path().string()), st.st_mode & 07777, S_ISLNK(st.st_mode)};
    }
    return all;
}

std::vector<std::string> TempFilesUnder(const fs::path& root)
{
    std::vector<std::string> left;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (SafeIsTempName(e.path().filename().string())) left.push_back(e.path().string());
    return left;
}

// The names and positions of headers.dat.
std::map<std::string, int> IndexEntries(const std::string& path)
{
    const std::string b = TempEnv::Read(path);
    std::map<std::string, int> out;
    for (size_t at = 12; at + 152 <= b.size(); at += 152) {
        int32_t positions;
        std::memcpy(&positions, b.data() + at + 132, 4);
        out[b.substr(at + 5, uint8_t(b[at + 4]))] = positions;
    }
    return out;
}

class DriveTest : public ::testing::Test {
protected:
    TempEnv env;
    std::string out = fs::temp_directory_path().string() + "/kvs-out-" + std::to_string(getpid()) + "/";
    std::vector<std::string> pics;

    void SetUp() override
    {
        fs::create_directories(out);
        for (int k = 0; k < 3; ++k) {
            pics.push_back(out + "pic" + std::string(1, char('a' + k)) + ".bmp");
            WritePicture(pics.back(), k);
        }
    }
    void TearDown() override { fs::remove_all(out); }
    std::string Root() const { return env.root.string() + "/"; }
    std::string Store() const { return Root() + "drive_c/Program Files/KvsLogos/"; }

    // Three stored pictures, the logos installed, a gallery and its pictures unpacked.
    void Populate()
    {
        std::vector<std::string> add = {"--yes", "add", "--prefix", "P"};
        add.insert(add.end(), pics.begin(), pics.end());
        ASSERT_EQ(Kvs(out, add).status, 0);
        ASSERT_EQ(Kvs(out, {"--yes", "inst"}).status, 0);
        const KvsRunResult g = Kvs(out, {"--yes", "gallery", "create", Root() + "g.gal", "--prefix", "G", "P--pica.png",
                                "P--picb.png"});
        ASSERT_EQ(g.status, 0) << Describe(g);
        ASSERT_EQ(Kvs(out, {"--yes", "gallery", "open", Root() + "g.gal"}).status, 0);
        ASSERT_TRUE(fs::exists(Store() + "G--pica.png"));
    }
};

// ---------------------------------------------------------------- a full disk

class FullDisk : public DriveTest {
protected:
    bool mounted = false;
    void SetUp() override
    {
        if (geteuid() != 0) GTEST_SKIP() << "mounting a 2 MiB tmpfs needs root; full-disk cases skipped";
        DriveTest::SetUp();
        ASSERT_EQ(mount("tmpfs", env.root.c_str(), "tmpfs", 0, "size=2m"), 0) << std::strerror(errno);
        mounted = true;
        fs::create_directories(env.win);
        fs::create_directories(env.prog);
    }
    void TearDown() override
    {
        if (mounted) umount2(env.root.c_str(), MNT_DETACH);
        DriveTest::TearDown();
    }
    void Fill()
    {
        const int fd = open((Root() + "filler").c_str(), O_WRONLY | O_CREAT, 0644);
        static const char block[4096] = {};
        while (write(fd, block, sizeof block) > 0) {}
        while (write(fd, block, 1) > 0) {}
        close(fd);
    }
};

TEST_F(FullDisk, FailedWritesLeaveEveryFileAsItWas)
{
    Populate();
    // Messages saved once while there was room, so the window's save below replaces files.
    LoadSettings();
    for (int p : {POS_STARTUP, POS_WAIT, POS_TURNOFF}) SetMessageText(p, "Hello\r\nthere " + std::to_string(p));
    MonBlock([] { SaveMessages(); });
    Fill();
    const auto before = Snapshot(env.root, "filler");

    const std::vector<std::vector<std::string>> commands = {
        {"--yes", "set", "P--picb.png", "--startup", "--wait", "--off"},
        {"--yes", "gallery", "open", Root() + "g.gal", "--overwrite"},
        {"--yes", "gallery", "create", Root() + "g.gal", "--prefix", "H", "P--pica.png", "P--picc.png"},
        {"--yes", "settings", "FontSize", "13"},
    };
    for (const auto& c : commands) {
        const KvsRunResult r = Kvs(out, c);
        EXPECT_EQ(r.status, 1) << c[1] << " " << c[2] << ": " << Describe(r);
        EXPECT_FALSE(r.err.empty()) << c[1];
        EXPECT_EQ(r.out, "") << c[1] << " " << c[2] << " reported success";
        EXPECT_TRUE(Snapshot(env.root, "filler") == before) << c[1] << " " << c[2] << " changed a file";
        EXPECT_EQ(TempFilesUnder(env.root), std::vector<std::string>()) << c[1];
    }

    for (int p : {POS_STARTUP, POS_WAIT, POS_TURNOFF}) SetMessageText(p, std::string(3000, 'x'));
    bool failed = false;
    try {
        MonBlock([] { SaveMessages(); });
    } catch (const EMon&) {
        failed = true;
    }
    MonClearError();
    EXPECT_TRUE(failed) << "saving messages on a full disk reported success";
    EXPECT_TRUE(Snapshot(env.root, "filler") == before) << "saving messages changed a file";
    EXPECT_EQ(TempFilesUnder(env.root), std::vector<std::string>());
    ProfileDropCache();
}

TEST_F(FullDisk, APictureWithoutRoomIsNotAdded)
{
    Populate();
    // Noise: its stored picture is large, the index small.
    Image img;
    ImgAlloc(img, 320, 400, 24);
    std::mt19937 rng(5);
    for (int i = 0; i < img.Size; ++i) img.Data[i] = uint8_t(rng());
    const std::string noise = out + "noise.bmp";
    ImgSave(noise, img, FMT_BMP);
    ImgFree(img);
    // Room for the index and the settings, not for the picture.
    const uintmax_t room = (fs::file_size(Store() + "headers.dat") / 4096 + 4) * 4096;
    Fill();
    fs::resize_file(Root() + "filler", fs::file_size(Root() + "filler") - room);
    const KvsRunResult r = Kvs(out, {"--yes", "add", "--prefix", "Q", noise});
    EXPECT_EQ(r.status, 1) << Describe(r);
    EXPECT_EQ(r.out, "") << "reported a picture that was not stored";
    EXPECT_EQ(Kvs(out, {"list"}).out.find("Q--"), std::string::npos);
}

TEST_F(FullDisk, ARenameThatCannotWriteTheIndexRenamesNothing)
{
    Populate();
    const std::string index = TempEnv::Read(Store() + "headers.dat");
    Fill();
    const KvsRunResult r = Kvs(out, {"--yes", "rename", "P--pica", "Renamed"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "") << "reported a rename that was undone";
    // The text names the picture; the picture keeps its name and its positions in the index.
    EXPECT_NE(r.err.find("\"P--pica.png\""), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(Store() + "P--pica.png"));
    EXPECT_FALSE(fs::exists(Store() + "Renamed.png"));
    EXPECT_EQ(TempEnv::Read(Store() + "headers.dat"), index);
}

// ---------------------------------------------------------------- two programs at once

TEST_F(DriveTest, TemporaryFilesOfAKilledProgramGoWithTheNextChange)
{
    ASSERT_EQ(Kvs(out, {"--yes", "add", "--prefix", "P", pics[0]}).status, 0);
    const std::string left = Store() + ".P--pica.png.Zq81kLmN0a.kvs-new";
    TempEnv::Write(left, "half a picture");
    ASSERT_EQ(Kvs(out, {"list"}).status, 0);
    EXPECT_TRUE(fs::exists(left)) << "a reader holds the store shared and must not judge what others write";
    ASSERT_EQ(Kvs(out, {"positions", "start", "P--pica.png"}).status, 0);
    EXPECT_FALSE(fs::exists(left));

    // Beside the logo files only the temporaries of files written under the Windows folder's lock
    // go: win.ini is written without it, so its temporary may be another program's at work.
    const std::string win = Root() + "drive_c/WINDOWS/";
    const std::vector<std::string> gone = {win + ".LOGOW.SYS.Zq81kLmN0a.kvs-new", Root() + "drive_c/.MSDOS.SYS.Zq81kLmN0b.kvs-new",
                                           win + "logos.bak/.logow.001.Zq81kLmN0c.kvs-new"};
    const std::string kept = win + ".WIN.INI.Zq81kLmN0d.kvs-new";
    fs::create_directories(win + "logos.bak");
    for (const std::string& f : gone) TempEnv::Write(f, "half a file");
    TempEnv::Write(kept, "another program's settings");
    ASSERT_EQ(Kvs(out, {"set", "P--pica.png", "--wait"}).status, 0);
    for (const std::string& f : gone) EXPECT_FALSE(fs::exists(f)) << f;
    EXPECT_TRUE(fs::exists(kept));
}

TEST_F(DriveTest, ParallelCommandsLoseNothing)
{
    ASSERT_EQ(Kvs(out, {"--yes", "add", "--prefix", "Base", pics[0]}).status, 0);
    const std::string base = "Base--pica.png";
    std::vector<std::string> expected = {base};
    for (int round = 0; round < 20; ++round) {
        const std::string a = out + "r" + std::to_string(round) + "a.bmp", b = out + "r" + std::to_string(round) + "b.bmp";
        WritePicture(a, round * 2 + 5);
        WritePicture(b, round * 2 + 6);
        const int mask = 1 + round % 7;
        const pid_t p1 = Start(out, "1", {"--yes", "add", "--prefix", "R", a});
        const pid_t p2 = Start(out, "2", {"--yes", "add", "--prefix", "R", b});
        const pid_t p3 = Start(out, "3", {"--yes", "positions", std::to_string(mask), base});
        const KvsRunResult r1 = Finish(out, "1", p1), r2 = Finish(out, "2", p2), r3 = Finish(out, "3", p3);
        const auto index = IndexEntries(Store() + "headers.dat");
        for (const KvsRunResult* r : {&r1, &r2, &r3}) {
            if (r->status != 0) {
                EXPECT_NE(r->err.find(STORE_LOCK_BUSY), std::string::npos) << Describe(*r);
            }
        }
        if (r1.status == 0) expected.push_back("R--r" + std::to_string(round) + "a.png");
        if (r2.status == 0) expected.push_back("R--r" + std::to_string(round) + "b.png");
        for (const std::string& name : expected) EXPECT_TRUE(index.count(name)) << "round " << round << " lost " << name;
        if (r3.status == 0) {
            EXPECT_EQ(index.count(base) ? index.at(base) : -1, mask) << "round " << round;
        }
    }
    // The rounds must have added pictures, or nothing was shown.
    EXPECT_GT(expected.size(), 20u);
}

TEST_F(DriveTest, ParallelSetsKeepEveryRestoreLine)
{
    std::vector<std::string> add = {"--yes", "add", "--prefix", "S"};
    add.insert(add.end(), pics.begin(), pics.end());
    ASSERT_EQ(Kvs(out, add).status, 0);
    const std::string logos[3] = {Root() + "drive_c/logo.sys", env.win + "logow.sys", env.win + "logos.sys"};
    const std::string named[3] = {"\"C:\\logo.sys\"", "\"C:\\WINDOWS\\logow.sys\"", "\"C:\\WINDOWS\\logos.sys\""};
    const char* flags[3] = {"--startup", "--wait", "--off"};
    for (int round = 0; round < 20; ++round) {
        fs::remove_all(env.win + "logos.bak");
        for (const std::string& l : logos) TempEnv::Write(l, "original " + l);
        pid_t pid[3];
        for (int i = 0; i < 3; ++i)
            pid[i] = Start(out, std::to_string(i), {"--yes", "set", "S--pic" + std::string(1, char('a' + i)) + ".png", flags[i]});
        for (int i = 0; i < 3; ++i) {
            const KvsRunResult r = Finish(out, std::to_string(i), pid[i]);
            EXPECT_EQ(r.status, 0) << Describe(r);
        }
        const std::string bat = TempEnv::Read(env.win + "logos.bak/restore.bat");
        for (const std::string& l : named)
            EXPECT_NE(bat.find("\" " + l), std::string::npos) << "round " << round << " lost the line of " << l << ":\n" << bat;
    }
}

// ---------------------------------------------------------------- links

TEST_F(DriveTest, LinksAreReplacedAndTheirTargetsStayAsTheyWere)
{
    Populate();
    // The outside files the links point at, each read-only or writable, all with known bytes.
    std::map<std::string, std::string> links;  // link -> outside file
    fs::create_directories(out + "outside");
    int n = 0;
    auto plant = [&](const std::string& at, const std::string& bytes, mode_t mode) {
        const std::string target = out + "outside/" + std::to_string(n++);
        TempEnv::Write(target, bytes);
        chmod(target.c_str(), mode);
        fs::remove(at);
        fs::create_symlink(target, at);
        links[at] = target;
    };
    plant(Store() + "headers.dat", TempEnv::Read(Store() + "headers.dat"), 0644);
    plant(Store() + "P--pica.png", TempEnv::Read(Store() + "P--pica.png"), 0600);
    plant(Store() + "P--picc.png", TempEnv::Read(Store() + "P--picc.png"), 0444);
    plant(Root() + "drive_c/logo.sys", TempEnv::Read(Root() + "drive_c/logo.sys"), 0644);
    // Without lines, so the next set adds one.
    plant(env.win + "logos.bak/restore.bat", "REM\r\n", 0644);
    plant(Root() + "g.gal", "not a gallery", 0644);
    plant(env.prog + "Kvs.ini", TempEnv::Read(env.prog + "Kvs.ini"), 0644);
    plant(env.win + "win.ini", "", 0644);  // empty, so the install information is written anew
    plant(env.win + "registry.ini", "", 0644);  // empty: the KvsRunResult entry must be written anew
    plant(Root() + "drive_c/MSDOS.SYS", "[Options]\r\nLogo=0\r\n", 0644);
    const auto outside = Snapshot(out + "outside");

    const std::vector<std::vector<std::string>> commands = {
        {"--yes", "positions", "3", "P--picb.png"},
        {"--yes", "add", "--prefix", "P", "--clash", "overwrite", pics[0]},
        {"--yes", "set", "P--picb.png", "--wait"},
        {"--yes", "gallery", "create", Root() + "g.gal", "--prefix", "G", "P--pica.png", "P--picb.png"},
        {"--yes", "settings", "FontSize", "11"},
        {"--yes", "delete", "P--picc.png"},
    };
    for (const auto& c : commands) {
        const KvsRunResult r = Kvs(out, c);
        EXPECT_EQ(r.status, 0) << c[1] << ": " << Describe(r);
    }
    // A logo file that leads off the drive is not backed up, so it is not replaced either; install
    // still writes win.ini, the registry and MSDOS.SYS.
    Kvs(out, {"--yes", "inst"});
    EXPECT_TRUE(Snapshot(out + "outside") == outside) << "a file outside the drive changed through a link";
    for (const auto& [link, target] : links) {
        if (link.find("P--picc") != std::string::npos) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the deleted link is gone";
            continue;
        }
        if (link.find("logo.sys") != std::string::npos) continue;
        EXPECT_FALSE(fs::is_symlink(link)) << link << " was written through, not replaced";
    }

    // Message files, saved by the window.
    LoadSettings();
    const std::string msg = GetMessageFileName(POS_STARTUP);
    plant(msg, "old message\r\n", 0444);
    const auto outside2 = Snapshot(out + "outside");
    SetMessageText(POS_STARTUP, "new message");
    MonBlock([] { SaveMessages(); });
    EXPECT_TRUE(Snapshot(out + "outside") == outside2);
    EXPECT_EQ(TempEnv::Read(msg), "new message\r\n");
    ProfileDropCache();
}

}  // namespace
