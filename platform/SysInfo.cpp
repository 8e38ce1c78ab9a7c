// Folders, memory and version figures, processes.
#include "platform/SysInfo.h"

#include "base/Mon.h"
#include "platform/Shipped.h"
#include "platform/SysExe.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string env_(const char* name)
{
    const char* v = getenv(name);
    return v ? std::string(v) : std::string();
}

std::string withSlash_(std::string path)
{
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

std::string home_()
{
    std::string h = env_("HOME");
    return h.empty() ? std::string("/tmp") : h;
}

// A figure of /proc/meminfo in bytes.
int64_t meminfo_(const char* key)
{
    FILE* f = fopen("/proc/meminfo", "re");
    if (!f) return 0;
    char line[256];
    size_t keyLen = strlen(key);
    int64_t result = 0;
    while (fgets(line, sizeof line, f)) {
        if (strncmp(line, key, keyLen) == 0 && line[keyLen] == ':') {
            long long kb = 0;
            if (sscanf(line + keyLen + 1, "%lld", &kb) == 1 && kb >= 0) result = static_cast<int64_t>(kb) * 1024;
            break;
        }
    }
    fclose(f);
    return result;
}

bool writable_(const std::string& dir)
{
    return !dir.empty() && access(dir.c_str(), W_OK) == 0;
}

}  // namespace

bool SysMakeDirs(const std::string& path)
{
    TRACE("SysInfo.SysMakeDirs");
    if (path.empty()) return false;
    std::string p;
    size_t i = 0;
    while (i <= path.size()) {
        size_t slash = path.find('/', i);
        if (slash == std::string::npos) slash = path.size();
        p = path.substr(0, slash);
        if (!p.empty()) {
            struct stat st;
            if (stat(p.c_str(), &st) != 0 && mkdir(p.c_str(), 0777) != 0 && errno != EEXIST) return false;
        }
        i = slash + 1;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static std::string ChosenWindowsDir_;

void SysSetWindowsDir(const std::string& dir)
{
    TRACE("SysInfo.SysSetWindowsDir");
    ChosenWindowsDir_ = dir.empty() ? dir : withSlash_(dir);
}

std::string SysWindowsDir()
{
    TRACE("SysInfo.SysWindowsDir");
    std::string dir = ChosenWindowsDir_.empty() ? env_("KVS_WINDOWS_DIR") : ChosenWindowsDir_;
    if (dir.empty()) {
        std::string data = env_("XDG_DATA_HOME");
        if (data.empty() || data[0] != '/') data = home_() + "/.local/share";
        dir = withSlash_(data) + "KelvaneStudio/drive_c/WINDOWS";
    }
    dir = withSlash_(dir);
    // Asked for on every drive path: one stat when the folder is there, the walk only to create it.
    struct stat st;
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return dir;
    if (!SysMakeDirs(dir)) return std::string();
    return dir;
}

std::string SysDriveRoot()
{
    TRACE("SysInfo.SysDriveRoot");
    std::string win = SysWindowsDir();
    if (win.empty()) return std::string();
    std::string w = win.substr(0, win.size() - 1);
    while (w.size() > 1 && w.back() == '/') w.pop_back();
    size_t slash = w.rfind('/');
    if (slash == std::string::npos) return std::string("./");  // relative folder without a parent
    return w.substr(0, slash + 1);
}

std::string SysProgramDir()
{
    TRACE("SysInfo.SysProgramDir");
    std::string dir = env_("KVS_PROGRAM_DIR");
    if (!dir.empty()) {
        dir = withSlash_(dir);
        SysMakeDirs(dir);
        return dir;
    }
    std::string exe = SysExePath();
    size_t slash = exe.rfind('/');
    if (slash != std::string::npos) {
        std::string exeDir = exe.substr(0, slash + 1);
        // An installed executable's folder is never the program folder, even for root.
        if (writable_(exeDir) && ShippedInstallDir().empty()) return exeDir;
    }
    std::string config = env_("XDG_CONFIG_HOME");
    if (config.empty() || config[0] != '/') config = home_() + "/.config";
    dir = withSlash_(config) + "KelvaneStudio/";
    SysMakeDirs(dir);
    return dir;
}

int64_t SysMemTotal()
{
    TRACE("SysInfo.SysMemTotal");
    return meminfo_("MemTotal");
}
int64_t SysMemAvailable()
{
    TRACE("SysInfo.SysMemAvailable");
    return meminfo_("MemAvailable");
}
int64_t SysSwapTotal()
{
    TRACE("SysInfo.SysSwapTotal");
    return meminfo_("SwapTotal");
}
int64_t SysSwapFree()
{
    TRACE("SysInfo.SysSwapFree");
    return meminfo_("SwapFree");
}

bool SysUname(std::string& sysname, std::string& release, std::string& version, std::string& machine)
{
    TRACE("SysInfo.SysUname");
    struct utsname u;
    if (uname(&u) != 0) return false;
    sysname = u.sysname;
    release = u.release;
    version = u.version;
    machine = u.machine;
    return true;
}

std::string SysVersionText()
{
    TRACE("SysInfo.SysVersionText");
    std::string s, r, v, m;
    if (!SysUname(s, r, v, m)) return std::string();
    return s + " " + r + " " + v + " " + m;
}

static std::string SpaceRoot_;
static std::function<bool(int64_t&, int64_t&)> SpaceProbe_;

void SysSetDiskSpaceProbe(const std::string& root, const std::function<bool(int64_t& freeBytes, int64_t& totalBytes)>& probe)
{
    TRACE("SysInfo.SysSetDiskSpaceProbe");
    SpaceRoot_ = root;
    SpaceProbe_ = root.empty() ? nullptr : probe;
}

bool SysDiskSpace(const std::string& path, int64_t& freeBytes, int64_t& totalBytes)
{
    TRACE("SysInfo.SysDiskSpace");
    freeBytes = totalBytes = 0;
    if (SpaceProbe_ && path.compare(0, SpaceRoot_.size(), SpaceRoot_) == 0) return SpaceProbe_(freeBytes, totalBytes);
    struct statvfs v;
    if (path.empty() || statvfs(path.c_str(), &v) != 0) return false;
    freeBytes = static_cast<int64_t>(v.f_bavail) * static_cast<int64_t>(v.f_frsize);
    totalBytes = static_cast<int64_t>(v.f_blocks) * static_cast<int64_t>(v.f_frsize);
    return true;
}

std::vector<std::string> SysSplitCommandLine(const std::string& text)
{
    TRACE("SysInfo.SysSplitCommandLine");
    std::vector<std::string> args;
    std::string cur;
    bool inQuotes = false, have = false;
    for (char c : text) {
        if (c == '"') {
            inQuotes = !inQuotes;
            have = true;
        } else if (!inQuotes && (c == ' ' || c == '\t')) {
            if (have) args.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have) args.push_back(cur);
    return args;
}

bool SysStartProcess(const std::string& file, const std::vector<std::string>& args,
                     const std::string& folder, bool wait, int* exitCode)
{
    TRACE("SysInfo.SysStartProcess");
    if (file.empty()) return false;
    // Everything the child needs is built before fork: after it only async-signal-safe calls.
    std::vector<std::string> all;
    all.push_back(file);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const char* dir = folder.empty() ? nullptr : folder.c_str();

    // The pipe reports a failed exec: it closes unread when exec succeeds.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        if (!wait) {
            // Detach through a second child so no zombie is left behind.
            setsid();
            pid_t inner = fork();
            if (inner < 0) {
                int e = errno;
                (void)!write(fds[1], &e, sizeof e);
                _exit(127);
            }
            if (inner > 0) _exit(0);
        }
        if (dir && chdir(dir) != 0) {
            int e = errno;
            (void)!write(fds[1], &e, sizeof e);
            _exit(127);
        }
        execvp(argv[0], argv.data());
        int e = errno;
        (void)!write(fds[1], &e, sizeof e);
        _exit(127);
    }
    close(fds[1]);
    int err = 0;
    ssize_t n;
    do {
        n = read(fds[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    close(fds[0]);
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (n > 0) return false;
    if (wait && exitCode) *exitCode = (r == pid && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return true;
}

bool SysIsExecutable(const std::string& path)
{
    TRACE("SysInfo.SysIsExecutable");
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool SysOpenDocument(const std::string& target)
{
    TRACE("SysInfo.SysOpenDocument");
    if (target.empty()) return false;
    return SysStartProcess("xdg-open", {target}, std::string(), false);
}
