// The command table of kvs: one line per command. Keep the order of "kvs --help".
#include "cli/KvsCommands.h"

#include "base/Mon.h"

const std::vector<const KvsCommand*>& KvsCommandTable()
{
    TRACE("KvsCommands.KvsCommandTable");
    static const std::vector<const KvsCommand*> table = {
        &KVS_DRIVES,
        &KVS_INST,
        &KVS_CHANGE,
        &KVS_UNINST,
        &KVS_LIST,
        &KVS_SET,
        &KVS_SHUFFLE,
        &KVS_ADD,
        &KVS_POSITIONS,
        &KVS_RENAME,
        &KVS_PREFIX,
        &KVS_DELETE,
        &KVS_RESTORE,
        &KVS_PATHS,
        &KVS_GALLERY,
        &KVS_CONVERT,
        &KVS_INFO,
        &KVS_SETTINGS,
        &KVS_DEBUG_INFO,
    };
    return table;
}

const std::vector<KvsOption>& KvsGlobalOptions()
{
    TRACE("KvsCommands.KvsGlobalOptions");
    static const std::vector<KvsOption> options = {
        {.name = "--yes", .help = "answer every question with Yes (a name clash: overwrite)", .excludes = "--no",
         .alias = "-y"},
        {.name = "--no", .help = "answer every question with No (a name clash: skip)", .excludes = "--yes", .alias = "-n"},
        {.name = "--drive", .kind = KVS_FILE, .value = "PATH|N",
         .help = "the Windows drive to work on: a folder holding a WINDOWS folder, or a\n"
                 "disk image (raw with an MBR or a bare FAT file system, or a fixed VHD),\n"
                 "or a number that 'kvs drives' lists"},
        {.name = "--partition", .kind = KVS_INT, .value = "N", .low = 1, .high = 4,
         .help = "the partition of the disk image --drive names (default: the first FAT\n"
                 "partition holding a WINDOWS folder)",
         .needs = "--drive"},
        {.name = "--help", .help = "this text; 'kvs COMMAND --help' explains one command", .alias = "-h", .alone = true},
        {.name = "--version", .help = "the version of kvs", .alone = true},
    };
    return options;
}

const KvsCommand* KvsFindCommand(const std::string& name)
{
    TRACE("KvsCommands.KvsFindCommand");
    for (const KvsCommand* c : KvsCommandTable())
        if (name == c->name) return c;
    return nullptr;
}

const KvsCommand* KvsFindAction(const KvsCommand& command, const std::string& name)
{
    TRACE("KvsCommands.KvsFindAction");
    for (const KvsCommand& a : command.actions)
        if (name == a.name) return &a;
    return nullptr;
}
