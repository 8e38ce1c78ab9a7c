#include "base/Mon.h"

#include "base/NumGroup.h"
#include "base/Registry.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <typeinfo>
#include <vector>

namespace {

struct Frame {
    int memMark = 0;
    int fileMark = 0;
    bool raised = false;
    bool transparent = false;
    int32_t cls = 0;
    int32_t code = 0;
};

struct MonState {
    int32_t cls = 0, code = 0;
    std::string message;
    bool lock = false;
    int32_t warnCls = 0, warnCode = 0;
    std::string warnMessage;
    Frame frames[MON_MAX_FRAMES];
    int depth = 0;
    bool suspended = false;
    void (*foregroundHook)(const std::string&) = nullptr;

    // trace
    std::vector<const char*> names;
    int traceState = -1;  // -1: not yet decided from the environment
    std::string traceFile;
    // The file and memory registry is built first so that it is torn down after the monitor,
    // whose destructor still writes the leak report from it.
    MonState() { (void)RegGet(); }
    ~MonState();
};

MonState& M()
{
    static MonState state;
    return state;
}

std::string Grouped_(uint64_t v) { return NumGroupDigits(v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<int64_t>(v)); }

void TraceLine_(const std::string& line)
{
    auto& m = M();
    if (m.traceState != 1) return;
    // Plain stdio, not the file table: the trace must not record, raise or release anything.
    std::FILE* fp = std::fopen(m.traceFile.c_str(), "ab");
    if (!fp) fp = std::fopen(m.traceFile.c_str(), "wb");
    if (!fp) return;
    std::fwrite(line.data(), 1, line.size(), fp);
    std::fwrite("\r\n", 1, 2, fp);
    std::fclose(fp);
}

void MemoryStatus_(uint64_t& physTotal, uint64_t& physFree, uint64_t& swapTotal, uint64_t& swapFree)
{
    physTotal = physFree = swapTotal = swapFree = 0;
    std::ifstream in("/proc/meminfo");
    std::string key;
    uint64_t value = 0;
    std::string unit;
    while (in >> key >> value) {
        std::getline(in, unit);
        if (key == "MemTotal:") physTotal = value;
        else if (key == "MemAvailable:") physFree = value;
        else if (key == "SwapTotal:") swapTotal = value;
        else if (key == "SwapFree:") swapFree = value;
    }
}

void LogError_(char marker, int32_t cls, int32_t code, const std::string& message, int line)
{
    auto& m = M();
    if (m.traceState != 1) return;
    TraceLine_(std::string(1, marker) + std::to_string(cls) + ":" + std::to_string(code) + ";\"" + message + "\"");
    std::string stack;
    for (size_t i = 0; i < m.names.size(); ++i) stack += (i ? ":" : "") + std::string(m.names[i]);
    TraceLine_("@" + stack + ";" + std::to_string(line));
    uint64_t pt, pf, st, sf;
    MemoryStatus_(pt, pf, st, sf);
    std::string status = "Physical memory:\r\n  total: " + Grouped_(pt) + "k, free: " + Grouped_(pf) + "k\r\n" +
                         "Swap memory:\r\n  total: " + Grouped_(st) + "k, free: " + Grouped_(sf) + "k\r\n";
    std::error_code ec;
    auto space = std::filesystem::space("/", ec);
    status += "Drive /\r\n  total: " + Grouped_(ec ? 0 : space.capacity / 1024) +
              "k, free: " + Grouped_(ec ? 0 : space.available / 1024) + "k";
    TraceWriteLines(status);
}

void Release_(const Frame& f)
{
    auto& m = M();
    bool lock = m.lock, suspended = m.suspended;
    m.suspended = true;
    m.lock = true;
    try {
        MemFreeFrom(f.memMark);
        FCloseFrom(f.fileMark);
    } catch (...) {
    }
    m.lock = lock;
    m.suspended = suspended;
}

std::string ForeignText_()
{
    std::string text;
    try {
        throw;
    } catch (const std::exception& e) {
        text = std::string("Exception ") + typeid(e).name() + " in module kelvane-studio: " + e.what();
    } catch (...) {
        text = "Exception of unknown type in module kelvane-studio.";
    }
    if (text.size() > 1024) text.resize(1024);
    return text;
}

}  // namespace

MonState::~MonState()
{
    if (traceState == 1) {
        if (depth > 0) TraceWriteLines("Monitoring failure: " + std::to_string(depth) + " hanging processes.");
        TraceWriteLines(MemLeakReport());
    }
}

void MonBegin()
{
    auto& m = M();
    if (m.suspended) return;
    if (m.depth >= MON_MAX_FRAMES) {
        ForegroundErrorBox("Fatal error: internal monitoring overflow.");
        std::exit(3);
    }
    Frame& f = m.frames[m.depth++];
    f = Frame{};
    f.memMark = MemCount();
    f.fileMark = FileCount();
    m.cls = m.code = 0;
    m.warnCls = m.warnCode = 0;
    m.warnMessage.clear();
}

void MonBeginTransparent()
{
    auto& m = M();
    if (m.suspended) return;
    MonBegin();
    m.frames[m.depth - 1].transparent = true;
}

void MonExcept()
{
    auto& m = M();
    if (m.suspended) return;
    if (m.depth == 0 || m.cls != 0 || m.code != 0) return;
    Frame& top = m.frames[m.depth - 1];
    if (top.raised) return;
    Release_(top);
    m.cls = EC_FOREIGN;
    m.code = MON_MSG_CODE;
    m.message = ForeignText_();
    top.cls = m.cls;
    top.code = m.code;
    top.raised = true;
    LogError_('!', m.cls, m.code, m.message, 0);
}

void MonEnd()
{
    auto& m = M();
    if (m.suspended || m.depth == 0) return;
    Frame popped = m.frames[m.depth - 1];
    if (popped.cls != 0 && popped.code != 0) Release_(popped);
    --m.depth;
    m.cls = popped.cls;
    m.code = popped.code;
    if (popped.transparent) return;
    bool hasError = popped.cls != 0 && popped.code != 0;
    if (m.depth > 0) {
        Frame& parent = m.frames[m.depth - 1];
        parent.cls = popped.cls;
        parent.code = popped.code;
        // A quiet MonExit must not mark the parent as raised: its own later errors still have to raise.
        parent.raised = hasError && popped.raised;
    }
    if (hasError && popped.raised) throw EMon(MonMessage(popped.cls, popped.code));
}

void MonExit()
{
    auto& m = M();
    if (m.depth > 0) m.frames[m.depth - 1].raised = true;
    throw EMon("");
}

static void RecordError_(int32_t cls, int32_t code, const std::string* message, int line)
{
    auto& m = M();
    if (m.lock) return;
    m.lock = true;
    if (cls != 0 && code != 0) {
        m.cls = cls;
        m.code = code;
        if (message) m.message = *message;
        LogError_('!', cls, code, MonMessage(cls, code), line);
        m.names.clear();
    }
    m.lock = false;
    if (m.suspended || m.depth == 0 || cls == 0 || code == 0) return;
    Frame& top = m.frames[m.depth - 1];
    if (top.raised) return;
    top.cls = cls;
    top.code = code;
    Release_(top);
    top.raised = true;
    throw EMon(MonMessage(cls, code));
}

void MonError(int32_t cls, int32_t code, int line) { RecordError_(cls, code, nullptr, line); }

void MonErrorMsg(int32_t cls, const std::string& message, int line) { RecordError_(cls, MON_MSG_CODE, &message, line); }

static void RecordWarning_(int32_t cls, int32_t code, const std::string& message, int line)
{
    auto& m = M();
    if (m.suspended) return;
    if (cls != 0 && code != 0) {
        m.warnCls = cls;
        m.warnCode = code;
        m.warnMessage = message;
        std::string text = code == MON_MSG_CODE ? message : MonMessage(cls, code);
        LogError_('?', cls, code, text, line);
    } else {
        m.warnCls = m.warnCode = 0;
        m.warnMessage.clear();
    }
}

void MonWarning(int32_t cls, int32_t code, int line) { RecordWarning_(cls, code, std::string(), line); }

void MonWarningMsg(int32_t cls, const std::string& message, int line) { RecordWarning_(cls, MON_MSG_CODE, message, line); }

void MonClearError()
{
    auto& m = M();
    if (m.lock || m.suspended) return;
    m.cls = m.code = 0;
}

bool MonOK() { return M().cls == 0 && M().code == 0; }

void MonErrorText(std::string& text) { MonMessage(M().cls, M().code, text); }

std::string MonErrorText() { return MonMessage(M().cls, M().code); }

int32_t MonErrorClass() { return M().cls; }
int32_t MonWarningClass() { return M().warnCls; }
int32_t MonWarningCode() { return M().warnCode; }
int MonDepth() { return M().depth; }

std::string MonMessage(int32_t cls, int32_t code)
{
    std::string t;
    MonMessage(cls, code, t);
    return t;
}

void MonMessage(int32_t cls, int32_t code, std::string& text)
{
    auto pick = [code](std::initializer_list<const char*> texts, const char* other) -> std::string {
        if (code >= 1 && code <= static_cast<int32_t>(texts.size())) return *(texts.begin() + (code - 1));
        return other;
    };
    const std::string num = std::to_string(code);
    if (cls == 0 || code == 0) {
        text = "No errors.";
        return;
    }
    switch (cls) {
    case 1:
    case 2:
    case 3:
        text = M().message;
        break;
    case 4:
        text = pick({"Out of range.", "Not supported.", "Invalid variable type."}, "General \"GEN\" error.");
        break;
    case 5:
        text = pick({"Memory allocation fault.", "Memory manager fault.", "Memory reallocation fault.",
                     "Memory could not be deallocated.", "Invalid memory request.", "Fatal memory manager error."},
                    "General memory fault.");
        break;
    case 6: {
        const std::string& name = LastFileName();
        switch (code) {
        case 1: text = "Cannot open file: " + name; break;
        case 2: text = "Cannot create file: " + name; break;
        case 3: text = "Cannot read from file."; break;
        case 4: text = "Cannot write to file."; break;
        case 5: text = "Cannot seek in file."; break;
        case 6: text = "Cannot delete file: " + name; break;
        case 7: text = "Cannot append to file: " + name; break;
        case 8: text = "Cannot close file."; break;
        case 9: text = "File not exist."; break;
        case 10: text = "File name change failed."; break;
        case 11: text = "Fatal file manager fault."; break;
        default: text = "General file handling fault.";
        }
        break;
    }
    case 7:
        text = pick({"Image format not supported.", "Invalid image format.", "Cannot decompress image data.",
                     "Image header invalid.", "Cannot compress image data.", "Cannot initialize image function.",
                     "Cannot initialize image compression data.", "Cannot open image file.", "Image data corrupted.",
                     "Cannot realize palette.", "Cannot create image file."},
                    "General image handling fault.");
        break;
    case 8:
        text = pick({"Audio conversion error.", "Audio conversion error (ACM).", "Audio conversion error (WAVE).",
                     "Invalid audio format."},
                    "General audio handling fault.");
        break;
    case 9:
        text = pick({"Cannot read from AVI file.", "Cannot write to AVI file.", "Cannot read audio data from AVI file.",
                     "Cannot write audio data to AVI file.", "Cannot open AVI file.", "Cannot create AVI file.",
                     "Cannot initialize AVI codec.",
                     "AVI audio stream not valid (decompressor not found?), ignoring audio"},
                    "General AVI handling fault.");
        break;
    case 10: text = "AVI subsystem malfunction: " + num; break;
    case 11: text = "Video For Windows malfunction: " + num; break;
    case 12:
    case 14:
        text = pick({"Invalid movie format.", "Cannot write to movie file.", "Cannot decompress movie image data.",
                     "Cannot compress movie image data.", "Movie format not supported.", "Cannot open movie file.",
                     "End of movie reached.", "Cannot create movie file."},
                    "General \"MVI\" handling fault.");
        break;
    case 13:
        text = pick({"Cannot open WAV file.", "Cannot create WAV file.", "Cannot read from WAV file.",
                     "Cannot write to WAV file.", "Cannot seek in WAV file."},
                    "general \"WAV\" handling fault.");
        break;
    case 15: text = pick({"End of QMF movie reached."}, "General \"QMF\" handling fault."); break;
    case 16: text = pick({"UNI protocol fault."}, "General \"UNI\" handling fault."); break;
    case 17: text = pick({"End of FLIC movie reached."}, "General \"FLIC\" handling fault."); break;
    case 19: text = "Fatal error in Audio Compression Manager: " + num; break;
    case 20: text = "Fatal error in Win-MM: " + num; break;
    default: text = "Undefined error: " + std::to_string(cls) + ":" + num;
    }
}

// ---------------------------------------------------------------- trace

static void DecideTrace_()
{
    auto& m = M();
    if (m.traceState >= 0) return;
    const char* env = std::getenv("KVS_TRACE");
    m.traceState = (env && env[0] == '1') ? 1 : 0;
    const char* file = std::getenv("KVS_TRACE_FILE");
    if (m.traceFile.empty()) m.traceFile = file && *file ? file : "trace.txt";
}

bool TraceEnabled()
{
    DecideTrace_();
    return M().traceState == 1;
}

void TraceSetEnabled(bool on)
{
    DecideTrace_();
    M().traceState = on ? 1 : 0;
}

void TraceSetFile(const std::string& path)
{
    DecideTrace_();
    M().traceFile = path;
}

void TracePush(const char* name)
{
    auto& m = M();
    if (m.traceState < 0) DecideTrace_();
    if (m.traceState == 1 && m.names.size() < MON_MAX_FRAMES) m.names.push_back(name);
}

void TracePop()
{
    auto& m = M();
    if (m.traceState == 1 && !m.names.empty()) m.names.pop_back();
}

void TraceWriteLines(const std::string& text)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find("\r\n", start);
        std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (end == std::string::npos) {
            if (!piece.empty()) TraceLine_("#" + piece);
            break;
        }
        TraceLine_("#" + piece);
        start = end + 2;
    }
}

void MonSetForegroundErrorHook(void (*hook)(const std::string&)) { M().foregroundHook = hook; }

void ForegroundErrorBox(const std::string& text)
{
    if (M().foregroundHook) {
        M().foregroundHook(text);
        return;
    }
    std::fprintf(stderr, "Error: %s\n", text.c_str());
}
