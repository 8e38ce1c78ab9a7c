// kvs change: the "/change" run of kelvane-studio without its window.
#include "app/StartUp.h"
#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"

int CmdChange(const std::vector<std::string>& args)
{
    TRACE("CmdChange.CmdChange");
    if (!args.empty()) return KvsUsageError("change", "unexpected argument '" + args[0] + "'");
    SetParams({KvsStudioPath(), "/change"});
    return KvsRun([] { StartUp(nullptr); });
}
