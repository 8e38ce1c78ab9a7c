// The preview: fits an image into its host panel, centres it and hands it to a display control.
#pragma once

#include <QColor>

#include "image/ImgBasic.h"

class QWidget;
class TDisplayControl;

struct Preview {
    double scale = 1.0;                 // shown width / source width at the last show
    QWidget* host = nullptr;
    int margin = 0;                     // kept free on each side inside the host
    TDisplayControl* display = nullptr;
    // Shrink by averaging: nearest-neighbour shrinking of dithered pictures shows stripes. Off
    // keeps 8-bit pictures 8-bit (the band animation cycles their palette).
    bool smooth = true;
};

void Preview_Init(Preview& preview, QWidget* host, int margin);
void Preview_SetColor(Preview& preview, const QColor& color);
// Shows img scaled down (never up) to the host's contents (inside its border) less the margins,
// centred.
void Preview_Show(Preview& preview, Image& img);
void Preview_Clear(Preview& preview);
void Preview_Done(Preview& preview);
