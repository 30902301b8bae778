#pragma once
// Helpers shared by the tests: a fresh program folder per test, and GIFs
// made on the spot.

#include <QColor>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include "anigif/GifWriter.h"

namespace testcommon {

// A plain-colour frame of the given size.
QImage solid(QSize size, QColor colour);

// Writes an animated GIF of `frames` full-canvas frames, frame i filled with
// a colour that tells it apart; returns the path.
QString writeSimpleGif(const QString &dir, const QString &name, QSize size, int frames, int delayCs = 10);

// Writes bytes to a file; returns the path.
QString writeBytes(const QString &dir, const QString &name, const QByteArray &bytes);

// The colour that writeSimpleGif gives frame i.
QColor frameColour(int i);

} // namespace testcommon
