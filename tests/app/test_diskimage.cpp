// The Windows drive inside a disk image, through the built kvs: the same commands give the same
// files as on a folder drive, the file system stays clean, foreign containers and locked images
// are refused, and a write-back killed at any moment leaves every file old or new.
#include <fcntl.h>
#include <sys/file.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "app/DriveUse.h"
#include "core/StoreLock.h"
#include "base/Mon.h"
#include "platform/DiskImage.h"
#include "platform/DriveStage.h"
#include "platform/FatRead.h"
#include "base/SafeFile.h"
#include "platform/DrivePath.h"
#include "platform/SysInfo.h"
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

// Opens path and takes the locks QEMU 7.2 holds on a raw image it writes (shared byte-range
// locks through an open file description on bytes 100, 101 and 201); -1 when that fails.
int HoldAsQemu_(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR);
    for (auto [start, len] : {std::pair{100, 2}, std::pair{201, 1}}) {
        struct flock fl = {};
        fl.l_type = F_RDLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = start;
        fl.l_len = len;
        if (fd >= 0 && fcntl(fd, F_OFD_SETLK, &fl) != 0) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

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
        // This Windows had its logo turned off: inst rewrites MSDOS.SYS.
        const std::string at = Q_(image.path + "@@" + std::to_string(image.offset()));
        WriteWholeFile(tmp / "MSDOS.SYS", "[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\nHostWinBootDrv=C\r\n\r\n"
                                          "[Options]\r\nBootGUI=1\r\nLogo=0\r\n");
        ASSERT_EQ(Sh_("export MTOOLS_SKIP_CHECK=1; mattrib -i " + at + " -r ::/MSDOS.SYS && mcopy -o -i " + at + " " +
                      Q_(tmp / "MSDOS.SYS") + " ::/MSDOS.SYS && mattrib -i " + at + " +h +s +r ::/MSDOS.SYS"),
                  0);
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
        const std::string msdos = Tree(image)["msdos.sys"];
        both("inst");
        EXPECT_NE(Tree(image)["msdos.sys"], msdos) << "inst left MSDOS.SYS as it was";
        both("restore");
        if (!fs::exists(gallery)) {
            const Run_ created = Kvs(folder, "gallery create " + Q_(gallery) + " --prefix G " + Q_(name) + " " + Q_(second));
            ASSERT_EQ(created.status, 0) << created.err;
        }
        // A gallery made from the image holds the pictures' bytes, not what the image was staged with.
        const std::string fromImage = tmp / "from-image.gal";
        fs::remove(fromImage);
        EXPECT_EQ(Kvs(image, "gallery create " + Q_(fromImage) + " --prefix G " + Q_(name) + " " + Q_(second)).status, 0);
        EXPECT_EQ(ReadWholeFile(fromImage), ReadWholeFile(gallery));
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

    // A descriptor file is smaller than a sector; it names the extents that hold the disk.
    d.path = tmp / "disk.vmdk";
    WriteWholeFile(d.path, "# Disk DescriptorFile\nversion=1\ncreateType=\"monolithicFlat\"\nRW 32768 FLAT \"disk-flat.vmdk\" 0\n");
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
    const int fd = HoldAsQemu_(image.path);
    ASSERT_GE(fd, 0);
    const Run_ r = Kvs(image, "add " + Q_(Sample("Samples--Tiles.png")));
    close(fd);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "The disk image is in use by test_app (process " + std::to_string(getpid()) + "). Shut the emulator down first.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(ReadWholeFile(image.path) == before) << "the image changed";
}

// Kills at random moments of a command that replaces the original logos for the first time: the
// file system stays clean, a replaced logo always has its backup and its restore line, and the
// next command works and clears what the killed one left. $KVS_KILL_COUNT sets the number of kills.
TEST_F(DiskImageTest, KilledCommandsNeverLoseTheOriginalLogo)
{
    const Drive_ pristine = Image("fat16", "pristine.img");
    const std::string at = Q_(pristine.path + "@@0");
    const std::string original = "original boot logo of this machine";
    WriteWholeFile(tmp / "LOGO.SYS", original);
    ASSERT_EQ(Sh_("MTOOLS_SKIP_CHECK=1 mcopy -i " + at + " " + Q_(tmp / "LOGO.SYS") + " ::/LOGO.SYS"), 0);
    ASSERT_EQ(Kvs(pristine, "add --prefix K " + Q_(Sample("Samples--Tiles.png"))).status, 0);
    const std::string name = FirstName_(Kvs(pristine, "list").out);
    const std::string args = "set " + Q_(name) + " --startup --message-startup Hello";
    const Drive_ image{"fat16", tmp / "killed.img", pristine.program};
    auto fresh = [&] { fs::copy_file(pristine.path, image.path, fs::copy_options::overwrite_existing); };
    fresh();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Kvs(image, args).status, 0);
    const auto uncut = std::chrono::steady_clock::now() - start;
    const std::string replaced = Tree(image)["logo.sys"], old = Tree(pristine)["logo.sys"];
    ASSERT_NE(replaced, old);

    const char* count = getenv("KVS_KILL_COUNT");
    const int kills = count ? std::max(1, atoi(count)) : 12;
    std::mt19937 rng(12345);
    const std::string kvs = std::string(KVS_BINARY_DIR) + "/kvs";
    int cut = 0;
    for (int kill = 0; kill < kills; kill++) {
        fresh();
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
            execl(kvs.c_str(), "kvs", "--drive", image.path.c_str(), "set", name.c_str(), "--startup", "--message-startup",
                  "Hello", nullptr);
            _exit(127);
        }
        setpgid(pid, pid);
        const auto span = std::chrono::duration_cast<std::chrono::microseconds>(uncut).count() + 1;
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % span));
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        // An mtools program the write-back started finishes on its own: wait for its group to end.
        for (int i = 0; i < 250 && ::kill(-pid, 0) == 0; i++) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(Clean(image)) << "kill " << kill;
        std::map<std::string, std::string> tree = Tree(image);
        const std::string now = tree["logo.sys"];
        ASSERT_TRUE(now == old || now == replaced) << "kill " << kill << ": a logo neither old nor new";
        if (now == replaced) {
            cut++;
            const std::string wanted = std::to_string(original.size()) + ":" + std::to_string(std::hash<std::string>()(original));
            std::string backup;
            for (const auto& [path, bytes] : tree)
                if (path.rfind("windows/logos.bak/", 0) == 0 && bytes == wanted) backup = path.substr(18);
            ASSERT_FALSE(backup.empty()) << "kill " << kill << ": LOGO.SYS replaced without its backup";
            std::string bat = ReadWholeFile((tmp / "extract/") + "WINDOWS/logos.bak/restore.bat");
            if (bat.empty()) bat = ReadWholeFile((tmp / "extract/") + "WINDOWS/logos.bak/RESTORE.BAT");
            std::transform(bat.begin(), bat.end(), bat.begin(), [](unsigned char c) { return std::tolower(c); });
            EXPECT_NE(bat.find(backup), std::string::npos) << "kill " << kill << ": no restore line for " << backup;
        }
        const Run_ next = Kvs(image, "list");
        ASSERT_EQ(next.status, 0) << "kill " << kill << ": " << next.err;
        for (const auto& [path, bytes] : Tree(image)) EXPECT_EQ(path.find("kvs-new"), std::string::npos) << path;
    }
    // The commands that ran after the kills removed the working folders the kills left.
    for (const auto& e : fs::directory_iterator(tmp.path))
        EXPECT_NE(e.path().filename().string().rfind("kvs-drive-", 0), 0u) << e.path();
    std::printf("[ kills    ] %d of %d cut the command after it had replaced the logo\n", cut, kills);
}

// A command that fails for one of its arguments keeps what it did for the others, and names
// that are mtools patterns ([1]) reach only the file they name.
TEST_F(DiskImageTest, PartialFailuresAndPatternNamesKeepTheGoodWork)
{
    const Drive_ image = Image("fat16", "partial.img");
    const std::string in = tmp / "in";
    fs::create_directories(in);
    fs::copy_file(Sample("Samples--Tiles.png"), in + "/photo1.png");
    fs::copy_file(Sample("Samples--Waves.png"), in + "/photo[1].png");
    WriteWholeFile(in + "/broken.png", "\x89PNG\r\n\x1a\nnot a picture at all");
    const Run_ added = Kvs(image, "add --prefix P " + Q_(in + "/photo1.png") + " " + Q_(in + "/broken.png") + " " +
                                      Q_(in + "/photo[1].png"));
    EXPECT_EQ(added.status, 1) << added.out << added.err;
    std::string list = Kvs(image, "list").out;
    const std::string plain = "P--photo1.png", bracket = "P--photo[1].png";
    ASSERT_NE(list.find(plain + "\t"), std::string::npos) << list;
    ASSERT_NE(list.find(bracket + "\t"), std::string::npos) << list;
    EXPECT_NE(added.out.find("photo1"), std::string::npos) << added.out;
    EXPECT_TRUE(Clean(image));

    const Run_ deleted = Kvs(image, "delete " + Q_(bracket));
    EXPECT_EQ(deleted.status, 0) << deleted.err;
    list = Kvs(image, "list").out;
    EXPECT_NE(list.find(plain + "\t"), std::string::npos) << list;
    EXPECT_EQ(list.find(bracket + "\t"), std::string::npos) << list;
    // A picture renamed without being read keeps its bytes.
    const std::string bytes = Tree(image)["program files/kvslogos/p--photo1.png"];
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(Kvs(image, "rename " + Q_(plain) + " " + Q_("P--x[2]")).status, 0);
    list = Kvs(image, "list").out;
    EXPECT_EQ(list.find(plain + "\t"), std::string::npos) << list;
    EXPECT_NE(list.find("P--x[2].png\t"), std::string::npos) << list;
    std::map<std::string, std::string> tree = Tree(image);
    EXPECT_EQ(tree["program files/kvslogos/p--x[2].png"], bytes);
    EXPECT_EQ(tree.count("program files/kvslogos/p--photo1.png"), 0u);
    EXPECT_TRUE(Clean(image));
}

// mtools stores a renamed "headers.dat" as HEADERS.DAT; a folder drive copied from such a disk
// holds the upper-case names too. Positions and the restore survive two changing commands on both.
TEST_F(DiskImageTest, OwnFilesAreFoundInAnyLetterCase)
{
    const Drive_ image = Image("fat16", "case.img");
    ASSERT_EQ(Kvs(image, "add --prefix C " + Q_(Sample("Samples--Tiles.png")) + " " + Q_(Sample("Samples--Waves.png"))).status, 0);
    const Drive_ folder = FolderLike(image, "case-folder");
    for (const Drive_& d : {image, folder}) {
        SCOPED_TRACE(d.kind);
        const std::string list = Kvs(d, "list").out;
        const std::string first = FirstName_(list), second = FirstName_(list.substr(list.find('\n') + 1));
        ASSERT_EQ(Kvs(d, "positions start " + Q_(first)).status, 0);
        ASSERT_EQ(Kvs(d, "set " + Q_(second) + " --wait --message-wait Bye").status, 0);
        if (d.kind == "folder") {
            const std::string bak = d.path + "/WINDOWS/logos.bak/";
            for (const std::string& f : {d.path + "/Program Files/KvsLogos/headers.dat", bak + "restore.bat"}) {
                ASSERT_TRUE(fs::exists(f)) << f;
                fs::rename(f, fs::path(f).parent_path() / (f.find("headers") != std::string::npos ? "HEADERS.DAT" : "RESTORE.BAT"));
            }
        }
        ASSERT_EQ(Kvs(d, "positions start,off " + Q_(first)).status, 0);
        const std::string after = Kvs(d, "list --json").out;
        EXPECT_NE(after.find("\"name\": \"" + first + "\", \"positions\": 5"), std::string::npos) << after;
        const Run_ restored = Kvs(d, "restore");
        EXPECT_EQ(restored.status, 0) << restored.out << restored.err;
        EXPECT_EQ(Tree(d).count("windows/logow.sys"), 0u) << "the logo made by set is still there";
    }
    EXPECT_TRUE(Clean(image));
}

// An empty folder is a folder; a change the image has no room for leaves every logo as it was.
TEST_F(DiskImageTest, EmptyFoldersAndAFullImage)
{
  for (const std::string kind : {"fat16", "mbr-fat32"}) {
    SCOPED_TRACE(kind);
    const Drive_ image = Image(kind, kind + "-full.img");
    const std::string at = Q_(image.path + "@@" + std::to_string(image.offset()));
    ASSERT_EQ(Sh_("MTOOLS_SKIP_CHECK=1 mmd -i " + at + " ::/WINDOWS/logos.bak"), 0);
    for (const char* cmd : {"list", "paths"}) {
        const Run_ r = Kvs(image, cmd);
        EXPECT_EQ(r.status, 0) << cmd << ": " << r.err;
    }
    ASSERT_EQ(Kvs(image, "add --prefix F " + Q_(Sample("Samples--Tiles.png")) + " " + Q_(Sample("Samples--Waves.png"))).status, 0);
    const std::string list = Kvs(image, "list").out;
    const std::string first = FirstName_(list), second = FirstName_(list.substr(list.find('\n') + 1));
    ASSERT_EQ(Kvs(image, "set " + Q_(first) + " --startup --wait --off").status, 0);
    // Fill the file system up to a few clusters.
    const std::string out = tmp / "free.txt";
    Sh_("MTOOLS_SKIP_CHECK=1 mdir -i " + at + " ::/ >" + Q_(out));
    std::string text = ReadWholeFile(out);
    const size_t freeAt = text.find(" bytes free");
    ASSERT_NE(freeAt, std::string::npos) << text;
    int64_t freeBytes = 0;
    for (size_t i = text.rfind('\n', freeAt) + 1; i < freeAt; i++)
        if (isdigit(static_cast<unsigned char>(text[i]))) freeBytes = freeBytes * 10 + (text[i] - '0');
    ASSERT_EQ(Sh_("head -c " + std::to_string(freeBytes - 8 * 4096) + " /dev/zero >" + Q_(tmp / "filler")), 0);
    ASSERT_EQ(Sh_("MTOOLS_SKIP_CHECK=1 mcopy -i " + at + " " + Q_(tmp / "filler") + " ::/FILLER.BIN"), 0);
    const std::map<std::string, std::string> before = Tree(image);
    const Run_ r = Kvs(image, "set " + Q_(second) + " --startup --wait --off");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is full"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Tree(image), before);
    EXPECT_TRUE(Clean(image));
  }
}

// mtools refusing a write (a full image, a bad sector) is a failed command, never a stored picture.
TEST_F(DiskImageTest, AWriteMtoolsRefusesIsAFailure)
{
    const Drive_ image = Image("fat16", "refused.img");
    const std::string bin = tmp / "bin";
    fs::create_directories(bin);
    WriteWholeFile(bin + "/mcopy", "#!/bin/sh\n"
                                   "for a; do last=$a; done\n"
                                   "case $last in k:*) echo 'Disk full' >&2; exit 1;; esac\n"
                                   "exec /usr/bin/mcopy \"$@\"\n");
    fs::permissions(bin + "/mcopy", fs::perms::owner_all);
    const std::string path = getenv("PATH");
    setenv("PATH", (bin + ":" + path).c_str(), 1);
    const Run_ r = Kvs(image, "add --prefix R " + Q_(Sample("Samples--Tiles.png")));
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Disk full"), std::string::npos) << r.err;
    EXPECT_EQ(Kvs(image, "list").out, "");
    EXPECT_TRUE(Clean(image));
}

// The FAT partition may sit in any of the four slots of the partition table.
TEST_F(DiskImageTest, AFatPartitionInTheLastSlotIsFound)
{
    const Drive_ image = Image("mbr-fat32", "slot4.img");
    std::fstream disk(image.path, std::ios::in | std::ios::out | std::ios::binary);
    char slots[64];
    disk.seekg(446);
    disk.read(slots, sizeof slots);
    std::copy(slots, slots + 16, slots + 48);
    std::fill(slots, slots + 16, '\0');
    disk.seekp(446);
    disk.write(slots, sizeof slots);
    disk.close();
    const Run_ paths = Kvs(image, "paths");
    EXPECT_NE(paths.out.find("\npartition=4\n"), std::string::npos) << paths.out << paths.err;
    EXPECT_EQ(Kvs(image, "add " + Q_(Sample("Samples--Tiles.png"))).status, 0);
    EXPECT_NE(Kvs(image, "list").out, "");
}

// The program reads an image in its own process; mtools, which writes it, is the judge of what it
// holds. FAT12, FAT16 and FAT32 with long names (pattern characters, accents, spaces), names in
// lower case without a long name, attributes, nested folders, a folder over several clusters, a
// fragmented file and deleted entries: the listing, the short names (mtools finds each by it),
// the attributes and every byte agree.
TEST_F(DiskImageTest, TheProgramReadsAnImageAsMtoolsDoes)
{
    const std::string work = tmp / "parts";
    fs::create_directories(work);
    std::ofstream(work + "/small") << "hello";
    std::string big(70000, '\0'), mid(3000, '\0');
    std::mt19937 rng(7);
    for (char& c : big) c = static_cast<char>(rng());
    for (char& c : mid) c = static_cast<char>(rng());
    std::ofstream(work + "/big", std::ios::binary) << big;
    std::ofstream(work + "/mid", std::ios::binary) << mid;
    fs::create_directories(work + "/many");
    for (int i = 0; i < 60; i++) std::ofstream(work + "/many/A long picture name, number " + std::to_string(i) + ".png") << i;
    const std::vector<std::string> names = {"logo.sys", "WINDOWS/logow.sys", "WINDOWS/Mixed Case Name.Bin",
                                            "Program Files/KvsLogos/Photo [1] été.png",
                                            "Program Files/KvsLogos/photo1.png", "WINDOWS/logos.bak/RESTORE.BAT",
                                            "WINDOWS/FRAG.DAT", "Program Files/KvsLogos/Deep/er/still.txt"};
    for (const auto& [bits, kib] : {std::pair{12, 1400}, std::pair{16, 20000}, std::pair{32, 34000}}) {
        SCOPED_TRACE("FAT" + std::to_string(bits));
        Drive_ d{"fat" + std::to_string(bits), tmp / ("fat" + std::to_string(bits) + ".img"), tmp / "program"};
        const std::string at = Q_(d.path) + " ";
        const std::string m = "MTOOLS_SKIP_CHECK=1 ";
        const std::string img = "-i " + Q_(d.path) + " ";
        ASSERT_EQ(Sh_("mkfs.fat -F " + std::to_string(bits) + " -C " + at + std::to_string(kib) + " >/dev/null"), 0);
        ASSERT_EQ(Sh_(m + "mmd " + img + "::/WINDOWS ::/WINDOWS/logos.bak '::/Program Files' '::/Program Files/KvsLogos' "
                      "'::/Program Files/KvsLogos/Deep' '::/Program Files/KvsLogos/Deep/er'"), 0);
        // A file between two others is deleted, so the next one written takes its clusters and more.
        ASSERT_EQ(Sh_(m + "mcopy " + img + Q_(work + "/mid") + " ::/WINDOWS/GAP1 && " + m + "mcopy " + img + Q_(work + "/mid") +
                      " ::/WINDOWS/GAP2 && " + m + "mdel " + img + "::/WINDOWS/GAP1"), 0);
        for (const std::string& n : names) {
            const std::string from = n == "WINDOWS/FRAG.DAT" ? "big" : n.find("Mixed") != std::string::npos ? "mid" : "small";
            ASSERT_EQ(Sh_(m + "mcopy " + img + Q_(work + "/" + from) + " " + Q_("::/" + n)), 0) << n;
        }
        ASSERT_EQ(Sh_(m + "mattrib " + img + "+r +h ::/logo.sys"), 0);
        // Enough long names that the folder spans clusters and names are split across them.
        ASSERT_EQ(Sh_(m + "mcopy " + img + Q_(work) + "/many/* '::/Program Files/KvsLogos/'"), 0);

        DiskImage disk;
        DiskOpen(d.path, 0, tmp.path.string() + "/", disk);
        std::vector<DiskEntry> entries;
        DiskList(disk, "", "", true, entries);
        const std::string ours = tmp / "ours", theirs = tmp / "theirs";
        fs::remove_all(ours);
        fs::remove_all(theirs);
        fs::create_directories(ours);
        std::vector<DiskEntry> top;
        for (const DiskEntry& e : entries)
            if (e.path.find('/') == std::string::npos) top.push_back(e);
        DiskCopyOut(disk, top, ours + "/");
        std::vector<std::string> files;
        for (const DiskEntry& e : entries)
            if (!e.folder) files.push_back(e.shortPath);
        const std::vector<int> attrs = DiskGetAttrs(disk, files);
        DiskClose(disk);
        Extract(d, theirs);

        std::map<std::string, int64_t> listed, extracted;
        for (const DiskEntry& e : entries) listed[e.path] = e.folder ? -1 : e.size;
        for (const auto& e : fs::recursive_directory_iterator(theirs)) {
            const std::string rel = e.path().lexically_relative(theirs).string();
            extracted[rel] = e.is_directory() ? -1 : int64_t(e.file_size());
            if (e.is_directory()) continue;
            EXPECT_EQ(ReadWholeFile(ours + "/" + rel), ReadWholeFile(e.path().string())) << rel;
            EXPECT_EQ(fs::last_write_time(ours + "/" + rel), e.last_write_time()) << rel;
        }
        EXPECT_EQ(listed, extracted);
        EXPECT_TRUE(listed.count("logo.sys") && listed.count("Program Files/KvsLogos/Photo [1] été.png"));
        // mtools finds every file by the short path the program addresses it with.
        std::string shortArgs;
        for (const std::string& f : files) shortArgs += " " + Q_("::/" + f);
        const std::string out = tmp / "attrs.txt";
        ASSERT_EQ(Sh_(m + "mattrib " + img + shortArgs + " >" + Q_(out)), 0);
        const std::string text = ReadWholeFile(out);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), int(files.size()));
        for (size_t i = 0; i < files.size(); i++)
            EXPECT_EQ(attrs[i], files[i] == "logo.sys" ? DISK_ATTR_ARCHIVE | DISK_ATTR_READONLY | DISK_ATTR_HIDDEN : DISK_ATTR_ARCHIVE)
                << files[i];
    }
}

// The write-back writes files in the order the program wrote them, not in the order of their names:
// mcopy, seen through a stand-in on PATH that notes each call, gets them as they were written.
TEST_F(DiskImageTest, TheWriteBackFollowsTheOrderOfWrites)
{
    const Drive_ image = Image("fat16", "order.img");
    const std::string bin = tmp / "bin", calls = tmp / "calls.txt";
    fs::create_directories(bin);
    WriteWholeFile(bin + "/mcopy", "#!/bin/sh\necho \"$@\" >>" + Q_(calls) + "\nexec /usr/bin/mcopy \"$@\"\n");
    fs::permissions(bin + "/mcopy", fs::perms::owner_all);
    const std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", (bin + ":" + path).c_str(), 1);
    const char* tmpdir = getenv("TMPDIR");
    const std::string savedTmp = tmpdir ? tmpdir : "";
    setenv("TMPDIR", tmp.path.c_str(), 1);
    DriveStage stage;
    StageOpen(image.path, 0, {}, true, stage);
    const std::string win = StageWindowsDir(stage);
    for (const char* name : {"zzz.ini", "aaa.ini", "mmm.ini"}) SafeWrite(win + name, std::string(name));
    EXPECT_EQ(StageWriteBack(stage), 3);
    StageClose(stage);
    setenv("PATH", path.c_str(), 1);
    if (tmpdir) setenv("TMPDIR", savedTmp.c_str(), 1);
    else unsetenv("TMPDIR");
    const std::string log = ReadWholeFile(calls);
    const size_t z = log.find("zzz.ini"), a = log.find("aaa.ini"), m = log.find("mmm.ini");
    ASSERT_NE(m, std::string::npos) << log;
    EXPECT_LT(z, a) << log;
    EXPECT_LT(a, m) << log;
    EXPECT_TRUE(Clean(image));
}

// A damaged image whose storage folder holds a folder pointing back at the storage folder itself:
// a command says the image cannot be read instead of walking it without end.
TEST_F(DiskImageTest, AFolderPointingBackIsAnErrorNotAnEndlessWalk)
{
    const Drive_ image = Image("fat16", "loop.img");
    const std::string mmd = "MTOOLS_SKIP_CHECK=1 mmd -i " + Q_(image.path) + " ";
    Sh_(mmd + "'::/Program Files' 2>/dev/null; " + mmd + "'::/Program Files/KvsLogos' 2>/dev/null");
    ASSERT_EQ(Sh_(mmd + "'::/Program Files/KvsLogos/LOOP'"), 0);
    const int fd = open(image.path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    FatVolume v;
    FatItem bak;
    ASSERT_TRUE(FatOpen(fd, 0, static_cast<int64_t>(fs::file_size(image.path)), v));
    ASSERT_TRUE(FatFind(v, "Program Files/KvsLogos", bak));
    const int64_t dir = v.dataStart + int64_t(bak.cluster - 2) * v.clusterBytes;
    std::vector<uint8_t> entries(v.clusterBytes);
    ASSERT_EQ(pread(fd, entries.data(), entries.size(), dir), static_cast<ssize_t>(entries.size()));
    size_t at = 0;
    while (at + 32 <= entries.size() && std::memcmp(entries.data() + at, "LOOP       ", 11) != 0) at += 32;
    ASSERT_LT(at + 32, entries.size());
    const uint8_t back[2] = {static_cast<uint8_t>(bak.cluster), static_cast<uint8_t>(bak.cluster >> 8)};
    ASSERT_EQ(pwrite(fd, back, 2, dir + static_cast<int64_t>(at) + 26), 2);
    close(fd);
    const Run_ r = Kvs(image, "list");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("is damaged: a folder in Program Files/KvsLogos/LOOP leads back"), std::string::npos) << r.err;
}

// A sparse image on a host disk that fills up: the command stops before it touched the image.
TEST_F(DiskImageTest, SparseImageOnAFullHostDiskIsLeftAsItWas)
{
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    const std::string mnt = tmp / "small";
    fs::create_directories(mnt);
    if (Sh_("mount -t tmpfs -o size=24m tmpfs " + Q_(mnt) + " 2>/dev/null") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount_ {
        std::string at;
        ~Unmount_() { std::system(("umount " + at + " 2>/dev/null").c_str()); }
    } unmount{Q_(mnt)};
    Drive_ image{"fat16", mnt + "/sparse.img", tmp / "sparse-program"};
    fs::create_directories(image.program);
    ASSERT_EQ(Sh_(Q_(std::string(KVS_SOURCE_DIR) + "/scripts/make-disk-image") + " " + Q_(image.path) + " fat16"), 0);
    Sh_("dd if=/dev/zero of=" + Q_(mnt + "/filler") + " bs=64k status=none 2>/dev/null");
    const std::string before = ReadWholeFile(image.path);
    const Run_ r = Kvs(image, "add " + Q_(Sample("Samples--Tiles.png")));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.err.find("has no room"), std::string::npos) << r.err;
    EXPECT_TRUE(ReadWholeFile(image.path) == before) << "the image changed";
    EXPECT_TRUE(Clean(image));
}

// A program that has the image open without any lock (DOSBox's imgmount) keeps the program out;
// the error names it.
TEST_F(DiskImageTest, AnImageOpenElsewhereIsNamed)
{
    const Drive_ image = Image("fat16", "open.img");
    const std::string before = ReadWholeFile(image.path);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(image.path.c_str(), O_RDWR);
        dup2(fd, 3);
        execlp("sleep", "sleep", "30", nullptr);
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Run_ r = Kvs(image, "add " + Q_(Sample("Samples--Tiles.png")));
    ::kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "The disk image is in use by sleep (process " + std::to_string(pid) + "). Shut the emulator down first.\n");
    EXPECT_TRUE(ReadWholeFile(image.path) == before) << "the image changed";
    EXPECT_EQ(Kvs(image, "add " + Q_(Sample("Samples--Tiles.png"))).status, 0);
}

// A real QEMU: while kvs works on the image QEMU refuses it; after the command it is free, and
// while QEMU runs kvs refuses it in turn.
TEST_F(DiskImageTest, QemuAndKvsKeepEachOtherOut)
{
    if (Sh_("command -v qemu-system-x86_64 >/dev/null") != 0) GTEST_SKIP() << "qemu-system-x86_64 is not installed";
    const Drive_ image = Image("mbr-fat32", "qemu.img");
    const std::string qemu = "qemu-system-x86_64 -S -display none -nodefaults -drive file=" + Q_(image.path) + ",format=raw,if=ide";
    // kvs stopped in the middle of its work, holding the image.
    const std::string log = tmp / "qemu.log";
    const pid_t pid = fork();
    if (pid == 0) {
        const int nul = open("/dev/null", O_RDWR);
        dup2(nul, 0), dup2(nul, 1), dup2(nul, 2);
        setenv("KVS_PROGRAM_DIR", image.program.c_str(), 1);
        setenv("TMPDIR", tmp.path.c_str(), 1);
        unsetenv("KVS_WINDOWS_DIR");
        unsetenv("KVS_DRIVE");
        unsetenv("XDG_RUNTIME_DIR");
        const std::string kvs = std::string(KVS_BINARY_DIR) + "/kvs";
        execl(kvs.c_str(), "kvs", "--drive", image.path.c_str(), "add", Sample("Samples--Tiles.png").c_str(), nullptr);
        _exit(127);
    }
    // Wait until it holds QEMU's bytes, then stop it there.
    const int probe = open(image.path.c_str(), O_RDONLY);
    bool held = false;
    for (int i = 0; i < 500 && !held; i++) {
        struct flock fl = {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 100;
        fl.l_len = 1;
        held = fcntl(probe, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
        if (!held) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    close(probe);
    ASSERT_TRUE(held) << "kvs never locked the image";
    ::kill(pid, SIGSTOP);
    const int refused = Sh_("timeout 20 " + qemu + " >" + Q_(log) + " 2>&1");
    ::kill(pid, SIGCONT);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_NE(refused, 0) << "QEMU ran on an image kvs was writing";
    EXPECT_NE(ReadWholeFile(log).find("lock"), std::string::npos) << ReadWholeFile(log);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(Kvs(image, "list").out.find("Tiles"), std::string::npos);

    // Free again: QEMU starts and holds it, and kvs now gives the in-use text.
    const pid_t vm = fork();
    if (vm == 0) {
        execl("/bin/sh", "sh", "-c", ("exec " + qemu + " >" + Q_(log) + " 2>&1").c_str(), nullptr);
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_EQ(waitpid(vm, nullptr, WNOHANG), 0) << "QEMU refused a free image: " << ReadWholeFile(log);
    const Run_ r = Kvs(image, "add " + Q_(Sample("Samples--Waves.png")));
    ::kill(vm, SIGKILL);
    waitpid(vm, nullptr, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("in use"), std::string::npos) << r.err;
    EXPECT_EQ(Kvs(image, "list").out.find("Waves"), std::string::npos);
}

// The fixed VHD footer describes the whole disk: qemu-img sizes it by its geometry too.
TEST_F(DiskImageTest, VhdGeometryCoversTheWholeDisk)
{
    if (Sh_("command -v qemu-img >/dev/null") != 0) GTEST_SKIP() << "qemu-img is not installed";
    const Drive_ image = Image("vhd", "geometry.vhd");
    const std::string out = tmp / "info.json";
    ASSERT_EQ(Sh_("qemu-img info -f vpc --output=json " + Q_(image.path) + " >" + Q_(out)), 0);
    const std::string info = ReadWholeFile(out);
    const size_t at = info.find("\"virtual-size\":");
    ASSERT_NE(at, std::string::npos) << info;
    const int64_t virtualSize = std::stoll(info.substr(at + 15));
    EXPECT_EQ(virtualSize, static_cast<int64_t>(fs::file_size(image.path)) - 512);
    EXPECT_GE(virtualSize, 16 * 1024 * 1024);  // the file system inside
    const std::string footer = ReadWholeFile(image.path).substr(fs::file_size(image.path) - 512);
    const int64_t chs = (static_cast<unsigned char>(footer[56]) * 256 + static_cast<unsigned char>(footer[57])) *
                        static_cast<unsigned char>(footer[58]) * static_cast<unsigned char>(footer[59]) * int64_t{512};
    EXPECT_EQ(chs, virtualSize);
}

int Reloads_ = 0;
void CountReload_() { Reloads_++; }

// The window's way with an image: it holds it only while a command runs. Between commands an
// emulator can start on it (and a command then gives the in-use text); when the emulator changed
// it, the next command sees the image as it is now.
TEST_F(DiskImageTest, TheWindowLetsTheImageGoBetweenCommands)
{
    const Drive_ image = Image("fat16", "window.img");
    const std::string at = Q_(image.path + "@@0");
    std::map<std::string, std::string> saved;
    for (const char* v : {"KVS_PROGRAM_DIR", "KVS_DRIVE", "KVS_WINDOWS_DIR", "TMPDIR", "XDG_RUNTIME_DIR"})
        if (getenv(v)) saved[v] = getenv(v);
    setenv("KVS_PROGRAM_DIR", image.program.c_str(), 1);
    setenv("TMPDIR", tmp.path.c_str(), 1);
    unsetenv("KVS_DRIVE");
    unsetenv("KVS_WINDOWS_DIR");
    unsetenv("XDG_RUNTIME_DIR");
    DriveUseSetOption(image.path, 0);
    DriveUseSetReloadHook(&CountReload_);
    Reloads_ = 0;
    DriveUseOpenChosen();
    DriveUseEnd();  // as the window does once it shows the drive
    const std::string winIni = DriveResolve(SysWindowsDir() + "WIN.INI");
    ASSERT_TRUE(fs::exists(winIni)) << winIni;

    // An emulator starts meanwhile: nothing keeps it out, and the window's next command is refused.
    const bool qemu = Sh_("command -v qemu-system-x86_64 >/dev/null") == 0;
    pid_t vm = -1;
    int lockFd = -1;
    if (qemu) {
        vm = fork();
        if (vm == 0) {
            const int nul = open("/dev/null", O_RDWR);
            dup2(nul, 1), dup2(nul, 2);
            execlp("qemu-system-x86_64", "qemu-system-x86_64", "-S", "-display", "none", "-nodefaults", "-drive",
                   ("file=" + image.path + ",format=raw,if=ide").c_str(), nullptr);
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ASSERT_EQ(waitpid(vm, nullptr, WNOHANG), 0) << "QEMU refused an image the window had let go";
    } else {
        lockFd = HoldAsQemu_(image.path);
        ASSERT_GE(lockFd, 0);
    }
    std::string refused;
    try {
        MonBlock([] { DriveUseBegin(); });
    } catch (const std::exception& e) {
        refused = e.what();
        MonClearError();
    }
    if (vm > 0) {
        ::kill(vm, SIGKILL);
        waitpid(vm, nullptr, 0);
    }
    if (lockFd >= 0) close(lockFd);
    EXPECT_NE(refused.find("The disk image is in use by"), std::string::npos) << refused;

    // Windows ran in the emulator and changed WIN.INI: the next command reads it anew.
    WriteWholeFile(tmp / "WIN.INI", "[windows]\r\nrun=changed by Windows\r\n");
    ASSERT_EQ(Sh_("MTOOLS_SKIP_CHECK=1 mcopy -o -i " + at + " " + Q_(tmp / "WIN.INI") + " ::/WINDOWS/WIN.INI"), 0);
    MonBlock([] { DriveUseBegin(); });
    EXPECT_EQ(Reloads_, 1);
    EXPECT_NE(ReadWholeFile(DriveResolve(SysWindowsDir() + "WIN.INI")).find("changed by Windows"), std::string::npos);
    // What the command writes reaches the image when it ends, and the image is free again.
    const std::string note = "written by a command of the window";
    WriteWholeFile(SysWindowsDir() + "note.txt", note);
    MonBlock([] { DriveUseEnd(); });
    const int probe = open(image.path.c_str(), O_RDWR);
    EXPECT_EQ(flock(probe, LOCK_EX | LOCK_NB), 0) << "the image is still held";
    close(probe);
    EXPECT_EQ(Tree(image)["windows/note.txt"], std::to_string(note.size()) + ":" + std::to_string(std::hash<std::string>()(note)));
    EXPECT_TRUE(Clean(image));

    DriveUseClose();
    DriveUseSetReloadHook(nullptr);
    DriveUseSetOption("", 0);
    for (const char* v : {"KVS_PROGRAM_DIR", "KVS_DRIVE", "KVS_WINDOWS_DIR", "TMPDIR", "XDG_RUNTIME_DIR"}) {
        if (saved.count(v)) setenv(v, saved[v].c_str(), 1);
        else unsetenv(v);
    }
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
