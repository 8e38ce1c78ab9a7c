#include "platform/DrivePath.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

// A path read from a file (restore.bat, win.ini) names a folder in another letter case than the
// drive spells it; that folder is a link out of the drive. Found ignoring case, the path leaves.
TEST(DrivePath, StoredPathsInAnotherCaseDoNotLeaveThroughALink)
{
    TempDir tmp;
    const std::string root = tmp / "drive", outside = tmp / "mine";
    std::filesystem::create_directories(root + "/WINDOWS");
    std::filesystem::create_directories(outside);
    WriteWholeFile(outside + "/precious.txt", "precious");
    std::filesystem::create_directory_symlink(outside, root + "/LINK");
    WriteWholeFile(root + "/WINDOWS/win.ini", "");
    setenv("KVS_WINDOWS_DIR", (root + "/WINDOWS").c_str(), 1);

    for (const std::string& text : {root + "/link/precious.txt", root + "/LINK/precious.txt",
                                    std::string("C:\\link\\precious.txt"), std::string("C:\\Link\\")})
        EXPECT_EQ(DriveFromStored(text), "") << text;
    // Another spelling of what stays inside is found as the drive spells it.
    EXPECT_EQ(DriveFromStored(root + "/windows/WIN.INI"), root + "/WINDOWS/win.ini");
    EXPECT_EQ(DriveFromStored("c:\\Windows\\Win.ini"), root + "/WINDOWS/win.ini");
}

}  // namespace
