#include "platform/Shipped.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "base/Mon.h"
#include "platform/SysExe.h"

namespace {

std::filesystem::path exeDir_()
{
    std::string exe = SysExePath();
    return exe.empty() ? std::filesystem::path() : std::filesystem::path(exe).parent_path();
}

bool isDir_(const std::filesystem::path& p)
{
    std::error_code ec;
    return std::filesystem::is_directory(p, ec);
}

bool isFile_(const std::filesystem::path& p)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec);
}

}  // namespace

std::string ShippedInstallDir()
{
    TRACE("Shipped.ShippedInstallDir");
    std::filesystem::path bin = exeDir_();
    if (bin.filename() != "bin") return std::string();
    std::filesystem::path share = bin.parent_path() / "share" / "kelvane-studio";
    return isDir_(share) ? share.string() + "/" : std::string();
}

std::string ShippedFile(const std::string& name)
{
    TRACE("Shipped.ShippedFile");
    std::filesystem::path dir = exeDir_();
    if (dir.empty() || name.empty()) return std::string();
    std::vector<std::filesystem::path> candidates = {dir / "data" / name};
    std::string installed = ShippedInstallDir();
    if (!installed.empty()) candidates.push_back(std::filesystem::path(installed) / name);
    candidates.push_back(dir / name);
    for (const auto& c : candidates)
        if (isFile_(c)) return c.string();
    return std::string();
}
