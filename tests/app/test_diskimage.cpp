// The Windows drive inside a disk image, through the built kvs: the same commands give the same
// files as on a folder drive, the file system stays clean, foreign containers and locked images
// are refused, and a write-back killed at any moment leaves every file old or new.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "app/DriveUse.h"
#include "core/StoreLock.h"
#include "platform/DiskImage.h"
#include "platform/ProfileFile.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::string Q_(const std::string& s)
{
    std::string r = "'";
    for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

int Sh_(const std::string& cmd)
{
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

struct Run_ {
    int status = -1;
    std::string out, err;
};

struct Drive_ {
    std::string kind;  // "folder", "mbr-fat32", "fat16", "vhd"
    std::string path;
    std::string program;  // its own program folder (Kvs.ini)
    int64_t offset() const { return kind == "mbr-fat32" ? 1048576 : 0; }
};

class DiskImageTest : public ::testing::Test {
protected:
    TempDir tmp;

    // The environment every run gets: nothing of the user's drives or settings, and working
    // folders (left behind by killed runs) inside tmp.
    std::string Env_(const Drive_& d) const
    {
        return "env -u KVS_WINDOWS_DIR -u KVS_DRIVE -u XDG_RUNTIME_DIR TMPDIR=" + Q_(tmp.path.string()) +
               " XDG_DATA_HOME=" + Q_(tmp / "xdg") + " KVS_PROGRAM_DIR=" + Q_(d.program) + " ";
    }

    Run_ Kvs(const Drive_& d, const std::string& args)
    {
        const std::string out = tmp / "out.txt", err = tmp / "err.txt";
        Run_ r;
        r.status = Sh_(Env_(d) + Q_(std::string(KVS_BINARY_DIR) + "/kvs") + " --yes --drive " + Q_(d.path) + " " + args +
                       " </dev/null >" + Q_(out) + " 2>" + Q_(err));
        r.out = ReadWholeFile(out);
        r.err = ReadWholeFile(err);
        return r;
    }

    Drive_ Image(const std::string& kind, const std::string& name)
    {
        Drive_ d{kind, tmp / name, tmp / (name + "-program")};
        fs::create_directories(d.program);
        EXPECT_EQ(Sh_(Q_(std::string(KVS_SOURCE_DIR) + "/scripts/make-disk-image") + " " + Q_(d.path) + " " + kind), 0);
        return d;
    }

    // A folder drive holding what the image holds.
    Drive_ FolderLike(const Drive_& image, const std::string& name)
    {
        Drive_ d{"folder", tmp / name, tmp / (name + "-program")};
        fs::create_directories(d.path);
        fs::create_directories(d.program);
        Extract(image, d.path);
        return d;
    }

    void Extract(const Drive_& image, const std::string& dir)
    {
        fs::create_directories(dir);
        ASSERT_EQ(Sh_("MTOOLS_SKIP_CHECK=1 mcopy -s -n -m -i " + Q_(image.path + "@@" + std::to_string(image.offset())) +
                      " ::/ " + Q_(dir + "/") + " 2>/dev/null"),
                  0);
    }

    // Every file below the drive by lower-case path (FAT names ignore case), with its size and a
    // hash of its bytes. A folder drive's store lock is left out: an image is locked as a whole
    // and must not receive one.
    std::map<std::string, std::string> Tree(const Drive_& d)
    {
        std::string dir = d.path;
        if (d.kind != "folder") {
            dir = tmp / "extract";
            fs::remove_all(dir);
            Extract(d, dir);
        }
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(dir)) {
            if (!e.is_regular_file() || (d.kind == "folder" && e.path().filename() == STORE_LOCK_FILE)) continue;
            std::string rel = e.path().lexically_relative(dir).string();
            std::transform(rel.begin(), rel.end(), rel.begin(), [](unsigned char c) { return std::tolower(c); });
            const std::string bytes = ReadWholeFile(e.path().string());
            files[rel] = std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>()(bytes));
        }
        return files;
    }

    // fsck.fat -n over the file system (a partition is copied out first).
    bool Clean(const Drive_& d)
    {
        std::string fsImage = d.path;
        if (d.offset() > 0) {
            fsImage = tmp / "partition.img";
            if (Sh_("dd if=" + Q_(d.path) + " of=" + Q_(fsImage) + " bs=1M skip=1 status=none") != 0) return false;
        }
        return Sh_("fsck.fat -n " + Q_(fsImage) + " >/dev/null 2>&1") == 0;
    }

    std::string Attr(const Drive_& d, const std::string& path)
    {
        const std::string out = tmp / "attr.txt";
        Sh_("MTOOLS_SKIP_CHECK=1 mattrib -i " + Q_(d.path + "@@" + std::to_string(d.offset())) + " " + Q_("::/" + path) +
            " >" + Q_(out));
        return ReadWholeFile(out);
    }

    std::string Sample(const std::string& name) const { return std::string(KVS_SOURCE_DIR) + "/data/samples/" + name; }
};

// The first store name kvs list prints.
std::string FirstName_(const std::string& list)
{
    return list.substr(0, list.find_first_of("\t\n"));
}

TEST_F(DiskImageTest, CommandsOnImagesGiveTheFilesOfAFolderDrive)
{
    const std::string gallery = tmp / "shared.gal";
    for (const std::string kind : {"mbr-fat32", "fat16", "vhd"}) {
        SCOPED_TRACE(kind);
        const Drive_ image = Image(kind, kind + ".img");
        const Drive_ folder = FolderLike(image, kind + "-folder");
        // The working folder vanishes with the run: files are named inside the image.
        const std::string inImage = kind + ".img:C:\\";
        const Run_ paths = Kvs(image, "paths");
        EXPECT_NE(paths.out.find("\npartition=" + std::string(kind == "mbr-fat32" ? "1" : "0") + "\n"), std::string::npos)
            << paths.out << paths.err;
        EXPECT_NE(paths.out.find("\nlogo.wait=" + inImage + "WINDOWS\\"), std::string::npos) << paths.out;
        EXPECT_EQ(paths.out.find("kvs-drive-"), std::string::npos) << paths.out;
        auto both = [&](const std::string& args) {
            SCOPED_TRACE(args);
            const Run_ a = Kvs(folder, args), b = Kvs(image, args);
            EXPECT_EQ(a.status, 0) << a.err;
            EXPECT_EQ(b.status, a.status) << b.err;
            EXPECT_EQ(b.out.empty(), a.out.empty());
            EXPECT_EQ((b.out + b.err).find("kvs-drive-"), std::string::npos) << b.out << b.err;
            EXPECT_EQ(Tree(image), Tree(folder));
            EXPECT_TRUE(Clean(image));
            return b.out;
        };
        both("add --prefix Disk " + Q_(Sample("Samples--Tiles.png")) + " " + Q_(Sample("Samples--Waves.png")));
        const std::string list = Kvs(folder, "list").out;
        const std::string name = FirstName_(list), second = FirstName_(list.substr(list.find('\n') + 1));
        ASSERT_FALSE(second.empty());
        EXPECT_NE(both("set " + Q_(name) + " --startup --wait --off").find("(" + inImage + "WINDOWS\\"), std::string::npos);
        both("inst");
        both("restore");
        if (!fs::exists(gallery)) {
            const Run_ created = Kvs(folder, "gallery create " + Q_(gallery) + " --prefix G " + Q_(name) + " " + Q_(second));
            ASSERT_EQ(created.status, 0) << created.err;
        }
        both("gallery open " + Q_(gallery) + " --as Shared");
        // What inst wrote into MSDOS.SYS left it hidden, system and read-only.
        EXPECT_NE(Attr(image, "MSDOS.SYS").find("SHR"), std::string::npos) << Attr(image, "MSDOS.SYS");
        EXPECT_NE(Tree(image).count("msdos.sys"), 0u);
    }
}

TEST_F(DiskImageTest, ForeignContainersAndOtherFilesAreRefused)
{
    Drive_ d{"vhd", tmp / "disk.qcow2", tmp / "program"};
    fs::create_directories(d.program);
    std::string qcow(1024 * 1024, '\0');
    qcow.replace(0, 4, "QFI\xfb");
    WriteWholeFile(d.path, qcow);
    Run_ r = Kvs(d, "list");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("qemu-img convert -O raw"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("QCOW2"), std::string::npos) << r.err;

    // A dynamic VHD starts with a copy of its footer; the disk type is 3.
    std::string vhd(64 * 1024, '\0');
    vhd.replace(0, 8, "conectix");
    vhd[63] = 3;
    vhd.replace(vhd.size() - 512, 8, "conectix");
    vhd[vhd.size() - 512 + 63] = 3;
    d.path = tmp / "dynamic.vhd";
    WriteWholeFile(d.path, vhd);
    r = Kvs(d, "list");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("qemu-img convert -O raw"), std::string::npos) << r.err;

    std::mt19937 rng(7);
    std::string noise(256 * 1024, '\0');
    for (char& c : noise) c = static_cast<char>(rng());
    d.path = tmp / "noise.bin";
    WriteWholeFile(d.path, noise);
    r = Kvs(d, "list");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is not a disk image"), std::string::npos) << r.err;
    EXPECT_EQ(ReadWholeFile(d.path), noise);
}

TEST_F(DiskImageTest, ImageLockedByAnEmulatorIsLeftAlone)
{
    const Drive_ image = Image("fat16", "locked.img");
    const std::string before = ReadWholeFile(image.path);
    // QEMU holds shared byte-range locks through open file descriptions while it runs.
    const int fd = open(image.path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    struct flock fl = {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 101;
    fl.l_len = 1;
    ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &fl), 0);
    const Run_ r = Kvs(image, "add " + Q_(Sample("Samples--Tiles.png")));
    close(fd);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(DISK_IN_USE_TEXT) + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(ReadWholeFile(image.path) == before) << "the image changed";
}

TEST_F(DiskImageTest, KilledWriteBacksLeaveEveryLogoOldOrNew)
{
    const Drive_ image = Image("fat16", "killed.img");
    ASSERT_EQ(Kvs(image, "add --prefix K " + Q_(Sample("Samples--Tiles.png")) + " " + Q_(Sample("Samples--Waves.png"))).status, 0);
    std::vector<std::string> names;
    {
        const std::string list = Kvs(image, "list").out;
        for (size_t pos = 0; pos < list.size(); pos = list.find('\n', pos) + 1) {
            names.push_back(list.substr(pos, list.find('\t', pos) - pos));
            if (list.find('\n', pos) == std::string::npos) break;
        }
    }
    ASSERT_GE(names.size(), 2u);
    // The logo each name gives, from uncut runs; the first run also makes the backup.
    std::map<std::string, std::string> logoOf;  // size and hash
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 2; round++)
        for (const std::string& n : names) {
            ASSERT_EQ(Kvs(image, "set " + Q_(n) + " --startup --wait --message-startup Hello --message-wait Bye").status, 0);
            logoOf[n] = Tree(image)["logo.sys"];
        }
    const auto uncut = (std::chrono::steady_clock::now() - start) / 4;
    ASSERT_NE(logoOf[names[0]], logoOf[names[1]]);

    std::mt19937 rng(12345);
    const std::string kvs = std::string(KVS_BINARY_DIR) + "/kvs";
    for (int kill = 0; kill < 50; kill++) {
        const std::string& n = names[kill % 2];
        const std::string old = Tree(image)["logo.sys"];
        const pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            const int nul = open("/dev/null", O_RDWR);
            dup2(nul, 0), dup2(nul, 1), dup2(nul, 2);
            setenv("KVS_PROGRAM_DIR", image.program.c_str(), 1);
            setenv("XDG_DATA_HOME", (tmp / "xdg").c_str(), 1);
            unsetenv("KVS_WINDOWS_DIR");
            unsetenv("KVS_DRIVE");
            unsetenv("XDG_RUNTIME_DIR");
            setenv("TMPDIR", tmp.path.c_str(), 1);
            execl(kvs.c_str(), "kvs", "--drive", image.path.c_str(), "set", n.c_str(), "--startup", "--wait", "--message-startup", "Hello",
                  "--message-wait", "Bye", nullptr);
            _exit(127);
        }
        setpgid(pid, pid);
        // Mostly late in the run, where the write-back is.
        const auto span = std::chrono::duration_cast<std::chrono::microseconds>(uncut).count() + 1;
        std::this_thread::sleep_for(std::chrono::microseconds(span / 3 + rng() % span));
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        // An mtools program the write-back started finishes on its own: wait for its group to end.
        for (int i = 0; i < 250 && ::kill(-pid, 0) == 0; i++) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(Clean(image)) << "kill " << kill;
        const std::string now = Tree(image)["logo.sys"];
        EXPECT_TRUE(now == old || now == logoOf[n]) << "kill " << kill << ": a logo that is neither old nor new";
    }
    // The next run clears what the kills left and works.
    ASSERT_EQ(Kvs(image, "set " + Q_(names[0]) + " --startup --wait --message-startup Hello --message-wait Bye").status, 0);
    EXPECT_EQ(Tree(image)["logo.sys"], logoOf[names[0]]);
    for (const auto& [path, bytes] : Tree(image)) EXPECT_EQ(path.find(".kvs-new"), std::string::npos) << path;
}

TEST_F(DiskImageTest, DriveChoiceGoesOptionThenEnvironmentThenRememberedDrive)
{
    const std::string program = tmp / "program";
    fs::create_directories(program);
    const char* vars[] = {"KVS_PROGRAM_DIR", "KVS_DRIVE", "KVS_WINDOWS_DIR"};
    std::map<std::string, std::string> saved;
    for (const char* v : vars)
        if (getenv(v)) saved[v] = getenv(v);
    setenv("KVS_PROGRAM_DIR", program.c_str(), 1);
    unsetenv("KVS_DRIVE");
    unsetenv("KVS_WINDOWS_DIR");
    DriveUseSetOption("", 0);
    EXPECT_EQ(DriveUseChoose().source, "demo");
    DriveUseRemember(DriveChoice{"/images/win98.img", 2, "window"});
    ProfileDropCache();
    DriveChoice c = DriveUseChoose();
    EXPECT_EQ(c.source, "Kvs.ini");
    EXPECT_EQ(c.path, "/images/win98.img");
    EXPECT_EQ(c.partition, 2);
    setenv("KVS_WINDOWS_DIR", (tmp / "c/WINDOWS").c_str(), 1);
    EXPECT_EQ(DriveUseChoose().source, "KVS_WINDOWS_DIR");
    setenv("KVS_DRIVE", "/images/other.img", 1);
    EXPECT_EQ(DriveUseChoose().path, "/images/other.img");
    std::vector<std::string> args = {"--yes", "--drive=/images/given.vhd", "--partition", "3", "list", "--drive", "x"};
    std::string problem;
    ASSERT_TRUE(DriveUseTakeOptions(args, true, problem)) << problem;
    EXPECT_EQ(args, (std::vector<std::string>{"--yes", "list", "--drive", "x"}));
    c = DriveUseChoose();
    EXPECT_EQ(c.path, "/images/given.vhd");
    EXPECT_EQ(c.partition, 3);
    args = {"--partition", "5", "list"};
    EXPECT_FALSE(DriveUseTakeOptions(args, true, problem));
    DriveUseSetOption("", 0);
    for (const char* v : vars) {
        if (saved.count(v)) setenv(v, saved[v].c_str(), 1);
        else unsetenv(v);
    }
    ProfileDropCache();
}

}  // namespace
