// kvs inst: the "/inst" run of kelvane-studio without its window.
#include "app/StartUp.h"
#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"

int CmdInst(const std::vector<std::string>& args)
{
    TRACE("CmdInst.CmdInst");
    if (!args.empty()) return KvsUsageError("inst", "unexpected argument '" + args[0] + "'");
    SetParams({KvsStudioPath(), "/inst"});
    return KvsRun([] { StartUp(nullptr); });
}
