#include "core/ProgramDir.h"

#include "base/FileUtil.h"
#include "base/Mon.h"
#include "platform/WinUtils.h"

static std::string ProgramDir_;

std::string GetProgramDir()
{
    TRACE("ProgramDir.GetProgramDir");
    if (ProgramDir_.empty()) ProgramDir_ = AddBS(GetAppDir());
    return ProgramDir_;
}

void ProgramDirForget() { ProgramDir_.clear(); }
