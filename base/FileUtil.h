// Paths and files: folder separators, file sizes, text files, extensions, folder trees. Paths use
// '/'; folder results end with '/'.
#pragma once

#include <cstdint>
#include <string>

// Appends '/' to a non-empty path that lacks it.
std::string AddBS(const std::string& path);
// Size in bytes of the first file matching the name or pattern ('*', '?' in the last part, letter
// case ignored as on Windows); Undef when nothing matches. A folder counts with size 0.
int64_t GetFileSize(const std::string& nameOrPattern);
// The text file's lines joined with CR LF (none after the last); empty text when it cannot be
// read. Failures stay recorded in the monitor and do not propagate.
std::string FileToStr(const std::string& name);
// Writes text and CR LF, appending or replacing the file (a replaced file is written
// through the safe write path). Failures stay recorded in the monitor.
void StrToFile(const std::string& name, const std::string& text, bool append);
// Replaces or removes (empty ext) the name's extension; ext gets its '.' when missing.
std::string ForceFileExt(const std::string& name, const std::string& ext);
// Creates the folder and its missing parents; whether it exists afterwards.
bool MakeLongDir(const std::string& folder);
