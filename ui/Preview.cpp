#include "ui/Preview.h"

#include <QWidget>

#include "base/Basic.h"
#include "base/Mon.h"
#include "image/ImgResize.h"
#include "ui/TDisplayControl.h"

void Preview_Init(Preview& preview, QWidget* host, int margin)
{
    TRACE("CtlPreview.Preview_Init");
    preview.scale = 1.0;
    preview.host = host;
    preview.margin = margin;
    preview.display = Display_Create_VCL(host, 0, 0, 16, 16);
    Display_SetColor(preview.display, Qt::black);
    // Nothing to show yet: the panel shows through until the first picture.
    Display_Hide(preview.display);
}

void Preview_SetColor(Preview& preview, const QColor& color)
{
    TRACE("CtlPreview.Preview_SetColor");
    Display_SetColor(preview.display, color);
}

void Preview_Show(Preview& preview, Image& img)
{
    TRACE("CtlPreview.Preview_Show");
    if (img.Width == 0 || img.Height == 0 || !preview.host || !preview.display) return;
    Image temp;
    MonBlock([&] {
        // Inside the host's border, the same margin on every side.
        const QRect inner = preview.host->contentsRect();
        const int bw = inner.width() - 2 * preview.margin;
        const int bh = inner.height() - 2 * preview.margin;
        int ox = 0, oy = 0, nw = 0, nh = 0;
        CalcBoxResize(img.Width, img.Height, bw, bh, false, ox, oy, nw, nh);
        preview.scale = static_cast<double>(nw) / img.Width;
        Image* shown = &img;
        if (nw != img.Width || nh != img.Height) {
            if (preview.smooth && nw < img.Width && nh < img.Height) ImgResample(img, temp, nw, nh);
            else ImgResize(img, temp, nw, nh);
            shown = &temp;
        }
        Display_SetBounds(preview.display, inner.left() + preview.margin + ox, inner.top() + preview.margin + oy, nw,
                          nh);
        Display_ShowImg(preview.display, *shown);
        ImgFree(temp);
    });
}

void Preview_Clear(Preview& preview)
{
    TRACE("CtlPreview.Preview_Clear");
    Display_Hide(preview.display);
}

void Preview_Done(Preview& preview)
{
    TRACE("CtlPreview.Preview_Done");
    Display_Free(preview.display);
}
