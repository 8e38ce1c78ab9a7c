// Opening a picture file for reading. Every reader comes through here, so a device, a FIFO
// or a folder given as a picture is refused before anything waits on it or reads it.
#pragma once

#include <string>

// Raises the file error "Cannot open file: name" unless name is a regular file (links are
// followed); a missing file is left to the open that follows, which reports it the same way.
void FFCheckRegular(const std::string& name);
// FFCheckRegular, then FOpen for reading.
void FFOpenRead(int& handle, const std::string& name);
