#include "core/MessageFit.h"

#include <algorithm>
#include <cstring>

#include "base/Mon.h"
#include "base/StrUtil.h"
#include "core/LogoBuilder.h"
#include "core/Settings.h"
#include "image/ImgBasic.h"

// The line is drawn as a logo draws it, onto a canvas wider than the logo: whatever lands right
// of the logo's width is what the logo loses. Measuring the drawing itself keeps this true to
// the font, its style and the outline around the text.
static bool PastEdge_(const std::string& line)
{
    TRACE("MessageFit.PastEdge_");
    const uint8_t unused = 255;  // above the picture's colours, so never a text or outline index
    Image canvas;
    bool past = false;
    MonBlockTransparent([&] {
        ImgAlloc(canvas, LOGO_WIDTH + 64, LOGO_HEIGHT, 8);
        std::memset(canvas.Data, unused, static_cast<size_t>(canvas.Size));
        // The left margin of DrawMessage.
        DrawMessageLine(canvas, line, 8, 0, TextColor, TextBorderColor);
        for (int y = 0; y < canvas.Height && !past; ++y) {
            const uint8_t* row = canvas.Data + static_cast<size_t>(y) * canvas.Width;
            past = std::any_of(row + LOGO_WIDTH, row + canvas.Width, [&](uint8_t p) { return p != unused; });
        }
    });
    // A line the font cannot draw is not this check's to report: building the logo will.
    if (!MonOK()) past = false;
    MonClearError();
    ImgFree(canvas);
    return past;
}

std::vector<std::string> MessageFitLinesPastEdge(const std::string& message)
{
    TRACE("MessageFit.MessageFitLinesPastEdge");
    std::vector<std::string> past;
    size_t start = 0;
    while (start <= message.size()) {
        const size_t end = std::min(message.find("\r\n", start), message.size());
        const std::string line = message.substr(start, end - start);
        start = end + 2;
        if (!StrTrim(line).empty() && PastEdge_(line)) past.push_back(line);
    }
    return past;
}
