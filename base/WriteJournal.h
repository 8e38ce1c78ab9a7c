// The order in which this program changes files. Each of its own file operations that writes,
// removes or renames (the safe write path, deleting, the folder and rename helpers) notes the path
// it changed; the write-back of a disk image reads the notes to write the changes in the order
// they were made. Noting costs next to nothing while nobody keeps the journal.
#pragma once

#include <string>
#include <vector>

// Starts keeping the journal (empty), or stops and empties it.
void JournalKeep(bool on);
// Notes that path (a file or a folder) was changed just now.
void JournalNote(const std::string& path);
// The paths noted since the last call, oldest first; the journal is empty afterwards.
std::vector<std::string> JournalTake();
