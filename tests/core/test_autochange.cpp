// The automatic change at real Windows starts, proven in a DOS shell nobody here wrote: DOSBox
// mounts the drive (a folder, or a FAT16 disk image through imgmount) as C: and runs its
// AUTOEXEC.BAT as Windows 95/98 do before they load. A drive that went through k such starts and
// one "kvs change" holds the logo files of an equal drive that ran "kvs change" k + 1 times.
// KVS_AUTOCHANGE_SETS sets N (3 by default): k runs up to N.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "support/RealDrive.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const char* const LOGOS[] = {"LOGO.SYS", "WINDOWS/LOGOW.SYS", "WINDOWS/LOGOS.SYS"};
// A disk of 16 heads and 63 sectors a track, as DOSBox reads a hard disk image: FAT16 in one
// partition at sector 63.
constexpr int64_t TRACK = 63 * 512, CYLINDER = 16 * TRACK;

std::string Q(const std::string& s)
{
    std::string r = "'";
    for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

int Sh(const std::string& cmd)
{
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

int Sets()
{
    const char* n = std::getenv("KVS_AUTOCHANGE_SETS");
    return n && std::atoi(n) > 0 ? std::atoi(n) : 3;
}

struct Drive {
    std::string path;     // the drive root folder or the image file
    std::string program;  // its own program folder: Kvs.ini with the pick counters
    bool image = false;
};

struct KvsRun {
    int status = -1;
    std::string out, err;
};

class AutoChangeTest : public ::testing::Test {
protected:
    TempDir tmp;

    void SetUp() override
    {
        if (Sh("command -v dosbox >/dev/null 2>&1") != 0) GTEST_SKIP() << "dosbox is not installed (scripts/install-deps)";
    }

    KvsRun Kvs(const Drive& d, const std::string& args)
    {
        KvsRun r;
        r.status = Sh("env -u KVS_WINDOWS_DIR -u KVS_DRIVE TMPDIR=" + Q(tmp.str()) + " XDG_DATA_HOME=" + Q(tmp / "xdg") +
                      " KVS_PROGRAM_DIR=" + Q(d.program) + " " + Q(std::string(KVS_BINARY_DIR) + "/kvs") + " --no --drive " +
                      Q(d.path) + " " + args + " </dev/null >" + Q(tmp / "out") + " 2>" + Q(tmp / "err"));
        r.out = ReadWholeFile(tmp / "out");
        r.err = ReadWholeFile(tmp / "err");
        return r;
    }

    // One start of Windows as far as DOS goes: AUTOEXEC.BAT of drive C:.
    void Start(const Drive& d)
    {
        const std::string conf = tmp / "dosbox.conf";
        std::string mount = d.image ? "imgmount c " + d.path + " -t hdd -fs fat" : "mount c " + d.path;
        TempEnv::Write(conf, "[sdl]\noutput=surface\n[mixer]\nnosound=true\n[autoexec]\n" + mount +
                                 "\nc:\ncall c:\\autoexec.bat\nexit\n");
        fs::create_directories(tmp / "home");
        ASSERT_EQ(Sh("HOME=" + Q(tmp / "home") + " SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout 60 dosbox -conf " +
                     Q(conf) + " -noconsole >/dev/null 2>&1"),
                  0);
    }

    // Every file of the drive by lower-case path, with its bytes.
    std::map<std::string, std::string> Files(const Drive& d)
    {
        std::string dir = d.path;
        if (d.image) {
            dir = tmp / "extract";
            fs::remove_all(dir);
            fs::create_directories(dir);
            EXPECT_EQ(Sh("MTOOLS_SKIP_CHECK=1 mcopy -s -n -m -i " + Q(d.path + "@@" + std::to_string(TRACK)) + " ::/ " +
                         Q(dir + "/") + " 2>/dev/null"),
                      0);
        }
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.is_regular_file() && e.path().filename() != "kvs.lock")
                files[Lower(e.path().lexically_relative(dir).string())] = ReadWholeFile(e.path().string());
        return files;
    }

    // The three logo files, each as its bytes.
    std::string Logos(const Drive& d)
    {
        const auto files = Files(d);
        std::string all;
        for (const char* logo : LOGOS) {
            const auto f = files.find(Lower(logo));
            all += f == files.end() ? std::string("(none)") : f->second;
        }
        return all;
    }

    // The names in the rotation folder that are no set: the batch file, the record, the marker.
    std::string RotationNames(const Drive& d)
    {
        std::string names;
        for (const auto& [path, bytes] : Files(d))
            if (path.rfind("windows/kvsrot/", 0) == 0 && path.find('/', 15) == std::string::npos) names += path.substr(15) + " ";
        return names;
    }

    // A drive as Windows 98 leaves it, with the sample pictures in its store and N sets asked for.
    Drive Template(bool image, int cylinders = 40)
    {
        const std::string root = tmp / "tree/";
        fs::remove_all(root);
        RealDrive::Make(root);
        fs::create_directories(root + "Program Files/KvsLogos");
        for (const char* name : {"Samples--Tiles.png", "Samples--Waves.png", "Samples--Sunset Hills.png"})
            fs::copy_file(std::string(KVS_SOURCE_DIR) + "/data/samples/" + name, root + "Program Files/KvsLogos/" + name);
        Drive d{root, tmp / "template-program", image};
        if (image) {
            d.path = tmp / "template.img";
            const int64_t size = cylinders * CYLINDER;
            const std::string at = Q(d.path + "@@" + std::to_string(TRACK));
            EXPECT_EQ(Sh("truncate -s " + std::to_string(size) + " " + Q(d.path) +
                         " && printf 'label: dos\\nstart=63, type=6, bootable\\n' | sfdisk -q " + Q(d.path) + " >/dev/null 2>&1" +
                         " && mkfs.fat -F 16 -s " + (cylinders < 10 ? "1" : "2") + " -h 63 --offset 63 " + Q(d.path) + " " +
                         std::to_string((size - TRACK) / 1024) + " >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -s -i " + at +
                         " " + Q(root) + "* ::/"),
                      0);
        }
        fs::create_directories(d.program);
        EXPECT_EQ(Kvs(d, "settings AutoChangeSets " + std::to_string(Sets())).status, 0);
        return d;
    }

    Drive Copy(const Drive& from, const std::string& name)
    {
        Drive d{tmp / name + (from.image ? "" : "/"), tmp / (name + "-program"), from.image};
        fs::copy(from.path, d.path, fs::copy_options::recursive);
        fs::copy(from.program, d.program, fs::copy_options::recursive);
        return d;
    }

    // k starts and a change on A give the logos of k + 1 changes on B, step by step; reading
    // commands in between count nothing. Each k from first to N.
    void ExpectStartsEqualChanges(const Drive& tpl, int first = 1)
    {
        for (int k = first; k <= Sets(); ++k) {
            SCOPED_TRACE("k = " + std::to_string(k));
            const Drive a = Copy(tpl, "a" + std::to_string(k)), b = Copy(tpl, "b" + std::to_string(k));
            const KvsRun inst = Kvs(a, "inst");
            ASSERT_EQ(inst.status, 0) << inst.err;
            ASSERT_EQ(Kvs(b, "inst").status, 0);
            ASSERT_EQ(Logos(a), Logos(b));
            for (int start = 1; start <= k; ++start) {
                Start(a);
                ASSERT_EQ(Kvs(b, "change").status, 0);
                EXPECT_EQ(Logos(a), Logos(b)) << "after start " << start;
            }
            const std::string marker = RotationNames(a), settings = ReadWholeFile(a.program + "/Kvs.ini");
            EXPECT_EQ(Kvs(a, "list").status, 0);
            EXPECT_EQ(Kvs(a, "paths").status, 0);
            EXPECT_EQ(RotationNames(a), marker);
            EXPECT_EQ(ReadWholeFile(a.program + "/Kvs.ini"), settings);
            const KvsRun change = Kvs(a, "change");
            ASSERT_EQ(change.status, 0) << change.err;
            ASSERT_EQ(Kvs(b, "change").status, 0);
            EXPECT_EQ(Logos(a), Logos(b)) << "after the change";
            EXPECT_EQ(RotationNames(a), "kvsrot.bat m01 sets.ini ");
        }
    }
};

TEST_F(AutoChangeTest, WindowsStartsOnAFolderDriveEqualChanges)
{
    ExpectStartsEqualChanges(Template(false));
}

TEST_F(AutoChangeTest, WindowsStartsOnAFat16ImageEqualChanges)
{
    const Drive tpl = Template(true);
    // k = N alone: its steps compare every start up to the last, where the batch goes round.
    ExpectStartsEqualChanges(tpl, Sets());
    // DOSBox and the program leave a file system that fsck.fat finds clean.
    const Drive a = Copy(tpl, "checked");
    ASSERT_EQ(Kvs(a, "inst").status, 0);
    Start(a);
    ASSERT_EQ(Kvs(a, "change").status, 0);
    const std::string fs16 = tmp / "fs.img";
    ASSERT_EQ(Sh("dd if=" + Q(a.path) + " of=" + Q(fs16) + " bs=512 skip=63 status=none"), 0);
    EXPECT_EQ(Sh("fsck.fat -n " + Q(fs16) + " >/dev/null 2>&1"), 0);
}

// Random picks: every start shows a prepared set, in turn, and after the last the first again.
TEST_F(AutoChangeTest, RandomPicksShowThePreparedSetsInTurn)
{
    const Drive d = Copy(Template(false), "random");
    ASSERT_EQ(Kvs(d, "settings LogoPickMethod 1").status, 0);
    ASSERT_EQ(Kvs(d, "settings MsgPickMethod 1").status, 0);
    ASSERT_EQ(Kvs(d, "inst").status, 0);
    const auto prepared = Files(d);
    for (int start = 1; start <= Sets() + 1; ++start) {
        const std::string set = "windows/kvsrot/s0" + std::to_string((start - 1) % Sets() + 1) + "/";
        Start(d);
        const auto now = Files(d);
        for (const char* logo : LOGOS) {
            const std::string name = Lower(fs::path(logo).filename().string());
            ASSERT_TRUE(prepared.count(set + name)) << set + name;
            EXPECT_EQ(now.at(Lower(logo)), prepared.at(set + name)) << "start " << start << ", " << logo;
        }
    }
}

// Uninstalling puts AUTOEXEC.BAT back byte for byte (also one without a last line end, with an
// end-of-file mark, or none at all), removes the rotation folder, puts MSDOS.SYS's Logo=0 back,
// says what it undid, and the next command installs nothing.
TEST_F(AutoChangeTest, UninstallLeavesTheDriveAsItWas)
{
    const Drive tpl = Template(false);
    int n = 0;
    for (const char* own : {"SET PATH=C:\\WINDOWS\r\n", "PROMPT $P$G\r\nSET TEMP=C:\\TEMP", "PATH C:\\DOS\r\n\x1a", ""}) {
        const bool none = std::string(own).empty();
        SCOPED_TRACE(none ? "no AUTOEXEC.BAT" : own);
        const Drive d = Copy(tpl, "u" + std::to_string(++n));
        if (none) fs::remove(d.path + "AUTOEXEC.BAT");
        else TempEnv::Write(d.path + "AUTOEXEC.BAT", own);
        const std::string msdos = ReadWholeFile(d.path + "MSDOS.SYS");
        ASSERT_EQ(Kvs(d, "inst").status, 0);
        const std::string added = ReadWholeFile(d.path + "AUTOEXEC.BAT");
        EXPECT_NE(added.find("@IF EXIST C:\\WINDOWS\\KVSROT\\KVSROT.BAT CALL C:\\WINDOWS\\KVSROT\\KVSROT.BAT\r\n"),
                  std::string::npos);
        Start(d);
        const KvsRun un = Kvs(d, "uninst");
        ASSERT_EQ(un.status, 0) << un.err;
        EXPECT_NE(un.out.find("\"Logo=0\" is back in MSDOS.SYS"), std::string::npos) << un.out;
        EXPECT_EQ(fs::exists(d.path + "AUTOEXEC.BAT"), !none);
        if (!none) {
            EXPECT_EQ(ReadWholeFile(d.path + "AUTOEXEC.BAT"), own);
        }
        EXPECT_FALSE(fs::exists(d.path + "WINDOWS/KVSROT"));
        EXPECT_EQ(ReadWholeFile(d.path + "MSDOS.SYS"), msdos);
        ASSERT_EQ(Kvs(d, "change").status, 0);
        EXPECT_FALSE(fs::exists(d.path + "WINDOWS/KVSROT"));
        EXPECT_EQ(fs::exists(d.path + "AUTOEXEC.BAT"), !none);
    }
}

// Fewer sets when room lacks, said so; without room for one, inst fails and AUTOEXEC.BAT stays.
TEST_F(AutoChangeTest, ADriveWithoutRoomForASetKeepsItsAutoexec)
{
    const Drive d = Copy(Template(true, 5), "full");
    const std::string at = Q(d.path + "@@" + std::to_string(TRACK));
    Sh("MTOOLS_SKIP_CHECK=1 mdir -i " + at + " ::/ >" + Q(tmp / "mdir"));
    std::string listing = ReadWholeFile(tmp / "mdir");
    const size_t end = listing.rfind(" bytes free");
    ASSERT_NE(end, std::string::npos);
    size_t start = end;
    while (start > 0 && (std::isdigit(static_cast<unsigned char>(listing[start - 1])) || listing[start - 1] == ' ')) --start;
    std::string digits;
    for (size_t i = start; i < end; ++i)
        if (listing[i] != ' ') digits += listing[i];
    // Room for the new logos and their backups, not for a set besides.
    const int64_t filler = std::stoll(digits) - 900 * 1024;
    ASSERT_GT(filler, 0);
    ASSERT_EQ(Sh("head -c " + std::to_string(filler) + " /dev/zero >" + Q(tmp / "filler") +
                 " && MTOOLS_SKIP_CHECK=1 mcopy -i " + at + " " + Q(tmp / "filler") + " ::/FILLER.BIN"),
              0);
    const std::string autoexec = Files(d).at("autoexec.bat");
    const KvsRun r = Kvs(d, "inst");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("There is no room on the drive for one set of logos"), std::string::npos) << r.err;
    EXPECT_EQ(Files(d).at("autoexec.bat"), autoexec);

    // With room for some of the sets asked for: those, and a word about it.
    const Drive roomy = Copy(Template(true, 10), "roomy");
    ASSERT_EQ(Kvs(roomy, "settings AutoChangeSets 64").status, 0);
    const KvsRun some = Kvs(roomy, "inst");
    EXPECT_EQ(some.status, 0) << some.err;
    EXPECT_NE(some.err.find(" of 64 logo sets of the automatic change fit on the drive"), std::string::npos) << some.err;
}

}  // namespace
