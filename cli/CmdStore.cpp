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

static void OpenStore_()
{
    TRACE("CmdStore.OpenStore_");
    KvsStartUp();
    if (!Images) StoreLoad();
}

// Resolves every name; reports the first unknown one.
static bool ResolveAll_(const std::vector<std::string>& typed, std::vector<std::string>& names)
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

static std::string PositionsText_(int mask)
{
    TRACE("CmdStore.PositionsText_");
    std::string s;
    if (mask & POS_STARTUP) s += "start";
    if (mask & POS_WAIT) s += std::string(s.empty() ? "" : ",") + "wait";
    if (mask & POS_TURNOFF) s += std::string(s.empty() ? "" : ",") + "off";
    return s.empty() ? "-" : s;
}

// "0".."7", "-", or a comma list of start, wait, off; -1 when malformed.
static int ParseMask_(const std::string& text)
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

static std::string JsonString_(const std::string& s)
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

int CmdList(const std::vector<std::string>& args)
{
    TRACE("CmdStore.CmdList");
    std::vector<std::string> rest = args;
    const bool json = KvsTakeFlag(rest, "--json");
    if (!rest.empty()) return KvsUsageError("list", "unexpected argument '" + rest[0] + "'");
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

int CmdPositions(const std::vector<std::string>& args)
{
    TRACE("CmdStore.CmdPositions");
    if (args.size() < 2) return KvsUsageError("positions", "expected MASK and at least one NAME");
    const int mask = ParseMask_(args[0]);
    if (mask < 0) return KvsUsageError("positions", "bad MASK '" + args[0] + "' (0..7 or a list such as start,off)");
    return KvsRunStatus([&] {
        OpenStore_();
        std::vector<std::string> names;
        if (!ResolveAll_(std::vector<std::string>(args.begin() + 1, args.end()), names))
            return static_cast<int>(KVS_EXIT_FAILED);
        const Outcome o = StorePositions(names, mask);
        if (!OutcomeOk(o)) return KvsReport(o);
        std::string text;
        for (const std::string& n : names) text += n + "\t" + PositionsText_(mask) + "\n";
        KvsOut(text);
        return static_cast<int>(KVS_EXIT_OK);
    });
}

int CmdRename(const std::vector<std::string>& args)
{
    TRACE("CmdStore.CmdRename");
    if (args.size() != 2) return KvsUsageError("rename", "expected OLD and NEW");
    return KvsRunStatus([&] {
        OpenStore_();
        std::vector<std::string> names;
        if (!ResolveAll_({args[0]}, names)) return static_cast<int>(KVS_EXIT_FAILED);
        // NEW is the name without ".png", as typed into the window's prompt.
        std::string typed = args[1];
        if (typed.size() > 4 && SameImageName(typed.substr(typed.size() - 4), ".png")) typed.resize(typed.size() - 4);
        const Outcome o = StoreRename(names[0], typed);
        if (o.StoreChanged) KvsOut(o.Select);
        return KvsReport(o);
    });
}

int CmdPrefix(const std::vector<std::string>& args)
{
    TRACE("CmdStore.CmdPrefix");
    if (args.size() < 2) return KvsUsageError("prefix", "expected NEWPREFIX and at least one NAME");
    return KvsRunStatus([&] {
        OpenStore_();
        std::vector<std::string> names;
        if (!ResolveAll_(std::vector<std::string>(args.begin() + 1, args.end()), names))
            return static_cast<int>(KVS_EXIT_FAILED);
        return KvsReport(StorePrefix(names, args[0]));
    });
}

int CmdDelete(const std::vector<std::string>& args)
{
    TRACE("CmdStore.CmdDelete");
    if (args.empty()) return KvsUsageError("delete", "expected at least one NAME");
    return KvsRunStatus([&] {
        OpenStore_();
        std::vector<std::string> names;
        if (!ResolveAll_(args, names)) return static_cast<int>(KVS_EXIT_FAILED);
        return KvsReport(StoreDelete(names, Answers()));
    });
}

int CmdRestore(const std::vector<std::string>& args)
{
    TRACE("CmdStore.CmdRestore");
    if (!args.empty()) return KvsUsageError("restore", "unexpected argument '" + args[0] + "'");
    return KvsRunStatus([] {
        LoadSettings();
        return KvsReport(LogoRestore(Answers()));
    });
}
