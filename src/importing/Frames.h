#pragma once
// One chosen file decoded, for the frames of an import and for deciding whether it is copied as it is.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

namespace importing {

struct Decoded {
    QList<QImage> images;   // ARGB32: a GIF's composed frames, or the one picture
    QList<int> delaysMs;
    QByteArray bytes;       // the file as read
    QByteArray format;
    bool truncated = false; // a GIF whose later frames were lost
    QString error;
};

// Reads and decodes `path` on a thread of its own, waiting no longer than files::AssetTimeoutMs; a GIF's
// first frame alone unless `allFrames`.
Decoded decodeFile(const QString &path, bool allFrames);

} // namespace importing
