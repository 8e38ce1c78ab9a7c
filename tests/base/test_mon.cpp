#include "base/Basic.h"
#include "base/Mon.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

void OpenMissing(const std::string& name)
{
    MonBlock([&] {
        int h = 0;
        FOpen(h, name, FM_READ);
        ADD_FAILURE() << "FOpen did not raise inside a block";
    });
}

}  // namespace

TEST(Monitor, InnermostErrorSurfacesOnceAndReleasesInnerResources)
{
    TempDir dir;
    uint8_t* outside = nullptr;
    MemAllocT(&outside, 50);
    int keptFile = 0;
    FOpen(keptFile, dir / "kept", FM_CREATE);
    int memBefore = MemCount(), filesBefore = FileCount();
    std::string missing = dir / "nothing.here";
    int caught = 0;
    std::string text;
    uint8_t *a = nullptr, *b = nullptr;
    try {
        MonBlock([&] {
            MemAllocT(&a, 1000);
            int h = 0;
            FOpen(h, dir / "inner1", FM_CREATE);
            MonBlock([&] {
                MemAllocT(&b, 1000);
                MonBlock([&] { OpenMissing(missing); });
            });
        });
    } catch (const EMon& e) {
        ++caught;
        text = e.what();
    }
    EXPECT_EQ(caught, 1);
    EXPECT_EQ(text, "Cannot open file: " + missing);
    EXPECT_EQ(MonDepth(), 0);
    EXPECT_EQ(MemCount(), memBefore);
    EXPECT_EQ(FileCount(), filesBefore);
    EXPECT_TRUE(MemIsRegistered(reinterpret_cast<void**>(&outside)));
    EXPECT_FALSE(MemIsRegistered(reinterpret_cast<void**>(&a)));
    MemFreeT(&outside);
    FClose(keptFile);
}

TEST(Monitor, TransparentBlockStopsTheErrorAndKeepsOuterMemory)
{
    TempDir dir;
    uint8_t* kept = nullptr;
    bool continued = false;
    MonBlock([&] {
        MemAllocT(&kept, 64);
        MonBlockTransparent([&] {
            int h = 0;
            FOpen(h, dir / "missing", FM_READ);
        });
        continued = true;
        EXPECT_FALSE(MonOK());
        EXPECT_EQ(MonErrorText(), "Cannot open file: " + dir / "missing");
    });
    EXPECT_TRUE(continued);
    EXPECT_TRUE(MemIsRegistered(reinterpret_cast<void**>(&kept)));
    MemFreeT(&kept);
    MonBegin();  // the next block clears it
    EXPECT_TRUE(MonOK());
    MonEnd();
}

TEST(Monitor, ExitIsQuietAndParentStillRaisesLaterErrors)
{
    bool after = false;
    EXPECT_NO_THROW(MonBlock([&] {
        MonBlock([&] {
            MonExit();
            after = true;
        });
    }));
    EXPECT_FALSE(after);
    EXPECT_TRUE(MonOK());
    EXPECT_THROW(MonBlock([&] {
        MonBlock([&] { MonExit(); });
        MonError(EC_IMAGE, IE_INVALID_FORMAT, __LINE__);
    }),
                 EMon);
}

TEST(Monitor, ForeignExceptionBecomesClassThree)
{
    std::string text;
    uint8_t* p = nullptr;
    int before = MemCount();
    try {
        MonBlock([&] {
            MemAllocT(&p, 10);
            throw std::out_of_range("index 7 past the end");
        });
    } catch (const EMon& e) {
        text = e.what();
    }
    EXPECT_EQ(MonErrorClass(), EC_FOREIGN);
    EXPECT_NE(text.find("index 7 past the end"), std::string::npos);
    EXPECT_EQ(MemCount(), before);
}

TEST(Monitor, OutsideABlockErrorsAreRecordedNotRaised)
{
    EXPECT_NO_THROW(MonError(EC_IMAGE, IE_DECOMPRESS, __LINE__));
    EXPECT_EQ(MonErrorText(), "Cannot decompress image data.");
    MonClearError();
    EXPECT_TRUE(MonOK());
    MonWarning(EC_FILE, 8, __LINE__);
    EXPECT_EQ(MonWarningCode(), 8);
    EXPECT_TRUE(MonOK());
    try {
        MonBlock([] { MonErrorMsg(EC_CODEC, "libtiff: bad strip", __LINE__); });
        ADD_FAILURE() << "no raise";
    } catch (const EMon& e) {
        EXPECT_STREQ(e.what(), "libtiff: bad strip");
    }
}

TEST(Monitor, MessageTable)
{
    EXPECT_EQ(MonMessage(6, 3), "Cannot read from file.");
    EXPECT_EQ(MonMessage(99, 5), "Undefined error: 99:5");
    EXPECT_EQ(MonMessage(7, 0), "No errors.");
    EXPECT_EQ(MonMessage(7, 42), "General image handling fault.");
    EXPECT_EQ(MonMessage(14, 1), "Invalid movie format.");
    EXPECT_EQ(MonMessage(12, 7), "End of movie reached.");
    EXPECT_EQ(MonMessage(4, 9), "General \"GEN\" error.");
    EXPECT_EQ(MonMessage(10, 4), "AVI subsystem malfunction: 4");
}

TEST(Trace, LogFormatWhenSwitchedOn)
{
    TempDir dir;
    TraceSetFile(dir / "trace.txt");
    TraceSetEnabled(true);
    {
        TRACE("Unit.Outer");
        TRACE("Unit.Inner");
        MonError(EC_IMAGE, IE_HEADER, 77);
    }
    TraceSetEnabled(false);
    std::string log = ReadWholeFile(dir / "trace.txt");
    EXPECT_EQ(log.rfind("!7:4;\"Image header invalid.\"\r\n@Unit.Outer:Unit.Inner;77\r\n#Physical memory:\r\n", 0), 0u)
        << log;
    EXPECT_NE(log.find("#Swap memory:"), std::string::npos);
    MonClearError();
}
