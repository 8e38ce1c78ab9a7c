// Backup of the logo files before their first replacement, and the restore file "restore.bat"
// in the backup folder that undoes the program's changes (run by hand or by the program).
#pragma once

#include <string>
#include <vector>

#include "core/Outcome.h"

constexpr const char* RESTORE_FILE = "restore.bat";
constexpr const char* RESTORE_DONE = "Previous logos restored.";

// Called before each write of a logo file; false when the logo must not be written.
bool BackupLogoFile(const std::string& logoPath);
// The first free "logo<N>.bmp" in folder (trailing separator optional); empty when none is free.
std::string NextBackupName(const std::string& folder);
// Adds line to the restore file unless logoPath is already recorded there; whether it added it.
bool AppendRestoreLine(const std::string& batPath, const std::string& logoPath, const std::string& line);
// Text between the n-th pair of double quotes (n from 1); empty when there are fewer pairs.
std::string QuotedField(const std::string& line, int n);
// Whether the backup folder holds a restore file.
bool RestoreFileExists();
// Carries out the restore file of the backup folder, every line even after one failed; the texts
// of the lines that could not be carried out (an unreadable file is one of them).
std::vector<std::string> RestoreLogos();
// The last step of "/uninst": deletes every stored image and the index; false when an image stayed.
bool UninstallDeleteStore();
