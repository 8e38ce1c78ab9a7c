// kvs uninst: the "/uninst" run of kelvane-studio without its window.
#include "app/StartUp.h"
#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"

int CmdUninst(const std::vector<std::string>& args)
{
    TRACE("CmdUninst.CmdUninst");
    if (!args.empty()) return KvsUsageError("uninst", "unexpected argument '" + args[0] + "'");
    SetParams({KvsStudioPath(), "/uninst"});
    return KvsRun([] { StartUp(nullptr); });
}
