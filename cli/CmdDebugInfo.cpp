// kvs debug-info: the debug report on standard output.
#include "app/StartUp.h"
#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"

int CmdDebugInfo(const std::vector<std::string>& args)
{
    TRACE("CmdDebugInfo.CmdDebugInfo");
    if (!args.empty()) return KvsUsageError("debug-info", "unexpected argument '" + args[0] + "'");
    return KvsRun([] {
        KvsStartUp();
        KvsOut(DebugInfoText());
    });
}
