// Which drive the program works on: a drive root folder or a disk image, and what chose it.
#pragma once

#include <string>

struct DriveChoice {
    std::string path;    // a drive root folder or a disk image; empty: the environment's Windows folder
    int partition = 0;   // of a disk image; 0 chooses
    std::string source;  // what chose it: "--drive", "KVS_DRIVE", "KVS_WINDOWS_DIR", "Kvs.ini", "demo"
};
