// What kelvane-studio says in a terminal: its --help and --version, and why the window cannot
// open without a display. None of it needs the window, a display or a drive.
#pragma once

#include <string>
#include <vector>

// When params (parameter 0 the program) ask for --help, -h or --version: the text to print on
// standard output, and the program ends with status 0. Empty text otherwise.
std::string StudioInfoText(const std::vector<std::string>& params);
// The text for a start without a display, saying how to get one.
std::string StudioNoDisplayText();
