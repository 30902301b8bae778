#pragma once
// What a chosen file is, read from its header under the rules for assets.

#include <QByteArray>
#include <QSize>
#include <QString>

namespace importing {

struct Probe {
    QString problem;    // for the person, naming the file; empty when it can be imported
    QByteArray format;  // "gif", "png", "jpeg", "bmp" or "webp", from the contents
    QSize size;         // as shown, after a camera's turn
    int frames = 1;     // a GIF's frames as its header lists them
};

// Reads the file (only a regular one, under files::MaxAssetBytes) and its picture's header, not its
// pixels; `keep` gets the file's bytes when it is a picture that can be imported.
Probe probePicture(const QString &path, QByteArray *keep = nullptr);

} // namespace importing
