#include "base/Basic.h"
#include "base/Mon.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

TEST(Memory, SlackAndResizeKeepContent)
{
    uint8_t* p = nullptr;
    int before = MemCount();
    ASSERT_EQ(MemAllocT(&p, 100), 0);
    EXPECT_EQ(MemSize(reinterpret_cast<void**>(&p)), 108);
    EXPECT_EQ(MemCount(), before + 1);
    for (int i = 0; i < 100; ++i) p[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(MemAllocT(&p, 10000), 0);  // same owner: resized in place of the old one
    EXPECT_EQ(MemCount(), before + 1);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], i);
    MemFreeT(&p);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(MemCount(), before);
    MemFreeT(&p);  // a nil variable is left alone
    EXPECT_EQ(MemCount(), before);

    ASSERT_EQ(MemAllocT(&p, 10), 0);
    EXPECT_EQ(MemSize(reinterpret_cast<void**>(&p)), 12);  // 10.5 rounds to 10, then up to 12
    MemFreeT(&p);
}

TEST(Memory, InvalidRequestAndExchange)
{
    uint8_t* p = nullptr;
    EXPECT_EQ(MemAllocT(&p, 0), 5);
    EXPECT_EQ(MonMessage(5, 5), "Invalid memory request.");
    uint8_t *a = nullptr, *b = nullptr;
    MemAllocT(&a, 8);
    MemAllocT(&b, 400);
    void* blockA = a;
    void* blockB = b;
    MemXchg(reinterpret_cast<void**>(&a), reinterpret_cast<void**>(&b));
    std::swap(a, b);
    EXPECT_EQ(a, blockB);
    EXPECT_TRUE(MemIsRegistered(reinterpret_cast<void**>(&a)));
    EXPECT_EQ(MemSize(reinterpret_cast<void**>(&a)), 420);
    MemFreeT(&a);
    MemFreeT(&b);
    EXPECT_NE(blockA, nullptr);
    // A copy of a registered address in another variable is not registered under it.
    uint8_t* c = nullptr;
    MemAllocT(&c, 16);
    uint8_t* alias = c;
    EXPECT_FALSE(MemIsRegistered(reinterpret_cast<void**>(&alias)));
    MemFreeT(&alias);
    EXPECT_TRUE(MemIsRegistered(reinterpret_cast<void**>(&c)));
    MemFreeT(&c);
}

TEST(Files, OpenCreateReadAndHandles)
{
    TempDir dir;
    int h = 0;
    EXPECT_EQ(FOpen(h, dir / "missing.bin", FM_READ), 1);
    EXPECT_EQ(h, Undef);
    EXPECT_EQ(MonErrorText(), "Cannot open file: " + dir / "missing.bin");

    int h1 = 0, h2 = 0;
    ASSERT_EQ(FOpen(h1, dir / "a.bin", FM_CREATE), 0);
    ASSERT_EQ(FWrite(h1, "hello", 5), 0);
    EXPECT_EQ(FSize(h1), 5);
    FClose(h1);
    ASSERT_EQ(FOpen(h2, dir / "a.bin", FM_READ), 0);
    EXPECT_GT(h2, h1);  // never reused
    char buf[8] = {};
    EXPECT_EQ(FRead(h2, buf, 3), 0);
    EXPECT_EQ(FPos(h2), 3);
    EXPECT_EQ(FRead(h2, buf, 5), 3);  // more than remains
    EXPECT_EQ(MonErrorText(), "Cannot read from file.");
    int64_t got = 0;
    FSeek(h2, 1);
    FReadPart(h2, buf, 100, got);
    EXPECT_EQ(got, 4);
    FClose(h2);
    EXPECT_EQ(FSize(h2), Undef);
    EXPECT_EQ(FRead(h2, buf, 1), 0);  // unknown handle: nothing

    int h3 = 0;
    ASSERT_EQ(FOpen(h3, dir / "a.bin", FM_APPEND | FM_WRITE), 0);
    FWrite(h3, "!", 1);
    FClose(h3);
    EXPECT_EQ(ReadWholeFile(dir / "a.bin"), "hello!");
}

TEST(Files, TableFullAndDelete)
{
    TempDir dir;
    std::vector<int> handles;
    int start = FileCount();
    for (int i = start; i < FILE_MAX_ENTRIES; ++i) {
        int h = 0;
        ASSERT_EQ(FOpen(h, dir / ("f" + std::to_string(i)), FM_CREATE), 0);
        handles.push_back(h);
    }
    int h = 0;
    EXPECT_EQ(FOpen(h, dir / "one-too-many", FM_CREATE), 11);
    EXPECT_EQ(MonErrorText(), "Fatal file manager fault.");
    for (int x : handles) FClose(x);
    EXPECT_EQ(FileCount(), start);

    std::string ro = dir / "ro.txt";
    WriteWholeFile(ro, "x");
    std::filesystem::permissions(ro, std::filesystem::perms::owner_read);
    EXPECT_EQ(FDelete(ro), 0);
    EXPECT_FALSE(std::filesystem::exists(ro));
    EXPECT_EQ(FDelete(dir / "never-there"), 0);
}

TEST(Files, TextLinesEndInCrLf)
{
    TempDir dir;
    int h = 0;
    ASSERT_EQ(TXTOpen(h, dir / "t.txt", FM_CREATE), 0);
    TXTWrite(h, "one");
    TXTWrite(h, "");
    TXTClose(h);
    ASSERT_EQ(TXTOpen(h, dir / "t.txt", FM_APPEND), 0);
    TXTWrite(h, "two");
    TXTClose(h);
    EXPECT_EQ(ReadWholeFile(dir / "t.txt"), "one\r\n\r\ntwo\r\n");
    ASSERT_EQ(TXTOpen(h, dir / "t.txt", 0), 0);
    std::string line;
    std::vector<std::string> lines;
    while (TXTReadLn(h, line)) lines.push_back(line);
    TXTClose(h);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "", "two"}));
    EXPECT_EQ(TXTOpen(h, (dir.path / "nope" / "t.txt").string(), FM_CREATE), 2);
}

TEST(Helpers, NumbersAndBytes)
{
    EXPECT_EQ(NumToStr(0, 1234567), "1234567");
    EXPECT_EQ(NumToStr(5, 42), "   42");
    EXPECT_EQ(NumToStr(100, 1234567), "1,234,567");
    EXPECT_EQ(NumToStr(108, 1234), "   1,234");
    EXPECT_EQ(NumToStr(204, 7), "0007");
    EXPECT_EQ(NumToStr(202, 12345), "12345");  // never cut
    EXPECT_EQ(NumToStr(0, static_cast<uint32_t>(-1)), "4294967295");
    EXPECT_EQ(StrToNum("123"), 123);
    EXPECT_EQ(ClampInt(5, 6, 72), 6);
    EXPECT_EQ(ClampInt(99, 6, 72), 72);
    EXPECT_EQ(Swap16(0x1234), 0x3412);
    EXPECT_EQ(Swap32(0x11223344u), 0x44332211u);
    const char buf[] = "abcabdabe";
    EXPECT_EQ(FindBytes(1, 9, 3, buf, "abe"), 7);
    EXPECT_EQ(FindBytes(3, 9, 3, buf, "abe"), 3);
    EXPECT_EQ(FindBytes(2, 9, 3, buf, "abe"), 4);
    EXPECT_EQ(FindBytes(4, 9, 3, buf, "abe"), 0);
    char mv[] = "123456";
    MoveMem(4, mv + 2, mv);
    EXPECT_STREQ(mv, "121234");
    std::string f;
    FloatToStrW(3.14159, 6, 2, f);
    EXPECT_EQ(f, "  3.14");
}
