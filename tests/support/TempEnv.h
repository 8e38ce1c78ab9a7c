// A fresh Windows folder and program folder under the system's temporary folder for one test,
// with KVS_WINDOWS_DIR / KVS_PROGRAM_DIR pointing at them; removed again afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/ProfileFile.h"

class TempEnv {
public:
    TempEnv()
    {
        std::random_device rd;
        root = std::filesystem::temp_directory_path() / ("kvs-test-" + std::to_string(rd()) + std::to_string(rd()));
        win = (root / "drive_c" / "WINDOWS").string() + "/";
        prog = (root / "prog").string() + "/";
        std::filesystem::create_directories(win);
        std::filesystem::create_directories(prog);
        Remember_("KVS_WINDOWS_DIR", oldWin_, hadWin_);
        Remember_("KVS_PROGRAM_DIR", oldProg_, hadProg_);
        setenv("KVS_WINDOWS_DIR", win.c_str(), 1);
        setenv("KVS_PROGRAM_DIR", prog.c_str(), 1);
        ProfileDropCache();
    }
    ~TempEnv()
    {
        ProfileDropCache();
        Restore_("KVS_WINDOWS_DIR", oldWin_, hadWin_);
        Restore_("KVS_PROGRAM_DIR", oldProg_, hadProg_);
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    TempEnv(const TempEnv&) = delete;
    TempEnv& operator=(const TempEnv&) = delete;

    static std::string Read(const std::string& path)
    {
        std::ifstream f(path, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    static void Write(const std::string& path, const std::string& text)
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f << text;
    }

    std::filesystem::path root;
private:
    static void Remember_(const char* name, std::string& value, bool& had)
    {
        const char* v = std::getenv(name);
        had = v != nullptr;
        value = v ? v : "";
    }
    static void Restore_(const char* name, const std::string& value, bool had)
    {
        if (had) setenv(name, value.c_str(), 1);
        else unsetenv(name);
    }
    std::string oldWin_, oldProg_;
    bool hadWin_ = false, hadProg_ = false;

public:
    std::string win;   // Windows folder, trailing '/'
    std::string prog;  // program folder, trailing '/'
};
