// kvs list, positions, rename, prefix, delete, restore: the store commands of the main window.
#include <cstdio>
#include <string>
#include <vector>

#include "base/Basic.h"
#include "base/CharSet.h"
#include "base/Mon.h"
#include "cli/KvsCommands.h"
#include "cli/KvsSupport.h"
#include "core/LogoCommands.h"
#include "core/ImageStore.h"
#include "core/Settings.h"
#include "core/StoreCommands.h"

namespace {

void OpenStore_()
{
    TRACE("CmdStore.OpenStore_");
    KvsStartUp();
    if (!Images) StoreLoad();
}

// Resolves every name; reports the first unknown one.
bool ResolveAll_(const std::vector<std::string>& typed, std::vector<std::string>& names)
{
    TRACE("CmdStore.ResolveAll_");
    for (const std::string& t : typed) {
        std::string n = StoreResolveName(t);
        if (n.empty()) {
            KvsFail("No image named \"" + t + "\" in the store.");
            return false;
        }
        names.push_back(n);
    }
    return true;
}

std::string PositionsText_(int mask)
{
    TRACE("CmdStore.PositionsText_");
    std::string s;
    if (mask & POS_STARTUP) s += "start";
    if (mask & POS_WAIT) s += std::string(s.empty() ? "" : ",") + "wait";
    if (mask & POS_TURNOFF) s += std::string(s.empty() ? "" : ",") + "off";
    return s.empty() ? "-" : s;
}

// "0".."7", "-", or a comma list of start, wait, off; -1 when malformed.
int ParseMask_(const std::string& text)
{
    TRACE("CmdStore.ParseMask_");
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '7') return text[0] - '0';
    if (text == "-" || text == "none") return 0;
    int mask = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string w = text.substr(start, end - start);
        if (w == "start" || w == "startup") mask |= POS_STARTUP;
        else if (w == "wait") mask |= POS_WAIT;
        else if (w == "off" || w == "turnoff") mask |= POS_TURNOFF;
        else return -1;
        start = end + 1;
    }
    return mask;
}

std::string JsonString_(const std::string& s)
{
    TRACE("CmdStore.JsonString_");
    // Store names are 8-bit text of the Windows character set unless they already are valid UTF-8.
    const bool utf8 = CharIsUtf8(s);
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else if (c < 0x80 || utf8) {
            out += static_cast<char>(c);
        } else {
            out += AnsiToUtf8(std::string(1, static_cast<char>(c)));
        }
    }
    return out + "\"";
}

int List_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdStore.List_");
    if (!args.operands.empty()) return KvsUsageError(self.name, "unexpected argument '" + args.operands[0] + "'");
    const bool json = KvsHas(args, "--json");
    return KvsRun([&] {
        OpenStore_();
        std::string text;
        if (json) {
            text = "[";
            for (int i = 0; i < ImageListCount(Images); ++i) {
                const ImageEntry& e = *Images->Items[i];
                text += std::string(i ? ",\n " : "\n ") + "{\"name\": " + JsonString_(EntryName(e)) +
                        ", \"positions\": " + std::to_string(e.Positions) + ", \"size\": " +
                        std::to_string(e.FileSize) + ", \"fromLogoFile\": " + (e.FromLogoFile ? "true" : "false") +
                        ", \"animStart\": " + std::to_string(e.AnimStart) + "}";
            }
            text += ImageListCount(Images) ? "\n]" : "]";
            KvsOut(text);
        } else {
            for (int i = 0; i < ImageListCount(Images); ++i) {
                const ImageEntry& e = *Images->Items[i];
                text += EntryName(e) + "\t" + PositionsText_(e.Positions) + "\t" + std::to_string(e.FileSize) + "\t" +
                        (e.FromLogoFile ? "1" : "0") + "\t" + std::to_string(e.AnimStart) + "\n";
            }
            if (!text.empty()) KvsOut(text);
        }
    });
}

int Positions_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdStore.Positions_");
    const std::vector<std::string>& a = args.operands;
    if (a.size() < 2) return KvsUsageError(self.name, "expected MASK and at least one NAME");
    const int mask = ParseMask_(a[0]);
    if (mask < 0) return KvsUsageError(self.name, "bad MASK '" + a[0] + "' (0..7 or a list such as start,off)");
    return KvsRunStatus([&] {
        OpenStore_();
        std::vector<std::string> names;
        if (!ResolveAll_(std::vector<std::string>(a.begin() + 1, a.end()), names))
            return static_cast<int>(KVS_EXIT_FAILED);
        const Outcome o = StorePositions(names, mask);
        if (!OutcomeOk(o)) return KvsReport(o);
        std::string text;
        for (const std::string& n : names) text += n + "\t" + PositionsText_(mask) + "\n";
        KvsOut(text);
        return static_cast<int>(KVS_EXIT_OK);
    });
}

int Rename_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdStore.Rename_");
    const std::vector<std::string>& a = args.operands;
    if (a.size() != 2) return KvsUsageError(self.name, "expected OLD and NEW");
    return KvsRunStatus([&] {
        OpenStore_();
        std::vector<std::string> names;
        if (!ResolveAll_({a[0]}, names)) return static_cast<int>(KVS_EXIT_FAILED);
        // NEW is the name without ".png", as typed into the window's prompt.
        std::string typed = a[1];
        if (typed.size() > 4 && SameImageName(typed.substr(typed.size() - 4), ".png")) typed.resize(typed.size() - 4);
        Outcome o = StoreRename(names[0], typed);
        // The window's text sends the user to F5 to refresh its list; kvs reads the store anew.
        if (o.Cause == OUTCOME_CAUSE_RENAME_REFUSED)
            o.Errors = {"Couldn't rename \"" + names[0] +
                        "\": the new name is not allowed, or a file of that name is already in the storage folder."};
        if (o.StoreChanged) KvsOut(o.Select);
        return KvsReport(o);
    });
}

int Prefix_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdStore.Prefix_");
    const std::vector<std::string>& a = args.operands;
    if (a.size() < 2) return KvsUsageError(self.name, "expected NEWPREFIX and at least one NAME");
    return KvsRunStatus([&] {
        OpenStore_();
        std::vector<std::string> names;
        if (!ResolveAll_(std::vector<std::string>(a.begin() + 1, a.end()), names))
            return static_cast<int>(KVS_EXIT_FAILED);
        return KvsReport(StorePrefix(names, a[0]));
    });
}

int Delete_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdStore.Delete_");
    if (args.operands.empty()) return KvsUsageError(self.name, "expected at least one NAME");
    return KvsRunStatus([&] {
        OpenStore_();
        std::vector<std::string> names;
        if (!ResolveAll_(args.operands, names)) return static_cast<int>(KVS_EXIT_FAILED);
        return KvsReport(StoreDelete(names, Answers()));
    });
}

int Restore_(const KvsCommand& self, const KvsArgs& args)
{
    TRACE("CmdStore.Restore_");
    if (!args.operands.empty()) return KvsUsageError(self.name, "unexpected argument '" + args.operands[0] + "'");
    return KvsRunStatus([] {
        LoadSettings();
        return KvsReport(LogoRestore(Answers()));
    });
}

}  // namespace

const KvsCommand KVS_LIST = {
    .name = "list",
    .proc = List_,
    .summary = "list the stored images",
    .help = "Prints one line per stored image, in store order: name, positions (start, wait, off\n"
            "or -), file size in bytes, from-logo flag (1 or 0) and first animated palette entry,\n"
            "separated by tabs.",
    .options = {
        {.name = "--json", .help = "one JSON array of objects\n"
                                   "{\"name\", \"positions\", \"size\", \"fromLogoFile\", \"animStart\"} instead"},
    },
};

const KvsCommand KVS_POSITIONS = {
    .name = "positions",
    .proc = Positions_,
    .operands = "MASK NAME...",
    .summary = "choose the positions at which images are used",
    .help = "Sets the position mask of every NAME: MASK is 0..7 (1 Startup, 2 Wait, 4 Turn Off)\n"
            "or a list such as start,off (start, wait, off; - for none). Shuffle and the automatic\n"
            "change use an image only at its positions. NAME may be given with or without .png.",
    .rawOperands = true,
    .complete = "- name",
};

const KvsCommand KVS_RENAME = {
    .name = "rename",
    .proc = Rename_,
    .operands = "OLD NEW",
    .summary = "rename a stored image",
    .help = "Renames the image OLD to NEW (.png is added). Characters not allowed in a name\n"
            "become _. Prints the new name.",
    .rawOperands = true,
    .complete = "name -",
};

const KvsCommand KVS_PREFIX = {
    .name = "prefix",
    .proc = Prefix_,
    .operands = "NEWPREFIX NAME...",
    .summary = "change the prefix of stored images",
    .help = "Replaces everything up to and including the first -- of every NAME by NEWPREFIX and\n"
            "--, and prints how many images were renamed.",
    .rawOperands = true,
    .complete = "- name",
};

const KvsCommand KVS_DELETE = {
    .name = "delete",
    .proc = Delete_,
    .operands = "NAME...",
    .summary = "delete stored images",
    .help = "Deletes the images and their files from the storage folder after asking\n"
            "(the answer is No unless --yes is given or a terminal answers Yes).",
    .rawOperands = true,
    .complete = "name",
};

const KvsCommand KVS_RESTORE = {
    .name = "restore",
    .proc = Restore_,
    .summary = "restore the previous logos",
    .help = "Asks, then carries out restore.bat of the backup folder: the logo files that existed\n"
            "before the program first replaced them come back, the ones that did not are deleted.",
};
