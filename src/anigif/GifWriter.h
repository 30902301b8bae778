#pragma once
// Writes GIF files (GIF89a) with giflib. Used by the asset generator and by
// the tests, which need GIFs with exactly chosen disposal methods, offsets,
// transparency and colour tables.

#include <QColor>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QString>

namespace anigif {

// Disposal methods as the GIF89a graphic control extension numbers them.
enum class Disposal { Unspecified = 0, None = 1, Background = 2, Previous = 3 };

struct GifFrame {
    // The frame's pixels. Fully transparent pixels (alpha < 128) become the
    // transparent index; other pixels are mapped to the palette.
    QImage image;
    QPoint offset;                 // position on the logical screen, pixels
    int delayCs = 10;              // frame delay in hundredths of a second
    Disposal disposal = Disposal::None;
    bool interlaced = false;
    // When not empty, the frame carries this local colour table (at most 255
    // colours; one more slot is added for transparency when needed).
    QList<QRgb> localPalette;
};

struct GifDocument {
    QSize screen;                  // logical screen size
    // Global colour table; when empty one is built from the frames' colours.
    QList<QRgb> globalPalette;
    int backgroundIndex = 0;
    int loopCount = 0;             // 0 = loop forever; -1 = no loop extension
    QList<GifFrame> frames;
};

// Writes the document; returns an empty string on success, otherwise what
// went wrong.
QString writeGif(const QString &path, const GifDocument &doc);
QByteArray encodeGif(const GifDocument &doc, QString *error = nullptr);

} // namespace anigif
