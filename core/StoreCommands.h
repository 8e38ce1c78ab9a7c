// The store commands of the main window without the window: delete, rename, change prefix and
// choose positions on the store list. The window and kvs both call these; they pass the names
// of the selected images and show the returned messages their own way.
#pragma once

#include <string>
#include <vector>

#include "core/Outcome.h"

constexpr const char* RENAME_CAPTION = "Rename";
constexpr const char* RENAME_LABEL = "Enter new name";
constexpr const char* RENAME_EMPTY = "The new name is empty. Please type a name for the image.";
constexpr const char* PREFIX_CAPTION = "Change Prefix";
constexpr const char* PREFIX_LABEL = "New prefix for selected images";
constexpr const char* POSITIONS_TEXT =
    "When using Shuffle or AutoChange feature you can select which images are used at which position. "
    "For example, you can make an image which shows rocket launching to be used only as a startup logo. "
    "This action will not set the logo immediately to the selected position, but only prepare it for use "
    "with Shuffle and AutoChange.";

enum { SM_ERROR = 1, SM_WARNING = 2, SM_INFO = 3 };

struct StoreMessage {
    int Kind = SM_ERROR;
    std::string Text;
};

struct StoreResult {
    bool Changed = false;     // the store list changed (refresh the view)
    int Succeeded = 0;
    int Failed = 0;
    std::string SelectName;   // the image to select afterwards, empty for none
    std::vector<StoreMessage> Messages;  // in the order they arose
    int Cause = OUTCOME_CAUSE_NONE;
};

// "Delete <name>?" for one image, "Delete <n> selected logos?" for more; empty for none.
// Deletes the files and entries, the last name first; a file that cannot be deleted keeps its
// entry and gives the error "Couldn't delete image file: "<name>"". No question is asked.
StoreResult StoreDeleteImages(const std::vector<std::string>& names);

// currentName: the full store name of the image (empty when none); typed: the answer of the
// prompt, proposed as StoreRenameProposal. The new name keeps the text typed, cleaned.
std::string StoreRenameProposal(const std::string& currentName);
StoreResult StoreRenameImage(const std::string& currentName, const std::string& typed);

// The prefix of currentName without "--", proposed in the prompt.
std::string StorePrefixProposal(const std::string& currentName);
// Gives every named image the cleaned prefix; an information box tells how many were renamed.
StoreResult StoreChangePrefix(const std::vector<std::string>& names, const std::string& typed);

// OR of the position masks of the named images, 0 for none.
int StoreHighlightedPositions(const std::vector<std::string>& names);
// Sets mask as the positions of every named image; the number of images set.
int StoreSetPositions(const std::vector<std::string>& names, int mask);

// ---- the commands: each writes headers.dat when it changed the store ----
// The store name of typed (with or without ".png", ignoring case); empty when there is none.
std::string StoreResolveName(const std::string& typed);
// Asks through ask, then StoreDeleteImages.
Outcome StoreDelete(const std::vector<std::string>& names, const Answers& ask);
Outcome StoreRename(const std::string& currentName, const std::string& typed);
Outcome StorePrefix(const std::vector<std::string>& names, const std::string& typed);
Outcome StorePositions(const std::vector<std::string>& names, int mask);
