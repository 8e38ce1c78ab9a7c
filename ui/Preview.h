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
};

void Preview_Init(Preview& preview, QWidget* host, int margin);
void Preview_SetColor(Preview& preview, const QColor& color);
// Shows img scaled down (never up) to the host less the margins, centred.
void Preview_Show(Preview& preview, Image& img);
void Preview_Clear(Preview& preview);
void Preview_Done(Preview& preview);
