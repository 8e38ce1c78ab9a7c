// Finding the Windows drives of a made-up home folder and mount table through the built kvs:
// what is listed, in which order and with which fields, what is refused or left out, that the
// figures agree with mtools, that --drive takes a listed number, and that the search keeps to
// its time limit and writes nothing.
#include <gtest/gtest.h>

#include <regex>

#include "platform/DriveFind.h"
#include "support/MadeUpHome.h"
#include "support/RunProgram.h"
#include "support/TempEnv.h"

namespace {

namespace fs = std::filesystem;

std::string Field(const std::string& object, const std::string& key)
{
    std::smatch m;
    const std::regex re("\"" + key + "\": (\"(?:[^\"\\\\]|\\\\.)*\"|[^,}]*)");
    return std::regex_search(object, m, re) ? m[1].str() : "<missing>";
}

std::vector<std::string> Objects(const std::string& json)
{
    std::vector<std::string> out;
    std::istringstream in(json);
    for (std::string line; std::getline(in, line);)
        if (line.find('{') != std::string::npos) out.push_back(line);
    return out;
}

// What mtools says of the file system: free bytes and volume label.
int64_t MtoolsFree(const std::string& at)
{
    TempDir t;
    MadeUpHome::Sh("MTOOLS_SKIP_CHECK=1 mdir -i " + MadeUpHome::Q(at) + " ::/ >" + MadeUpHome::Q(t / "o") + " 2>&1");
    std::smatch m;
    std::string text = ReadWholeFile(t / "o");
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return std::regex_search(text, m, std::regex("([0-9]+)bytesfree")) ? std::stoll(m[1].str()) : -2;
}

// Every file below dir with its modification time and size.
std::map<std::string, std::string> Stamps(const std::string& dir)
{
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(dir, fs::directory_options::none); it != fs::recursive_directory_iterator(); ++it) {
        struct stat st;
        if (lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
            out[it->path().string()] = std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_size);
        if (it->is_symlink()) it.disable_recursion_pending();
    }
    return out;
}

TEST(DrivesTest, FindsTheWindowsDrivesOfEmulatorsAndMountsInOrderAndRefusesWhatNeedsConverting)
{
    TempEnv env;
    MadeUpHome h;
    const auto before = Stamps(h.home);

    const RunResult r = RunProgram(env, "kvs", "drives --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> obj = Objects(r.out);
    const std::string mnt = h.tmp / "mnt";
    const std::vector<std::pair<std::string, std::string>> expected = {
        {mnt + "/c", "Windows 95"},
        {mnt + "/win me", "Windows Me"},
        {h.home + "/.local/share/86Box/Windows 95/hdd.img", "Windows 95"},
        {h.home + "/.local/share/gnome-boxes/images/win98", "Windows 98"},
        {h.home + "/VirtualBox VMs/w98/w98.vhd", "Windows 98 Second Edition"},
        {h.home + "/vms/w98/disk.img", "Windows 98"},
        {h.home + "/.local/share/libvirt/images/win98.qcow2", ""},
    };
    ASSERT_EQ(obj.size(), expected.size()) << r.out;
    const char* kinds[] = {"mounted", "mounted", "fat", "fat", "vhd", "mbr", "qcow2"};
    const char* places[] = {"mount table", "mount table", "86Box", "GNOME Boxes", "VirtualBox", "home folder", "QEMU/libvirt"};
    for (size_t i = 0; i < obj.size(); i++) {
        SCOPED_TRACE(obj[i]);
        EXPECT_EQ(Field(obj[i], "number"), std::to_string(i + 1));
        EXPECT_EQ(Field(obj[i], "path"), "\"" + expected[i].first + "\"");
        EXPECT_EQ(Field(obj[i], "windows"), "\"" + expected[i].second + "\"");
        EXPECT_EQ(Field(obj[i], "kind"), std::string("\"") + kinds[i] + "\"");
        EXPECT_EQ(Field(obj[i], "place"), std::string("\"") + places[i] + "\"");
        EXPECT_EQ(Field(obj[i], "current"), "false");
        EXPECT_EQ(Field(obj[i], "usable"), i + 1 < obj.size() ? "true" : "false");
    }
    EXPECT_EQ(Field(obj[5], "partition"), "1");
    EXPECT_NE(Field(obj[6], "problem").find("is a QCOW2 file."), std::string::npos);
    EXPECT_NE(Field(obj[6], "problem").find("qemu-img convert -O raw"), std::string::npos);
    // Label, size and free space as mtools reads the same file systems.
    for (size_t i : {2u, 5u}) {
        const std::string image = expected[i].first;
        EXPECT_EQ(Field(obj[i], "label"), "\"WIN98\"");
        EXPECT_EQ(Field(obj[i], "free"), std::to_string(MtoolsFree(MadeUpHome::At(image))));
    }
    EXPECT_EQ(Field(obj[2], "size"), std::to_string(16 * 1024 * 1024));
    EXPECT_EQ(Field(obj[5], "size"), std::to_string(39 * 1024 * 1024));
    EXPECT_EQ(Stamps(h.home), before);

    // A listed number opens that drive and is marked current; the refused one and one beyond the
    // list fail with their reasons.
    const RunResult five = RunProgram(env, "kvs", "--drive 5 drives");
    ASSERT_EQ(five.status, 0) << five.err;
    EXPECT_NE(five.out.find("*5\t" + expected[4].first + "\tFixed VHD\tWindows 98 Second Edition\tWIN98\t16.0 MB\t"),
              std::string::npos)
        << five.out;
    EXPECT_EQ(std::count(five.out.begin(), five.out.end(), '*'), 1);
    const RunResult paths = RunProgram(env, "kvs", "--drive 6 paths");
    EXPECT_NE(paths.out.find("drive=" + expected[5].first + "\npartition=1\n"), std::string::npos) << paths.out << paths.err;
    const RunResult refused = RunProgram(env, "kvs", "--drive 7 list");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("is a QCOW2 file."), std::string::npos) << refused.err;
    const RunResult beyond = RunProgram(env, "kvs", "--drive 8 list");
    EXPECT_EQ(beyond.status, 1);
    EXPECT_NE(beyond.err.find("no drive number 8"), std::string::npos) << beyond.err;

    // An added folder is searched from then on, before the home folder: the mounted Windows
    // drives in it are not walked again, a mounted FAT stick without Windows is.
    fs::copy_file(expected[2].first, h.tmp / "mnt/no windows/copy.img");
    const RunResult added = RunProgram(env, "kvs", "drives --add " + MadeUpHome::Q(h.tmp / "mnt"));
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_NE(added.out.find(" 6\t" + (h.tmp / "mnt/no windows/copy.img")), std::string::npos) << added.out;
    EXPECT_NE(added.out.find(" 8\t" + expected[6].first), std::string::npos) << added.out;
}

TEST(DrivesTest, SearchStopsAtItsTimeLimitOnALargeTree)
{
    TempDir tmp;
    // 10 000 files three levels deep, a tenth of them named like disk images; the Windows image
    // sits in the last folder of the walk.
    const std::string big = tmp / "big";
    for (int a = 0; a < 20; a++)
        for (int b = 0; b < 10; b++) {
            const std::string dir = big + "/a" + std::to_string(a) + "/b" + std::to_string(b);
            fs::create_directories(dir);
            for (int f = 0; f < 50; f++) {
                const std::string file = dir + "/f" + std::to_string(f) + (f % 10 ? ".txt" : ".img");
                WriteWholeFile(file, "");
                if (f % 10 == 0) fs::resize_file(file, 70000);  // big enough to be opened, holes only
            }
        }
    MadeUpHome::MakeImage(big + "/a9/b9/zz.img", "fat16", "");
    DrivePlaces places;
    places.mountTable = tmp / "no-mountinfo";
    places.places = {{"home folder", big, 3, false}};
    places.timeLimitMs = 60000;
    const DriveSearch all = DriveFindAll(places);
    EXPECT_FALSE(all.timedOut);
    ASSERT_EQ(all.drives.size(), 1u);
    EXPECT_EQ(all.drives[0].path, big + "/a9/b9/zz.img");

    // Out of time before the first look: nothing is looked at, and the caller is told.
    places.timeLimitMs = 0;
    const DriveSearch cut = DriveFindAll(places);
    EXPECT_TRUE(cut.timedOut);
    EXPECT_TRUE(cut.drives.empty());
}

}  // namespace
