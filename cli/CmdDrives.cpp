// kvs drives [--json] [--add DIR]: the Windows 95/98 drives and disk images found on this computer.
#include <cstdio>

#include "app/DriveList.h"
#include "app/DriveUse.h"
#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"

namespace {

constexpr const char* NONE_FOUND =
    "No Windows 95/98 drive or disk image was found. A partition that is not mounted is not searched: "
    "mount it first, for example with udisksctl mount -b /dev/sdb1.";

// Paths are host bytes: only quotes, backslashes and control characters need escaping.
std::string quoted_(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\u%04x", c);
        out += c == '"' || c == '\\' ? std::string{'\\', static_cast<char>(c)}
               : c < 0x20           ? std::string(hex)
                                    : std::string(1, static_cast<char>(c));
    }
    return out + "\"";
}

std::string json_(const DriveSearch& found)
{
    std::string text = "[";
    for (size_t i = 0; i < found.drives.size(); i++) {
        const DriveFound& d = found.drives[i];
        text += std::string(i ? ",\n " : "\n ") + "{\"number\": " + std::to_string(i + 1) +
                ", \"current\": " + (DriveListIsCurrent(found, i, DriveUseCurrent(), DriveUseIsImage()) ? "true" : "false") + ", \"path\": " + quoted_(d.path) +
                ", \"partition\": " + std::to_string(d.partition) + ", \"kind\": " + quoted_(d.kind) +
                ", \"place\": " + quoted_(d.place) + ", \"windows\": " + quoted_(d.windows) +
                ", \"label\": " + quoted_(d.label) + ", \"size\": " + std::to_string(d.size) +
                ", \"free\": " + (d.freeBytes < 0 ? std::string("null") : std::to_string(d.freeBytes)) +
                ", \"usable\": " + (d.refused.empty() ? "true" : "false") + ", \"problem\": " + quoted_(d.refused) + "}";
    }
    return text + (found.drives.empty() ? "]" : "\n]");
}

std::string lines_(const DriveSearch& found)
{
    std::string text;
    for (size_t i = 0; i < found.drives.size(); i++) {
        const DriveFound& d = found.drives[i];
        text += std::string(DriveListIsCurrent(found, i, DriveUseCurrent(), DriveUseIsImage()) ? "*" : " ") + std::to_string(i + 1) + "\t" + d.path +
                (d.partition ? ", partition " + std::to_string(d.partition) : std::string()) + "\t" +
                DriveFindKindText(d.kind) + "\t";
        if (!d.refused.empty()) {
            text += "refused: " + d.refused + "\n";
            continue;
        }
        text += (d.windows.empty() ? "Windows" : d.windows) + "\t" + d.label + "\t" + DriveFindSizeText(d.size) + "\t" +
                (d.freeBytes < 0 ? std::string("-") : DriveFindSizeText(d.freeBytes) + " free") + "\n";
    }
    return text;
}

int Drives_(const KvsCommand&, const KvsArgs& args)
{
    TRACE("CmdDrives.Drives_");
    const bool json = KvsHas(args, "--json");
    const std::string folder = KvsHas(args, "--add") ? KvsValue(args, "--add") : std::string();
    return KvsRunStatus([&] {
        Outcome o;
        if (!folder.empty()) OutcomeRun(o, [&] { DriveListAddFolder(folder); });
        if (!OutcomeOk(o)) return KvsReport(o);
        const DriveSearch& found = DriveListFound(!folder.empty());
        if (found.timedOut)
            o.Warnings.push_back("The search stopped at its time limit; some folders were not searched.");
        o.Result = json ? json_(found) : found.drives.empty() ? std::string(NONE_FOUND) : lines_(found);
        return KvsReport(o);
    });
}

}  // namespace

const KvsCommand KVS_DRIVES = {
    .name = "drives",
    .proc = Drives_,
    .summary = "list the Windows 95/98 drives and disk images found here",
    .help = "Lists the Windows 95/98 installations found: mounted FAT file systems whose root holds\n"
            "MSDOS.SYS and WINDOWS\\WIN.COM, then disk images (raw, partitioned, fixed VHD) in the\n"
            "folders of 86Box, PCem, QEMU/libvirt, GNOME Boxes, VirtualBox and DOSBox-X, in the added\n"
            "folders (Bochs keeps no folder of its own) and in the home folder to depth 3; last the\n"
            "containers that must be converted first (QCOW2, VMDK, VDI, dynamic VHD).\n"
            "One line each: * for the drive in use, the number --drive takes, path (and partition),\n"
            "kind, Windows version, label, size and free space, separated by tabs. The search reads\n"
            "only and stops after one second.\n"
            "A partition that is not mounted is not searched: udisksctl mount -b /dev/sdXN mounts it.",
    .options = {
        {.name = "--json", .help = "one JSON array of objects {\"number\", \"current\", \"path\", \"partition\",\n"
                                   "\"kind\", \"place\", \"windows\", \"label\", \"size\", \"free\", \"usable\", \"problem\"}"},
        {.name = "--add", .kind = KVS_FILE, .value = "DIR", .help = "adds a folder to search from now on"},
    },
};
