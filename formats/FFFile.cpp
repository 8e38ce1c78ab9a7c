// Opening a picture file for reading.
#include "formats/FFFile.h"

#include <sys/stat.h>

#include "base/Basic.h"
#include "base/Mon.h"

void FFCheckRegular(const std::string& name)
{
    TRACE("FFFile.FFCheckRegular");
    struct stat st;
    if (stat(name.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return;
    // The file error names the file last given to the file layer.
    SetLastFileName(name);
    MonError(EC_FILE, FE_OPEN, __LINE__);
}

void FFOpenRead(int& handle, const std::string& name)
{
    TRACE("FFFile.FFOpenRead");
    FFCheckRegular(name);
    FOpen(handle, name, FM_READ);
}
