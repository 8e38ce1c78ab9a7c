// kvs debug-info: the debug report on standard output.
#include "app/StartUp.h"
#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"

static int DebugInfo_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdDebugInfo.DebugInfo_");
    if (!args.operands.empty()) return KvsUsageError(self.name, "unexpected argument '" + args.operands[0] + "'");
    return KvsRun([] {
        KvsStartUp();
        KvsOut(DebugInfoText());
    });
}

const KvsCommand KVS_DEBUG_INFO = {
    .name = "debug-info",
    .proc = DebugInfo_,
    .summary = "print the debug report",
    .help = "Prints the debug report (memory, system, folders, logo files, pick methods, number of\n"
            "stored images, automatic change).",
};
