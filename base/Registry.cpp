#include "base/Registry.h"

#include <cstdlib>

RegTables::RegTables()
{
    mem.reserve(256);
    files.reserve(FILE_MAX_ENTRIES);
}

RegTables::~RegTables()
{
    // Program end: leftovers are released last first; owners are not touched, their frames are gone.
    for (auto it = files.rbegin(); it != files.rend(); ++it)
        if (it->fp) std::fclose(it->fp);
    files.clear();
    for (auto it = mem.rbegin(); it != mem.rend(); ++it) std::free(it->block);
    mem.clear();
}

RegTables& RegGet()
{
    static RegTables tables;
    return tables;
}

int MemCount() { return static_cast<int>(RegGet().mem.size()); }

void MemFreeFrom(int position)
{
    // Owner variables are not cleared here: when the monitor releases a failed block the
    // frames that held them may be gone. Look-ups match block and owner, so stale copies
    // of a freed address are never taken for registered blocks.
    auto& m = RegGet().mem;
    if (position < 0) position = 0;
    while (static_cast<int>(m.size()) > position) {
        std::free(m.back().block);
        m.pop_back();
    }
}

int FileCount() { return static_cast<int>(RegGet().files.size()); }

void FCloseFrom(int position)
{
    auto& f = RegGet().files;
    if (position < 0) position = 0;
    while (static_cast<int>(f.size()) > position) {
        if (f.back().fp) std::fclose(f.back().fp);
        f.pop_back();
    }
}

const std::string& LastFileName() { return RegGet().lastFileName; }
void SetLastFileName(const std::string& name) { RegGet().lastFileName = name; }

std::string MemLeakReport()
{
    auto& s = RegGet();
    std::string r = "Max. allocated memory handles: " + std::to_string(s.memHighest) + "\r\n";
    r += "Memory handles not freed:\r\n";
    for (auto& e : s.mem) r += "  " + e.name + ":" + std::to_string(e.size) + " bytes\r\n";
    r += "Files not closed: " + std::to_string(s.files.size()) + "\r\n";
    for (auto& f : s.files) r += "  " + f.name + "\r\n";
    return r;
}
