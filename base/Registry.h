// The memory registry and the file table. They sit below the error monitor: a failing block
// releases what was registered since it began, so the monitor needs these tables while the
// operations that fill them (base/Basic) report through the monitor.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

constexpr int MEM_MAX_ENTRIES = 10240;
constexpr int FILE_MAX_ENTRIES = 64;

struct RegMemEntry {
    void* block;
    void** owner;
    int64_t size;
    std::string name;
};

struct RegFileEntry {
    int handle;
    bool text;
    std::string name;
    std::FILE* fp;
};

struct RegTables {
    std::vector<RegMemEntry> mem;
    int memHighest = 0;
    std::vector<RegFileEntry> files;
    int nextHandle = 1;
    std::string lastFileName;
    RegTables();
    ~RegTables();
};

// The one set of tables; made on first use and torn down after everything made before it.
RegTables& RegGet();

int MemCount();
void MemFreeFrom(int position);
int FileCount();
void FCloseFrom(int position);
// The file name last given to FOpen, TXTOpen or FDelete (used in file-class messages).
const std::string& LastFileName();
void SetLastFileName(const std::string& name);
// The leak report of program end (written to the trace only when tracing is on).
std::string MemLeakReport();
