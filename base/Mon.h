// The error monitor and the procedure trace.
//
// A procedure that can fail runs its body as
//     MonBegin(); try { body } catch (...) { MonExcept(); } MonEnd();
// (MonBlock below does exactly that). MonError inside a block releases the memory and files
// acquired since the block began and throws EMon; each enclosing block hands it on.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

class EMon : public std::runtime_error {
public:
    explicit EMon(const std::string& message) : std::runtime_error(message) {}
};

// Error classes.
enum {
    EC_CODEC = 1, EC_FOREIGN = 3, EC_GENERAL = 4, EC_MEMORY = 5, EC_FILE = 6, EC_IMAGE = 7,
    EC_MOVIE = 12, EC_MOVIE2 = 14
};
// Image-class codes.
enum {
    IE_NOT_SUPPORTED = 1, IE_INVALID_FORMAT = 2, IE_DECOMPRESS = 3, IE_HEADER = 4, IE_COMPRESS = 5,
    IE_INIT_FUNCTION = 6, IE_INIT_COMPRESSION = 7, IE_OPEN = 8, IE_CORRUPTED = 9, IE_PALETTE = 10,
    IE_CREATE = 11
};
// General-class codes.
enum { GE_RANGE = 1, GE_NOT_SUPPORTED = 2, GE_VARIANT = 3 };
// Memory-class codes.
enum { ME_ALLOC = 1, ME_MANAGER = 2, ME_REALLOC = 3, ME_FREE = 4, ME_REQUEST = 5, ME_FATAL = 6 };
// File-class codes.
enum {
    FE_OPEN = 1, FE_CREATE = 2, FE_READ = 3, FE_WRITE = 4, FE_SEEK = 5, FE_DELETE = 6, FE_APPEND = 7, FE_CLOSE = 8,
    FE_NOT_EXIST = 9, FE_RENAME = 10, FE_FATAL = 11
};
// Movie-class codes (classes 12 and 14).
enum { MVE_INVALID_FORMAT = 1, MVE_END = 7 };
constexpr int32_t MON_MSG_CODE = 2147483647;
constexpr int MON_MAX_FRAMES = 256;

void MonBegin();
void MonBeginTransparent();
void MonExcept();
void MonEnd();
[[noreturn]] void MonExit();
void MonError(int32_t cls, int32_t code, int line);
void MonErrorMsg(int32_t cls, const std::string& message, int line);
void MonWarning(int32_t cls, int32_t code, int line);
void MonWarningMsg(int32_t cls, const std::string& message, int line);
void MonClearError();
bool MonOK();
void MonErrorText(std::string& text);
std::string MonErrorText();
void MonMessage(int32_t cls, int32_t code, std::string& text);
std::string MonMessage(int32_t cls, int32_t code);

// Current error and warning, for tests and callers of transparent blocks.
int32_t MonErrorClass();
int32_t MonWarningClass();
int32_t MonWarningCode();
int MonDepth();

void TracePush(const char* name);
void TracePop();
bool TraceEnabled();
void TraceSetEnabled(bool on);
void TraceSetFile(const std::string& path);
// Writes text to the trace, each CR LF-separated piece as its own line prefixed with "#".
void TraceWriteLines(const std::string& text);

// Shows a system-level error box; on Linux this goes to standard error (and the GUI's box when one runs).
void ForegroundErrorBox(const std::string& text);
// Hook the GUI installs so ForegroundErrorBox can show a real box.
void MonSetForegroundErrorHook(void (*hook)(const std::string&));

// Announces a procedure on the trace for the lifetime of the scope, early exits included.
struct TraceScope {
    explicit TraceScope(const char* name) { TracePush(name); }
    ~TraceScope() { TracePop(); }
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;
};
#define KVS_TRACE_CAT2_(a, b) a##b
#define KVS_TRACE_CAT_(a, b) KVS_TRACE_CAT2_(a, b)
#define TRACE(name) TraceScope KVS_TRACE_CAT_(traceScope_, __LINE__)(name)

// Runs body inside a monitor block. Throws EMon when the block ends with an error
// (unless the block is transparent).
template <class F> void MonBlock(F&& body)
{
    MonBegin();
    try {
        body();
    } catch (...) {
        MonExcept();
    }
    MonEnd();
}
template <class F> void MonBlockTransparent(F&& body)
{
    MonBeginTransparent();
    try {
        body();
    } catch (...) {
        MonExcept();
    }
    MonEnd();
}
