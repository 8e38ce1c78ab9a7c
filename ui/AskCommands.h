// The window's versions of the core commands that first ask the user (file dialogs, the resize
// mode, a prefix) and then run the command with the answers.
#pragma once

#include <string>
#include <vector>

#include "core/Outcome.h"

constexpr const char* ADD_DIALOG_TITLE = "Add New Image";

// "Add": file dialog, resize-mode dialog, ImagesAdd.
Outcome ImagesAddAsk();
// The add dialog's filter also offers the logo files: ";*.sys" joins the first (all formats)
// entry and "SYS Files|*.sys" goes before the last.
void AddSysToFilter(std::string& filter);
// "Create..." for the highlighted images: save dialog, questions, prompt, GalleryCreate.
Outcome GalleryCreateAsk(const std::vector<std::string>& names);
// "Open...": open dialog, GalleryOpen.
Outcome GalleryOpenAsk();
