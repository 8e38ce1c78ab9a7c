// The user commands that write logo files: Set as Logo, Shuffle, the automatic change
// ("/change"), "/inst", "/uninst" and restoring the previous logos. The window and kvs gather
// the inputs and call these; each is the one entry point of its command.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/Outcome.h"

constexpr const char* INST_MESSAGE =
    "Kelvane Studio has changed your Windows logos (the pictures you see on Windows startup and "
    "shut down). To modify settings or messages start Kelvane Studio from the Programs menu.";
constexpr const char* SHUFFLE_DONE = "Random logos are set.";
constexpr const char* NO_IMAGES = "There are no images in the store.";
constexpr const char* NO_ELIGIBLE_IMAGES = "No stored image is chosen for any logo position.";
constexpr const char* NOTHING_SET = "Nothing was set: no position was chosen.";
constexpr const char* NOTHING_RESTORED = "There are no previous logos to restore.";

// The messages Set as Logo proposes, by position index 0..2: each picked by MsgPickMethod, so
// every position's message counter moves once.
std::array<std::string, 3> LogoProposedMessages();
// Set as Logo: builds the logo of every position in positions (1 Startup, 2 Wait, 4 Turn Off)
// from the stored image typedName (with or without ".png") with messages[0..2]. When a message
// is not given, the proposed messages are picked (every counter moving once) after the image was
// found, so a failed set moves nothing. Result names what was set.
Outcome LogoSet(const std::string& typedName, int positions, const std::array<std::optional<std::string>, 3>& messages);
// Shuffle: random images (messages by MsgPickMethod) for the three positions.
Outcome LogoShuffle();
// "/change": the next images and messages by the pick methods; a position without an eligible
// image keeps its logo file.
Outcome LogoChange();
// "/inst": LogoChange, the Run entry of the automatic change, "Logo=1" in MSDOS.SYS.
Outcome LogoInstall();
// "/uninst": Run entry removed, previous logos restored, the store deleted when the user says so.
Outcome LogoUninstall(const Answers& ask);
// "Restore Original Logos...": asks, then carries out restore.bat.
Outcome LogoRestore(const Answers& ask);
