// Adding pictures to the image store: each file is loaded through the format dispatcher, fitted
// to 320 x 400 by the resize mode, reduced to the logo palette and stored as PNG under
// "<DefPrefix>--<name>.png". Name clashes are settled by the clash dialog, whose choice may hold
// for the rest of the batch; Esc in the window stops the batch after the current file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/LogoFit.h"
#include "core/Outcome.h"

struct Image;
struct ImageEntry;

// The answer of the name-clash dialog during a batch (adding images, galleries). Reset to 0 when
// a batch starts; Esc in the main window sets OC_ABORT.
extern int32_t OverwriteChoice;  // an OC_ value

constexpr const char* CLASH_CAPTION = "Image Already Exists";
constexpr const char* STORAGE_DIR_ERROR = "Couldn't make storage directory.";

// What a batch did, for callers that report it (kvs).
struct AddResult {
    std::vector<std::string> Stored;  // store names, in the order they were stored
    int Failed = 0;                   // files that could not be loaded or stored
    bool Aborted = false;             // OverwriteChoice became OC_ABORT
    std::string Error;                // the error that ended the batch, empty when none
};

// "Add": stores the files fitted by resizeMode (RM_*; another value keeps the setting) under
// prefix (empty keeps DefPrefix); both become the settings, as the resize-mode dialog does.
// Name clashes are answered through ask.
Outcome ImagesAdd(const std::vector<std::string>& files, int resizeMode, const std::string& prefix, const Answers& ask);
// Adds the files in order; writes the index at the end, also after an abort or a failure.
void ImagesAddBatch(const std::vector<std::string>& files, AddResult* result = nullptr);
// Loads, fits, reduces and stores one picture. target is in and out: the final stored path,
// empty when skipped. Fills entry; true when an image was stored.
bool ImagesAddOne(const std::string& source, std::string& target, ImageEntry& entry);
// The final target path, or empty text to skip the file.
std::string ResolveNameClash(const std::string& target);

// The stored path a source file gets: storage folder + DefPrefix + "--" + the source name behind
// its own prefix, with ".png". A plain file name of at most 127 characters.
std::string AddTargetPath(const std::string& source);
