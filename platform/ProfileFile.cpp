// Private profile files: parsed on demand from the raw lines, so that a write touches one line and
// the rest of the file is written back exactly as it was read.
#include "platform/ProfileFile.h"

#include "base/Basic.h"
#include "base/Mon.h"
#include "base/SafeFile.h"
#include "base/StrUtil.h"

#include "platform/DrivePath.h"
#include "platform/FileAttr.h"
#include "platform/FileStamp.h"
#include "platform/SysInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <cstring>
#include <map>

namespace {

struct Line {
    std::string text;  // without the line end
    std::string eol;   // "\r\n", "\n" or "" (last line without end)
};

struct Cache {
    std::vector<Line> lines;
    FileStamp stamp;
    bool dirty = false;
    bool unusable = false;  // too big or not a regular file: never written over
    StampClock loadedAt;    // when the lines were read
};

bool flushPath_(const std::string& path, Cache& c);

struct Store {
    std::map<std::string, Cache> files;
    std::string batchFile;  // the file argument of the batch running, empty when none
    std::string batchPath;  // where it was found
    // Normal program end writes what a caller forgot to flush.
    ~Store()
    {
        // Nothing may leave the program's end: a file that cannot be written stays as it was.
        for (auto& [path, c] : files) {
            try {
                if (c.dirty) flushPath_(path, c);
            } catch (...) {
            }
        }
    }
};

Store& store_()
{
    static Store s;
    return s;
}

enum Kind { K_OTHER, K_BLANK, K_COMMENT, K_SECTION, K_KEY };

struct Parsed {
    Kind kind = K_OTHER;
    std::string name;   // section or key name, trimmed
    std::string value;  // key value, trimmed and unquoted
};

bool isBlank_(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string trim_(const std::string& s, size_t from = 0, size_t to = std::string::npos)
{
    if (to > s.size()) to = s.size();
    while (from < to && isBlank_(s[from])) ++from;
    while (to > from && isBlank_(s[to - 1])) --to;
    return s.substr(from, to - from);
}

Parsed parse_(const std::string& line, bool first)
{
    Parsed p;
    size_t i = 0;
    if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
    while (i < line.size() && isBlank_(line[i])) ++i;
    if (i == line.size()) {
        p.kind = K_BLANK;
        return p;
    }
    if (line[i] == ';') {
        p.kind = K_COMMENT;
        return p;
    }
    if (line[i] == '[') {
        size_t close = line.rfind(']');
        if (close != std::string::npos && close > i) {
            p.kind = K_SECTION;
            p.name = trim_(line, i + 1, close);
            return p;
        }
        // A header without ']' is no header; the line belongs to the section above.
    }
    size_t eq = line.find('=', i);
    if (eq == std::string::npos) return p;
    p.name = trim_(line, i, eq);
    if (p.name.empty()) return p;
    p.kind = K_KEY;
    p.value = trim_(line, eq + 1);
    if (p.value.size() >= 2 && (p.value.front() == '"' || p.value.front() == '\'') &&
        p.value.back() == p.value.front())
        p.value = p.value.substr(1, p.value.size() - 2);
    return p;
}

// Reads the file; the stamp is the one of what was opened, taken before the bytes are read, so a
// change while reading shows as a changed stamp later.
void load_(const std::string& path, Cache& c)
{
    c.lines.clear();
    c.dirty = false;
    c.unusable = false;
    c.loadedAt = StampNow();
    // Non-blocking: a FIFO put in the file's place must not stop the program.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        // A file that exists but cannot be read is never written over.
        c.stamp = missing ? FileStamp() : StampOf(path);
        c.unusable = c.stamp.exists;
        return;
    }
    c.stamp = StampOfFd(fd);
    if (!c.stamp.regular || c.stamp.size > PROFILE_MAX_FILE) {
        close(fd);
        c.unusable = true;
        return;
    }
    std::string data;
    data.resize(static_cast<size_t>(c.stamp.size));
    size_t got = 0;
    while (got < data.size()) {
        ssize_t n = read(fd, &data[got], data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    data.resize(got);
    size_t start = 0;
    while (start < data.size()) {
        size_t nl = data.find('\n', start);
        Line l;
        if (nl == std::string::npos) {
            l.text = data.substr(start);
            start = data.size();
        } else {
            size_t end = nl;
            if (end > start && data[end - 1] == '\r') --end;
            l.text = data.substr(start, end - start);
            l.eol = data.substr(end, nl + 1 - end);
            start = nl + 1;
        }
        c.lines.push_back(std::move(l));
    }
}

// The cache of a file, reloaded when the file changed on disk and we hold no unwritten changes;
// now is the file's stamp taken just before.
Cache& cacheFor_(const std::string& path, const FileStamp& now)
{
    auto& files = store_().files;
    auto it = files.find(path);
    if (it == files.end()) {
        Cache& c = files[path];
        load_(path, c);
        return c;
    }
    Cache& c = it->second;
    if (c.dirty) return c;
    if (!StampSame(now, c.stamp) || !StampSettled(c.stamp, c.loadedAt)) load_(path, c);
    return c;
}

// ProfileResolvePath, with the stamp of the file it names (one look at the file does both).
std::string resolve_(const std::string& file, FileStamp& stamp)
{
    stamp = FileStamp();
    if (file.empty()) return std::string();
    std::string path = file;
    if (file.find('/') == std::string::npos) {
        std::string win = SysWindowsDir();
        if (win.empty()) return std::string();
        path = win + file;
    }
    const size_t slash = path.rfind('/');
    const std::string name = path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        path = DriveResolve(path);
        stamp = StampOf(path);
        return path;
    }
    // Windows file names ignore case: on the drive every folder of the path, elsewhere the file.
    const std::string dir = DriveResolve(path.substr(0, slash + 1));
    stamp = StampOf(dir + name);
    if (stamp.exists) return dir + name;
    const std::string match = DriveFindName(dir, name);
    if (match.empty() || match == name) return dir + name;
    stamp = StampOf(dir + match);
    return dir + match;
}

// The cache of file; nullptr when it names no path. Within a batch its file is looked at once.
Cache* cacheOf_(const std::string& file)
{
    Store& st = store_();
    if (!st.batchFile.empty() && file == st.batchFile) {
        auto it = st.files.find(st.batchPath);
        if (it != st.files.end()) return &it->second;
    }
    FileStamp now;
    const std::string path = resolve_(file, now);
    if (path.empty()) return nullptr;
    Cache& c = cacheFor_(path, now);
    if (file == st.batchFile) st.batchPath = path;
    return &c;
}

// Index of the first header of the section, -1 when missing.
long findSection_(const Cache& c, const std::string& section)
{
    for (size_t i = 0; i < c.lines.size(); ++i) {
        Parsed p = parse_(c.lines[i].text, i == 0);
        if (p.kind == K_SECTION && SameText(p.name, section)) return static_cast<long>(i);
    }
    return -1;
}

// Line of the key in the section starting at header s, -1 when missing; last is the last
// non-blank line of the section.
long findKey_(const Cache& c, long s, const std::string& key, Parsed* found, long* last)
{
    if (last) *last = s;
    for (size_t i = static_cast<size_t>(s) + 1; i < c.lines.size(); ++i) {
        Parsed p = parse_(c.lines[i].text, false);
        if (p.kind == K_SECTION) break;
        if (p.kind != K_BLANK && last) *last = static_cast<long>(i);
        if (p.kind == K_KEY && SameText(p.name, key)) {
            if (found) *found = p;
            return static_cast<long>(i);
        }
    }
    return -1;
}

bool hasBreak_(const std::string& s)
{
    return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

void endLastLine_(Cache& c, size_t index)
{
    if (index < c.lines.size() && c.lines[index].eol.empty()) c.lines[index].eol = "\r\n";
}

bool flushPath_(const std::string& path, Cache& c)
{
    if (!c.dirty) return true;
    if (c.unusable) return false;
    // A read-only file stays as it is, as the profile service leaves it. A link is only looked
    // through here: the new file replaces the link itself.
    struct stat st;
    const bool existed = stat(path.c_str(), &st) == 0;
    if (existed && (!S_ISREG(st.st_mode) || access(path.c_str(), W_OK) != 0 || (FileGetAttr(path) & FA_READONLY)))
        return false;
    std::string data;
    for (const Line& l : c.lines) {
        data += l.text;
        data += l.eol;
    }
    const bool written = SafeWriteWith(path, [&](const std::string& temp) {
        int h = Undef;
        FOpen(h, temp, FM_CREATE | FM_WRITE);
        FWrite(h, data.data(), static_cast<int64_t>(data.size()));
        FClose(h);
        // MSDOS.SYS keeps its hidden and system bits.
        if (existed) FileCopyAttr(path, temp);
    });
    if (!written) return false;
    c.dirty = false;
    c.loadedAt = StampNow();
    c.stamp = StampOf(path);
    return true;
}

}  // namespace

std::string ProfileResolvePath(const std::string& file)
{
    TRACE("ProfileFile.ProfileResolvePath");
    FileStamp stamp;
    return resolve_(file, stamp);
}

int ProfileReadString(const std::string& section, const std::string& key, const std::string& def,
                      std::string& out, int bufferSize, const std::string& file)
{
    TRACE("ProfileFile.ProfileReadString");
    out.clear();
    if (bufferSize <= 0) return 0;
    std::string value = def;
    std::string k = trim_(key);
    std::string s = trim_(section);
    Cache* cache = k.empty() ? nullptr : cacheOf_(file);
    if (cache) {
        const Cache& c = *cache;
        long at = findSection_(c, s);
        Parsed p;
        if (at >= 0 && findKey_(c, at, k, &p, nullptr) >= 0) value = p.value;
    }
    if (value.size() > static_cast<size_t>(bufferSize - 1)) value.resize(static_cast<size_t>(bufferSize - 1));
    out = value;
    return static_cast<int>(out.size());
}

bool ProfileWriteString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& file)
{
    TRACE("ProfileFile.ProfileWriteString");
    std::string s = trim_(section);
    std::string k = trim_(key);
    if (s.empty() || k.empty() || hasBreak_(section) || hasBreak_(key) || hasBreak_(value)) return false;
    if (k.find('=') != std::string::npos || k[0] == '[' || k[0] == ';') return false;
    Cache* cache = cacheOf_(file);
    if (!cache) return false;
    Cache& c = *cache;
    if (c.unusable) return false;
    std::string line = k + "=" + value;
    long at = findSection_(c, s);
    if (at < 0) {
        if (!c.lines.empty()) {
            endLastLine_(c, c.lines.size() - 1);
            if (parse_(c.lines.back().text, c.lines.size() == 1).kind != K_BLANK)
                c.lines.push_back({std::string(), "\r\n"});
        }
        c.lines.push_back({"[" + s + "]", "\r\n"});
        c.lines.push_back({line, "\r\n"});
        c.dirty = true;
        return true;
    }
    Parsed p;
    long last = at;
    long found = findKey_(c, at, k, &p, &last);
    if (found >= 0) {
        Parsed now = parse_(line, false);
        if (now.value == p.value && now.kind == K_KEY) return true;  // already holds it
        c.lines[static_cast<size_t>(found)].text = p.name + "=" + value;
        c.dirty = true;
        return true;
    }
    endLastLine_(c, static_cast<size_t>(last));
    c.lines.insert(c.lines.begin() + last + 1, Line{line, "\r\n"});
    c.dirty = true;
    return true;
}

bool ProfileDeleteKey(const std::string& section, const std::string& key, const std::string& file)
{
    TRACE("ProfileFile.ProfileDeleteKey");
    Cache* cache = cacheOf_(file);
    if (!cache) return false;
    Cache& c = *cache;
    if (c.unusable) return false;
    long at = findSection_(c, trim_(section));
    if (at < 0) return true;
    long found = findKey_(c, at, trim_(key), nullptr, nullptr);
    if (found < 0) return true;
    c.lines.erase(c.lines.begin() + found);
    c.dirty = true;
    return true;
}

bool ProfileSectionExists(const std::string& section, const std::string& file, bool prefix)
{
    TRACE("ProfileFile.ProfileSectionExists");
    Cache* cache = cacheOf_(file);
    if (!cache) return false;
    Cache& c = *cache;
    std::string s = trim_(section);
    if (findSection_(c, s) >= 0) return true;
    if (!prefix) return false;
    std::string head = s + "\\";
    for (size_t i = 0; i < c.lines.size(); ++i) {
        Parsed p = parse_(c.lines[i].text, i == 0);
        if (p.kind == K_SECTION && p.name.size() > head.size() && SameText(p.name.substr(0, head.size()), head))
            return true;
    }
    return false;
}

bool ProfileAddSection(const std::string& section, const std::string& file)
{
    TRACE("ProfileFile.ProfileAddSection");
    std::string s = trim_(section);
    if (s.empty() || hasBreak_(section)) return false;
    Cache* cache = cacheOf_(file);
    if (!cache) return false;
    Cache& c = *cache;
    if (c.unusable) return false;
    if (findSection_(c, s) >= 0) return true;
    if (!c.lines.empty()) {
        endLastLine_(c, c.lines.size() - 1);
        if (parse_(c.lines.back().text, c.lines.size() == 1).kind != K_BLANK)
            c.lines.push_back({std::string(), "\r\n"});
    }
    c.lines.push_back({"[" + s + "]", "\r\n"});
    c.dirty = true;
    return true;
}

std::vector<std::string> ProfileKeys(const std::string& section, const std::string& file)
{
    TRACE("ProfileFile.ProfileKeys");
    std::vector<std::string> keys;
    Cache* cache = cacheOf_(file);
    if (!cache) return keys;
    Cache& c = *cache;
    long at = findSection_(c, trim_(section));
    if (at < 0) return keys;
    for (size_t i = static_cast<size_t>(at) + 1; i < c.lines.size(); ++i) {
        Parsed p = parse_(c.lines[i].text, false);
        if (p.kind == K_SECTION) break;
        if (p.kind != K_KEY) continue;
        bool seen = false;
        for (const std::string& k : keys) seen = seen || SameText(k, p.name);
        if (!seen) keys.push_back(p.name);
    }
    return keys;
}

bool ProfileFlush(const std::string& file)
{
    TRACE("ProfileFile.ProfileFlush");
    std::string path = ProfileResolvePath(file);
    if (path.empty()) return false;
    auto& files = store_().files;
    auto it = files.find(path);
    if (it == files.end()) return true;
    return flushPath_(path, it->second);
}

void ProfileInBatch(const std::string& file, const std::function<void()>& body)
{
    TRACE("ProfileFile.ProfileInBatch");
    Store& st = store_();
    st.batchFile = file;
    st.batchPath.clear();
    try {
        body();
    } catch (...) {
        st.batchFile.clear();
        throw;
    }
    st.batchFile.clear();
}

void ProfileDropCache()
{
    TRACE("ProfileFile.ProfileDropCache");
    store_().batchFile.clear();
    store_().files.clear();
}

void ProfileForget(const std::string& file)
{
    TRACE("ProfileFile.ProfileForget");
    const std::string path = ProfileResolvePath(file);
    if (!path.empty()) store_().files.erase(path);
}
