// Where the files that come with the program lie: message files, manual, readme, sample logos.
#pragma once

#include <string>

// PREFIX/share/kelvane-studio/ when the executable lies in PREFIX/bin/ and that folder exists
// (an installed copy); empty text otherwise.
std::string ShippedInstallDir();
// Full path of the shipped file name: from data/ beside the executable (the build tree), the
// installed data folder, or the executable's own folder, in that order; empty text when none has it.
std::string ShippedFile(const std::string& name);
