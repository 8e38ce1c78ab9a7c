// kvs convert and kvs info, run as the user runs them.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <cstring>
#include <set>
#include <string>

#include "base/Basic.h"
#include "base/Mon.h"
#include "formats/FFDispatch.h"
#include "image/ImgBasic.h"
#include "support/TempDir.h"

namespace {

struct CliResult {
    int status = -1;
    std::string out, err;
};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

CliResult Kvs(const TempDir& dir, const std::string& args)
{
    std::string errFile = dir / "stderr.txt";
    std::string cmd = "KVS_WINDOWS_DIR=" + Quote(dir / "win") + " KVS_PROGRAM_DIR=" + Quote(dir / "prog") + " " +
                      Quote(std::string(KVS_BINARY_DIR) + "/kvs") + " " + args + " 2>" + Quote(errFile) + " </dev/null";
    CliResult r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = ReadWholeFile(errFile);
    return r;
}

// A 40 x 30 true-colour gradient with many colours.
void WritePicture(const std::string& name, int bpp)
{
    Image img;
    ImgAlloc(img, 40, 30, bpp);
    for (int i = 0; i < img.Size; ++i) img.Data[i] = static_cast<uint8_t>(i * 13 + i / 120);
    for (int i = 0; i < 256; ++i) img.Pal[i][0] = img.Pal[i][1] = img.Pal[i][2] = static_cast<uint8_t>(255 - i);
    ImgSave(name, img);
    ImgFree(img);
}

struct KvsConvert : ::testing::Test {
    TempDir dir;
    void SetUp() override
    {
        std::filesystem::create_directories(dir / "win");
        std::filesystem::create_directories(dir / "prog");
    }
};

} // namespace

TEST_F(KvsConvert, PlainConversionAndInfo)
{
    WritePicture(dir / "in.bmp", 24);
    CliResult r = Kvs(dir, "info " + Quote(dir / "in.bmp"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "format=BMP width=40 height=30 bpp=24\n");

    r = Kvs(dir, "convert " + Quote(dir / "in.bmp") + " " + Quote(dir / "out.tga"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote " + (dir / "out.tga") + " format=TGA width=40 height=30 bpp=24\n");
    r = Kvs(dir, "info " + Quote(dir / "out.tga"));
    EXPECT_EQ(r.out, "format=TGA width=40 height=30 bpp=24\n");
    Image a, b;
    ImgLoad(dir / "in.bmp", a);
    ImgLoad(dir / "out.tga", b);
    EXPECT_EQ(0, std::memcmp(a.Data, b.Data, static_cast<size_t>(a.Size)));
    ImgFree(a);
    ImgFree(b);

    // --format names the writer whatever the extension says.
    r = Kvs(dir, "convert " + Quote(dir / "in.bmp") + " " + Quote(dir / "logo.sys") + " --format 3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadWholeFile(dir / "logo.sys").substr(0, 2), "BM");

    // The printed depth is what the file stores: PNG keeps no 15-bit pixels.
    WritePicture(dir / "in15.bmp", 15);
    r = Kvs(dir, "convert " + Quote(dir / "in15.bmp") + " " + Quote(dir / "out.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote " + (dir / "out.png") + " format=PNG width=40 height=30 bpp=24\n");
    EXPECT_EQ(Kvs(dir, "info " + Quote(dir / "out.png")).out, "format=PNG width=40 height=30 bpp=24\n");
}

TEST_F(KvsConvert, ScaleAndReduce)
{
    WritePicture(dir / "in.bmp", 24);
    CliResult r = Kvs(dir, "convert " + Quote(dir / "in.bmp") + " " + Quote(dir / "small.pcx") + " --resize 10 20");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Kvs(dir, "info " + Quote(dir / "small.pcx")).out, "format=PCX width=10 height=20 bpp=24\n");

    WritePicture(dir / "in8.bmp", 8);
    r = Kvs(dir, "convert " + Quote(dir / "in8.bmp") + " " + Quote(dir / "big.bmp") + " --resample 80 60");
    ASSERT_EQ(r.status, 0) << r.err;
    // Resampling always gives 24 bits.
    EXPECT_EQ(Kvs(dir, "info " + Quote(dir / "big.bmp")).out, "format=BMP width=80 height=60 bpp=24\n");

    for (const char* dither : {"none", "ordered", "diffusion"}) {
        r = Kvs(dir, "convert " + Quote(dir / "in.bmp") + " " + Quote(dir / "few.bmp") + " --colors 16 --dither " +
                         dither);
        ASSERT_EQ(r.status, 0) << dither << ": " << r.err;
        Image img;
        ImgLoad(dir / "few.bmp", img);
        EXPECT_EQ(img.Bpp, 8);
        std::set<uint8_t> used(img.Data, img.Data + img.Size);
        EXPECT_LE(used.size(), 16u) << dither;
        EXPECT_GE(used.size(), 2u) << dither;
        ImgFree(img);
    }
}

TEST_F(KvsConvert, ErrorsAndUsage)
{
    WritePicture(dir / "in.bmp", 24);
    CliResult r = Kvs(dir, "convert " + Quote(dir / "missing.bmp") + " " + Quote(dir / "x.bmp"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Cannot open file: " + (dir / "missing.bmp") + "\n");
    // An output type nothing writes is named, before anything is read.
    for (const char* name : {"x.gif", "x.xyz"}) {
        r = Kvs(dir, "convert " + Quote(dir / "missing.bmp") + " " + Quote(dir / name));
        EXPECT_EQ(r.status, 2) << name;
        EXPECT_NE(r.err.find(std::string("'") + (name + 1) + "'"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir / name));
    }
    r = Kvs(dir, "info " + Quote(dir / "in.unknown"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid image format.\n");

    const std::string in = Quote(dir / "in.bmp"), out = Quote(dir / "o.bmp");
    for (const std::string& bad :
         {"convert " + in, "convert " + in + " " + out + " --colors 1", "convert " + in + " " + out + " --dither ordered",
          "convert " + in + " " + out + " --colors 8 --dither fancy", "convert " + in + " " + out + " --resize 10",
          "convert " + in + " " + out + " --resize 10 10 --resample 5 5", "convert " + in + " " + out + " --format x",
          "convert " + in + " " + out + " --bogus", std::string("info"), "info " + in + " " + in}) {
        r = Kvs(dir, bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_FALSE(r.err.empty()) << bad;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "o.bmp"));
}
