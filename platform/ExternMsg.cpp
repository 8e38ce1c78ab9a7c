// Routing of libtiff's error and warning texts to receivers of the program's choice.
#include "platform/ExternMsg.h"

#include <cstdarg>
#include <cstdio>

#include <tiffio.h>

#include "base/Mon.h"

static ExternMsgProc ExternError_ = nullptr;
static ExternMsgProc ExternWarning_ = nullptr;

static void TiffMsg_(ExternMsgProc proc, const char* module, const char* fmt, va_list ap)
{
    if (!proc) return;
    char text[1024];
    int n = 0;
    if (module && *module) {
        n = snprintf(text, sizeof text, "%s: ", module);
        if (n < 0 || n >= (int)sizeof text / 2) n = 0;
    }
    vsnprintf(text + n, sizeof text - (size_t)n, fmt, ap);
    proc(text);
}

static void TiffError_(const char* module, const char* fmt, va_list ap)
{
    TiffMsg_(ExternError_, module, fmt, ap);
}

static void TiffWarning_(const char* module, const char* fmt, va_list ap)
{
    TiffMsg_(ExternWarning_, module, fmt, ap);
}

void ExternErrorSet(ExternMsgProc proc)
{
    TRACE("ExternMsg.ExternErrorSet");
    ExternError_ = proc;
    TIFFSetErrorHandler(TiffError_);
}

void ExternWarningSet(ExternMsgProc proc)
{
    TRACE("ExternMsg.ExternWarningSet");
    ExternWarning_ = proc;
    TIFFSetWarningHandler(TiffWarning_);
}
