#include <gtest/gtest.h>

#include "base/CharSet.h"
#include "core/Names.h"

TEST(Names, SeparatorSplitsPrefixAndRest)
{
    EXPECT_EQ(SeparatorPos("Sea--Dawn.png", false), 3);
    EXPECT_EQ(SeparatorPos("Sea--Dawn.png", true), 5);
    EXPECT_EQ(NameBeforeSeparator("Sea--Dawn.png", false), "Sea");
    EXPECT_EQ(NameAfterSeparator("Sea--Dawn.png", true), "Dawn.png");
    // Only the first "--" separates.
    EXPECT_EQ(NameAfterSeparator("a--b--c.png", true), "b--c.png");
    EXPECT_EQ(NameBeforeSeparator("a--b--c.png", false), "a");
}

TEST(Names, NamesWithoutUsablePrefix)
{
    // No separator: empty prefix, the rest is the whole name.
    EXPECT_EQ(NameBeforeSeparator("Plain.png", false), "");
    EXPECT_EQ(NameAfterSeparator("Plain.png", true), "Plain.png");
    // Leading separator: empty prefix, the rest behind it.
    EXPECT_EQ(NameBeforeSeparator("--Dawn.png", false), "");
    EXPECT_EQ(NameAfterSeparator("--Dawn.png", true), "Dawn.png");
    // Trailing separator: the rest is the whole name.
    EXPECT_EQ(NameAfterSeparator("Sea--", true), "Sea--");
    EXPECT_EQ(NameBeforeSeparator("Sea--", false), "Sea");
    EXPECT_EQ(SeparatorPos("", true), 0);
    EXPECT_EQ(SeparatorPos("--", false), 0);
}

TEST(Names, RemoveAllTakesFirstOccurrenceEachTime)
{
    EXPECT_EQ(RemoveAll("a---b", "--"), "a-b");
    EXPECT_EQ(RemoveAll("----", "--"), "");
    EXPECT_EQ(RemoveAll("x-----y", "--"), "x-y");
    EXPECT_EQ(RemoveAll("abc", ""), "abc");
    // Removing can join two halves into a new occurrence, which goes too.
    EXPECT_EQ(RemoveAll("aabb", "ab"), "");
}

TEST(Names, SanitizeCharsReplacesForbiddenAndTrims)
{
    EXPECT_EQ(SanitizeChars("  a\\b/c:d*e?f\"g<h>i|j \t"), "a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ(SanitizeChars("keep--this"), "keep--this");
    EXPECT_EQ(SanitizeChars("   "), "");
}

TEST(Names, SanitizeName)
{
    EXPECT_EQ(SanitizeName("a:b--c", false), "a_bc");
    EXPECT_EQ(SanitizeName("   ", false), "MyPicture");
    EXPECT_EQ(SanitizeName("", true), "MyPicture--");
    EXPECT_EQ(SanitizeName("x---y", false), "x-y");
    EXPECT_EQ(SanitizeName(" Sea ", true), "Sea--");
    EXPECT_EQ(SanitizeName("--", false), "MyPicture");
}

TEST(Names, LongPrefixesLeaveRoomForThePicturesOwnName)
{
    const std::string prefix(123, 'p');
    const std::string a = NameJoinPrefix(prefix, "Holiday at the sea in summer, first day.png", 127);
    const std::string b = NameJoinPrefix(prefix, "Holiday at the sea in summer, second day.png", 127);
    EXPECT_NE(a, b) << "two pictures got one stored name";
    for (const std::string& n : {a, b}) {
        EXPECT_LE(n.size(), 127u);
        EXPECT_EQ(n.substr(n.size() - 4), ".png");
        EXPECT_GE(NameAfterSeparator(n, true).size(), 32u + 4u) << n;
    }
    EXPECT_EQ(NameJoinPrefix("Sea", "Dawn.png", 127), "Sea--Dawn.png");

    // Cuts fall between characters: three-byte characters in the prefix and the name.
    std::string wide;
    for (int i = 0; i < 60; ++i) wide += "\xE2\x82\xAC";  // the euro sign
    for (size_t max : {127u, 126u, 125u, 64u}) {
        const std::string n = NameJoinPrefix(wide, wide + ".png", max);
        EXPECT_LE(n.size(), max);
        EXPECT_TRUE(CharIsUtf8(n)) << max;
        EXPECT_TRUE(CharIsUtf8(NameCutUtf8(wide, max)));
    }
}
