// The program folder, where the settings file and the message files lie. Below the settings and
// their lock, which both need it.
#pragma once

#include <string>

// With trailing separator; found once and kept until ProgramDirForget.
std::string GetProgramDir();
// The next GetProgramDir finds the folder again (loading the settings does this).
void ProgramDirForget();
