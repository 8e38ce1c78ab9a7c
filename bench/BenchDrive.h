// A demo drive of its own for a benchmark program: Windows and program folders under base, the
// environment pointing at them, the settings loaded and the storage folder made.
#pragma once

#include "core/Settings.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

inline std::filesystem::path MakeBenchDrive(const std::filesystem::path& base, const std::string& name)
{
    const std::filesystem::path root = base / (name + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root / "drive_c" / "WINDOWS");
    std::filesystem::create_directories(root / "prog");
    setenv("KVS_WINDOWS_DIR", (root / "drive_c" / "WINDOWS").c_str(), 1);
    setenv("KVS_PROGRAM_DIR", (root / "prog").c_str(), 1);
    SetParams({(root / "prog" / "kelvane-studio").string()});
    LoadSettings();
    std::filesystem::create_directories(GetStorageDir());
    return root;
}
