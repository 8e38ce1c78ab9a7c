#include "base/Basic.h"
#include "base/Mon.h"
#include "base/SafeFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

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
