// kvs on drives as Windows 98 leaves them: names in capitals, Windows paths in Windows files,
// the drive as the unit that settings, backups and the store follow.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/FileAttr.h"
#include "support/RealDrive.h"
#include "support/RunProgram.h"
#include "support/TempEnv.h"

namespace fs = std::filesystem;

namespace {

const std::string kSample = std::string(KVS_SOURCE_DIR) + "/data/samples/Samples--Tiles.png";

void Le32(std::string& s, uint32_t v)
{
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A gallery record as the format has it: size, short-text name, length, positions, flags, data.
std::string GalleryRecord(const std::string& name, const std::string& data)
{
    std::string r;
    Le32(r, 148);
    std::string text(128, '\0');
    text[0] = static_cast<char>(name.size());
    text.replace(1, name.size(), name);
    r += text;
    Le32(r, static_cast<uint32_t>(data.size()));
    Le32(r, 7);
    Le32(r, 0);
    Le32(r, 0);
    return r + data;
}

class RealDriveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RealDrive::Make(Root());
        AddSample(Root());
    }
    std::string Root() const { return (env.root / "drive_c").string() + "/"; }
    static void AddSample(const std::string& root)
    {
        fs::create_directories(root + "Program Files/KvsLogos");
        fs::copy_file(kSample, root + "Program Files/KvsLogos/Samples--Tiles.png");
    }
    // kvs on the drive with that root.
    RunResult KvsOn(const std::string& root, const std::string& args)
    {
        const std::string own = env.win;
        env.win = root + "WINDOWS/";
        RunResult r = RunProgram(env, "kvs", args);
        env.win = own;
        return r;
    }
    RunResult Kvs(const std::string& args) { return KvsOn(Root(), args); }
    TempEnv env;
};

}  // namespace

TEST_F(RealDriveTest, InstallReplacesWindowsOwnLogosInPlaceAndRestoreBringsThemBack)
{
    const std::string root = Root(), win = root + "WINDOWS/";
    const std::string wait = TempEnv::Read(win + "LOGOW.SYS"), off = TempEnv::Read(win + "LOGOS.SYS");
    const std::string msdos = TempEnv::Read(root + "MSDOS.SYS");
    const int attrs = FileGetAttr(root + "MSDOS.SYS");

    RunResult r = Kvs("inst");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(RealDrive::CountNamed(win, "logow.sys"), 1);
    EXPECT_EQ(RealDrive::CountNamed(win, "logos.sys"), 1);
    EXPECT_EQ(RealDrive::CountNamed(win, "win.ini"), 1);
    EXPECT_EQ(RealDrive::CountNamed(root, "msdos.sys"), 1);
    EXPECT_EQ(fs::file_size(root + "logo.sys"), 129078u);
    for (const char* name : {"LOGOW.SYS", "LOGOS.SYS"}) {
        const std::string now = TempEnv::Read(win + name);
        EXPECT_EQ(now.size(), 129078u) << name;
        EXPECT_TRUE(now != (name[4] == 'W' ? wait : off)) << name;
    }
    std::string expected = msdos;
    expected.replace(expected.find("Logo=0"), 6, "Logo=1");
    EXPECT_EQ(TempEnv::Read(root + "MSDOS.SYS"), expected);
    EXPECT_EQ(FileGetAttr(root + "MSDOS.SYS"), attrs);

    const std::string bak = win + "logos.bak/";
    EXPECT_TRUE(TempEnv::Read(bak + "logo1.bmp") == wait);
    EXPECT_TRUE(TempEnv::Read(bak + "logo2.bmp") == off);
    EXPECT_EQ(TempEnv::Read(bak + "restore.bat"),
              "REM --------------------------------------------\r\n"
              "REM  Run this file to restore previous logos.\r\n"
              "REM --------------------------------------------\r\n"
              "\r\n"
              "del  \"C:\\logo.sys\"\r\n"
              "copy \"C:\\WINDOWS\\logos.bak\\logo1.bmp\" \"C:\\WINDOWS\\LOGOW.SYS\"\r\n"
              "copy \"C:\\WINDOWS\\logos.bak\\logo2.bmp\" \"C:\\WINDOWS\\LOGOS.SYS\"\r\n");
    const std::string ini = TempEnv::Read(env.prog + "Kvs.ini");
    EXPECT_NE(ini.find("\r\nLogoFile1=C:\\WINDOWS\\LOGOW.SYS\r\n"), std::string::npos) << ini;
    EXPECT_NE(TempEnv::Read(win + "WIN.INI").find("\r\nKvs-StorageDir=C:\\Program Files\\KvsLogos\\\r\n"),
              std::string::npos);

    r = Kvs("--yes restore");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(TempEnv::Read(win + "LOGOW.SYS") == wait);
    EXPECT_TRUE(TempEnv::Read(win + "LOGOS.SYS") == off);
    EXPECT_FALSE(fs::exists(root + "logo.sys"));
}

TEST_F(RealDriveTest, EachDriveKeepsItsOwnFilesAndAMovedDriveKeepsItsStore)
{
    const std::string a = Root(), b = (env.root / "drive_b").string() + "/";
    RealDrive::Make(b);
    AddSample(b);
    ASSERT_EQ(Kvs("set Samples--Tiles --startup --wait --off").status, 0);
    const std::string aWait = TempEnv::Read(a + "WINDOWS/LOGOW.SYS"), aStart = TempEnv::Read(a + "logo.sys");
    const std::string bWait = TempEnv::Read(b + "WINDOWS/LOGOW.SYS");

    RunResult r = KvsOn(b, "set Samples--Tiles --startup --wait --off --message-wait B");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(TempEnv::Read(a + "WINDOWS/LOGOW.SYS") == aWait);
    EXPECT_TRUE(TempEnv::Read(a + "logo.sys") == aStart);
    EXPECT_TRUE(TempEnv::Read(b + "WINDOWS/LOGOW.SYS") != bWait);
    EXPECT_TRUE(fs::exists(b + "logo.sys"));
    const std::string bat = TempEnv::Read(b + "WINDOWS/logos.bak/restore.bat");
    EXPECT_EQ(bat.find(env.root.string()), std::string::npos) << bat;
    EXPECT_NE(bat.find("\"C:\\WINDOWS\\LOGOW.SYS\""), std::string::npos) << bat;

    const std::string moved = (env.root / "mnt" / "win98").string() + "/";
    fs::create_directories(env.root / "mnt");
    fs::rename(a, moved);
    r = KvsOn(moved, "list");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Samples--Tiles"), std::string::npos) << r.out;
    r = KvsOn(moved, "set Samples--Tiles --wait --message-wait moved");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(TempEnv::Read(moved + "WINDOWS/LOGOW.SYS") != aWait);
    EXPECT_FALSE(fs::exists(a));
}

TEST_F(RealDriveTest, WhatTheDriveNamesElsewhereIsLeftAlone)
{
    const std::string root = Root(), win = root + "WINDOWS/";
    const std::string mine = (env.root / "mine").string() + "/", pictures = (env.root / "pictures").string() + "/";
    fs::create_directories(mine);
    fs::create_directories(pictures);
    TempEnv::Write(mine + "precious.txt", "precious");
    TempEnv::Write(mine + "target.txt", "keep");
    fs::copy_file(kSample, pictures + "holiday.png");
    fs::create_directory_symlink(mine, root + "LINK");
    const std::string off = TempEnv::Read(win + "LOGOS.SYS");
    TempEnv::Write(win + "WIN.INI", "[Trelmark]\r\nKvs-StorageDir=" + pictures + "\r\n");
    fs::create_directories(win + "logos.bak");
    TempEnv::Write(win + "logos.bak/restore.bat",
                   "del  \"" + mine + "precious.txt\"\r\n"
                   "copy \"C:\\WINDOWS\\LOGOS.SYS\" \"" + mine + "target.txt\"\r\n"
                   "del  \"D:\\PRECIOUS.TXT\"\r\n"
                   "del  \"C:\\..\\mine\\precious.txt\"\r\n"
                   "del  \"C:\\LINK\\precious.txt\"\r\n"
                   "copy \"C:\\WINDOWS\\LOGOS.SYS\" \"C:\\WINDOWS\\LOGOW.SYS\"\r\n");

    RunResult r = Kvs("--yes uninst");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("outside the drive"), std::string::npos) << r.err;
    EXPECT_TRUE(TempEnv::Read(mine + "precious.txt") == "precious");
    EXPECT_TRUE(TempEnv::Read(mine + "target.txt") == "keep");
    EXPECT_TRUE(fs::exists(pictures + "holiday.png"));
    // The line that stays on the drive was carried out, and the store that was removed is the drive's.
    EXPECT_TRUE(TempEnv::Read(win + "LOGOW.SYS") == off);
    EXPECT_FALSE(fs::exists(root + "Program Files/KvsLogos/Samples--Tiles.png"));
}

TEST_F(RealDriveTest, PicturesFromAGalleryBecomeProperLogosAndOtherRecordsStayPacked)
{
    const std::string big = (env.root / "big.png").string();
    ASSERT_EQ(Kvs("convert '" + kSample + "' '" + big + "' --resample 640 480").status, 0);
    ASSERT_NE(Kvs("info '" + big + "'").out.find("width=640 height=480 bpp=24"), std::string::npos);
    std::string gal;
    Le32(gal, 108);
    std::string magic(32, '\0');
    magic[0] = 22;
    magic.replace(1, 22, "Kelvane Studio Gallery");
    gal += magic;
    Le32(gal, 2);
    std::string prefix(64, '\0');
    prefix[0] = 3;
    prefix.replace(1, 3, "Gal");
    gal += prefix;
    Le32(gal, 2);
    gal += GalleryRecord("run-me.sh", "#!/bin/sh\necho hello\n") + GalleryRecord("Big.png", TempEnv::Read(big));
    const std::string file = (env.root / "x.gal").string();
    TempEnv::Write(file, gal);

    RunResult r = Kvs("gallery open '" + file + "'");
    EXPECT_NE((r.out + r.err).find("no PNG"), std::string::npos) << r.out << r.err;
    const std::string store = Root() + "Program Files/KvsLogos/";
    EXPECT_EQ(RealDrive::CountNamed(store, "Gal--run-me.sh"), 0);
    EXPECT_EQ(Kvs("list").out.find("run-me"), std::string::npos);

    // Unpacked as it is, the 24-bit picture still gives logos of the logo layout.
    r = Kvs("set Gal--Big --startup --wait --message-startup Hello");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& path : {Root() + "logo.sys", Root() + "WINDOWS/LOGOW.SYS"}) {
        const std::string logo = TempEnv::Read(path);
        ASSERT_EQ(logo.size(), 129078u) << path;
        EXPECT_EQ(logo.substr(18, 8), std::string("\x40\x01\0\0\x90\x01\0\0", 8));  // 320 x 400
        EXPECT_EQ(logo[28], 8);
        EXPECT_EQ(logo.substr(54, 3), std::string(3, '\0'));  // entry 0 black
        const bool startup = path.find("logo.sys") != std::string::npos;
        // Entries 236-255: the band's colours on the Startup logo, black on the others.
        EXPECT_EQ(logo.substr(54 + 4 * 236, 80) == std::string(80, '\0'), !startup) << path;
        int band = 0;
        for (size_t i = 1078 + 6 * 320; i < logo.size(); ++i) band += static_cast<uint8_t>(logo[i]) >= 236;
        EXPECT_EQ(band, 0) << path;  // above the band's six rows the picture keeps to entries 1-235
    }
}

TEST_F(RealDriveTest, TypedTextIsDrawnInTheWindowsCharacterSet)
{
    const std::string wait = Root() + "WINDOWS/LOGOW.SYS";
    auto drawn = [&](const std::string& text) {
        RunResult r = Kvs("set Samples--Tiles --wait --message-wait '" + text + "'");
        EXPECT_EQ(r.status, 0) << r.err;
        return TempEnv::Read(wait);
    };
    const std::string utf8 = drawn("Caf\xC3\xA9 \xC3\xBC" "ber \xE2\x82\xAC \xE2\x9C\x93");
    EXPECT_TRUE(utf8 == drawn("Caf\xE9 \xFC" "ber \x80 ?"));  // text that is no UTF-8 is Windows-1252 already
    EXPECT_TRUE(utf8 != drawn("Cafe uber \x80 ?"));
}
