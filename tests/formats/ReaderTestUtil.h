// Shared helpers of the reader tests: a temporary folder, byte files, error capture.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/Basic.h"
#include "base/Mon.h"
#include "image/ImgBasic.h"

namespace rtest {

// A fresh folder per test; the program's folders point into it as well.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() / ("kvs-fmt-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
        setenv("KVS_WINDOWS_DIR", dir_.string().c_str(), 1);
        setenv("KVS_PROGRAM_DIR", dir_.string().c_str(), 1);
        memMark_ = MemCount();
        fileMark_ = FileCount();
    }
    void TearDown() override
    {
        MonClearError();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // Registry blocks and open files above what the test started with.
    int LeakedBlocks() const { return MemCount() - memMark_; }
    int LeakedFiles() const { return FileCount() - fileMark_; }

    std::filesystem::path dir_;
    int memMark_ = 0;
    int fileMark_ = 0;
};

// The same, with the two pictures most reader tests load and compare, freed afterwards.
class ImageTempDirTest : public TempDirTest {
protected:
    void TearDown() override
    {
        ImgFree(img_);
        ImgFree(back_);
        TempDirTest::TearDown();
    }
    Image img_, back_;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Runs f and returns the text of the error it raised, or "" when it succeeded.
template <class F> std::string ErrorOf(F&& f)
{
    std::string text;
    try {
        f();
    } catch (const EMon& e) {
        text = e.what();
        if (text.empty()) text = MonErrorText();
    }
    MonClearError();
    return text;
}

inline std::vector<uint8_t> Pixels(const Image& img) { return std::vector<uint8_t>(img.Data, img.Data + img.Size); }

inline uint32_t Be32(const std::vector<uint8_t>& v, size_t at)
{
    return uint32_t(v[at]) << 24 | uint32_t(v[at + 1]) << 16 | uint32_t(v[at + 2]) << 8 | v[at + 3];
}
inline uint32_t Be16(const std::vector<uint8_t>& v, size_t at) { return uint32_t(v[at]) << 8 | v[at + 1]; }
inline void PutBe32(std::vector<uint8_t>& v, uint32_t x)
{
    for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}
inline void PutBe16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}

// A 24-bit test picture whose every byte depends on position and channel.
inline void FillPattern(Image& img, int w, int h, int bpp, uint32_t seed = 7)
{
    ImgAlloc(img, w, h, bpp);
    uint32_t x = seed;
    for (int32_t i = 0; i < img.Size; ++i) {
        x = x * 1103515245u + 12345u;
        // Mix runs and noise so run-length coders meet both.
        img.Data[i] = (i / 7) % 3 == 0 ? uint8_t(i / 21) : uint8_t(x >> 16);
    }
}

}  // namespace rtest
