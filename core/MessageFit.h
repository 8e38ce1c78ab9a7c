// Whether the lines of a logo message fit on the logo in the font of the settings. Building a
// logo cuts a line at the right edge without a word; this tells beforehand.
#pragma once

#include <string>
#include <vector>

// The lines of message (CR LF between them) of which something would be drawn past the logo's
// right edge, in message order; empty when every line fits.
std::vector<std::string> MessageFitLinesPastEdge(const std::string& message);
