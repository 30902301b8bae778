#pragma once
// Helpers shared by the tests: a fresh program folder per test, and GIFs
// made on the spot.

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

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

// The same pixels, whatever the two formats.
inline bool samePixels(const QImage &a, const QImage &b)
{
    return a.size() == b.size() && a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

// Runs `act` on the first visible modal dialog of class T once it shows up.
template <class T>
void whenShown(std::function<void(T *)> act, int tries = 200)
{
    QTimer::singleShot(10, [act, tries] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<T *>(w); d && d->isVisible()) {
                act(d);
                return;
            }
        if (tries > 0)
            whenShown<T>(act, tries - 1);
    });
}

} // namespace testcommon
