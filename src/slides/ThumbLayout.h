#pragma once
// Where the slide buffer puts its thumbnails, in twips on the canvas: eight
// to a row, the first at 225, 120, columns 1225 apart, rows 1045 apart.

#include <QPoint>
#include <QRect>
#include <QRectF>

#include "controls/Twips.h"

namespace slides::layout {

constexpr int ThumbWidth = 1125;   // 75 pixels
constexpr int ThumbHeight = 945;   // 63 pixels
constexpr int FirstLeft = 225;
constexpr int FirstTop = 120;
constexpr int ColumnStep = ThumbWidth + 100;
constexpr int RowStep = ThumbHeight + 100;
constexpr int PerRow = 8;

constexpr int CanvasLeft = 45;
constexpr int CanvasWidth = 10215;
constexpr int CanvasStartHeight = 6615;
constexpr int CanvasGrowth = 500;
constexpr int ViewportHeight = 6660;

// Top-left corner of slide n (n >= 1).
constexpr QPoint thumbPosition(int n)
{
    return QPoint(FirstLeft + ((n - 1) % PerRow) * ColumnStep, FirstTop + ((n - 1) / PerRow) * RowStep);
}

// Where slide n's thumbnail is drawn on the canvas, in pixels.
inline QRect thumbRect(int n)
{
    const QPoint at = thumbPosition(n);
    return twips::toPixels(QRectF(at.x(), at.y(), ThumbWidth, ThumbHeight));
}

// The canvas height once slide n is on it: grown in 500-twip steps until
// slide n's top plus 1000 fits, so that the newest row is always whole on
// the canvas. The canvas never shrinks.
constexpr int canvasHeightFor(int currentHeight, int n)
{
    const int needed = thumbPosition(n).y() + 1000;
    if (needed <= currentHeight)
        return currentHeight;
    return currentHeight + ((needed - currentHeight + CanvasGrowth - 1) / CanvasGrowth) * CanvasGrowth;
}

// How far, in twips, the canvas can be pulled up so that its bottom meets the viewport's.
constexpr int scrollRange(int canvasHeight)
{
    return canvasHeight > ViewportHeight ? canvasHeight - ViewportHeight : 0;
}

// The slides whose thumbnails meet the canvas band [top, bottom) (twips),
// as first and last number; first > last when none does.
struct SlideSpan {
    int first;
    int last;
};
constexpr SlideSpan slidesInBand(int top, int bottom, int slideCount)
{
    const int firstRow = top <= FirstTop ? 0 : (top - FirstTop) / RowStep;
    const int lastRow = bottom <= FirstTop ? -1 : (bottom - 1 - FirstTop) / RowStep;
    const int first = firstRow * PerRow + 1;
    const int last = lastRow < 0 ? 0 : (lastRow + 1) * PerRow;
    return SlideSpan{first, last < slideCount ? last : slideCount};
}

} // namespace slides::layout
