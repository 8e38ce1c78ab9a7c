#include "base/Basic.h"
#include "base/Mon.h"
#include "base/SafeFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

// The system calls a durable replace depends on, seen from inside: every fsync and rename of this
// test program is logged, and a rename can be made to fail.
namespace {
std::vector<std::string> calls_;
int failRenames_ = 0;
}  // namespace

extern "C" int fsync(int fd)
{
    static auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    struct stat st;
    const bool file = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    calls_.push_back(file ? "fsync file " + std::to_string(st.st_ino) : "fsync folder");
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept
{
    static auto real = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"));
    struct stat st;
    calls_.push_back("rename " + std::to_string(stat(from, &st) == 0 ? st.st_ino : 0));
    if (failRenames_ > 0) {
        --failRenames_;
        errno = EIO;
        return -1;
    }
    return real(from, to);
}

namespace {

// Whether body raised a monitor error; the error is cleared.
template <class F> bool Raises(F&& body)
{
    bool raised = false;
    try {
        MonBlock(body);
    } catch (const EMon&) {
        raised = true;
    }
    MonClearError();
    return raised;
}

int FilesIn(const TempDir& dir)
{
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir.path), std::filesystem::directory_iterator()));
}

}  // namespace

TEST(SafeFile, CloseAndWriteFailuresAreErrorsThatChangeNothing)
{
    // The data of a small write reaches the device only at the close: a full device fails there.
    EXPECT_TRUE(Raises([] {
        int h = Undef;
        FOpen(h, "/dev/full", FM_CREATE | FM_WRITE);
        FWrite(h, "0123456789", 10);
        FClose(h);
    }));
    EXPECT_EQ(FileCount(), 0);

    TempDir dir;
    const std::string target = dir / "headers.dat";
    WriteWholeFile(target, "old");
    EXPECT_TRUE(Raises([&] {
        SafeWriteWith(target, [](const std::string& temp) {
            int h = Undef;
            FOpen(h, temp, FM_CREATE | FM_WRITE);
            FWrite(h, "new, cut short", 14);
            FClose(h);
            MonError(EC_FILE, 4, __LINE__);
        });
    }));
    EXPECT_EQ(ReadWholeFile(target), "old");
    EXPECT_EQ(FilesIn(dir), 1) << "the temporary file stayed";

    EXPECT_TRUE(Raises([&] { SafeWrite(dir / "no-such-folder/x", "data"); }));
    ASSERT_FALSE(Raises([&] { SafeWrite(target, "new"); }));
    EXPECT_EQ(ReadWholeFile(target), "new");
    EXPECT_EQ(FilesIn(dir), 1);
}

TEST(SafeFile, ReplacesDurablyKeepingTheModeAndReportsAFailedRename)
{
    TempDir dir;
    const std::string target = dir / "Kvs.ini";
    const mode_t oldMask = umask(022);
    ASSERT_FALSE(Raises([&] { SafeWrite(target, "first"); }));
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "a new file gets the usual mode, readable by the emulator's user";

    chmod(target.c_str(), 0640);
    calls_.clear();
    ASSERT_FALSE(Raises([&] { SafeWrite(target, "second"); }));
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "a replaced file keeps its mode";
    // The new bytes reach the disk before the name points at them.
    const std::string renamed = "rename " + std::to_string(st.st_ino);
    const auto at = std::find(calls_.begin(), calls_.end(), renamed);
    ASSERT_NE(at, calls_.end());
    EXPECT_NE(std::find(calls_.begin(), at, "fsync file " + std::to_string(st.st_ino)), at);

    failRenames_ = 1;
    EXPECT_TRUE(Raises([&] { SafeWrite(target, "third"); }));
    failRenames_ = 0;
    EXPECT_EQ(ReadWholeFile(target), "second");
    EXPECT_EQ(FilesIn(dir), 1) << "the temporary file stayed";
    umask(oldMask);
}
