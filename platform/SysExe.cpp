#include "platform/SysExe.h"

#include "base/Mon.h"

#include <unistd.h>

#include <vector>

std::string SysExePath()
{
    TRACE("SysExe.SysExePath");
    std::vector<char> buf(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
        if (buf.size() > (1u << 20)) return std::string();
        buf.resize(buf.size() * 2);
    }
}
