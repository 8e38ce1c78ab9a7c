// kelvane-studio: the program with its main window; the switches /inst, /change and /uninst
// run without showing it. A build without the window always runs that way.
#include <string>
#include <vector>

#include "app/StartUp.h"
#include "platform/SysInfo.h"

// The program's parameters with parameter 0 made the full path of the executable, as the
// Run entry and the install information need it.
static std::vector<std::string> ProgramParams_(int argc, char** argv)
{
    std::vector<std::string> params(argv, argv + argc);
    std::string exe = SysExePath();
    if (params.empty()) params.push_back(exe);
    else if (!exe.empty()) params[0] = exe;
    return params;
}

int main(int argc, char** argv)
{
    std::vector<std::string> params = ProgramParams_(argc, argv);
    // The window build opens its main window here unless a switch was given
    // (SetParams(params); HasCommandLineSwitch()); a switch never needs a display.
    return RunWithoutWindow(params);
}
