#pragma once
// Slide files on disk: their names, the uncompressed 24-bit BMP they are
// written as, and the clearing of the slide folder.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>

namespace slides {

// "001.bmp" for slide 1, "100.bmp", "1000.bmp": at least three digits.
QString slideFileName(int i);

// The whole file: BITMAPFILEHEADER, BITMAPINFOHEADER, bottom-up rows of
// blue-green-red triples padded to four bytes, no compression (BI_RGB).
QByteArray bmpBytes(const QImage &image);

// Where the rows of a slide as saving writes it (24 bits, uncompressed,
// bottom-up, 1188 bytes a row) start in the `size` bytes of a file from
// `header`; 0 for any other file. Such rows need no decoding.
qint64 savedSlideRows(const char *header, qint64 size);

// Writes `bytes` under `path` whole or not at all: a temporary name beside
// it first, then a rename over the final name. False when anything failed;
// no temporary file is left behind then.
bool writeFileWhole(const QString &path, const QByteArray &bytes);

class SlideStore;

// Writes every slide of the store into `folder` (ending in a separator) as
// "001.bmp", "002.bmp", ..., each whole or not at all, in order; a slide
// that lasts N frames is written N times under consecutive numbers. A file
// that fails is skipped. `afterEach(i)` runs on the calling thread after
// slide i. Returns the number of slides whose files were all written; `firstError` gets the system's
// error number for the first file that failed (0 when none did).
int writeSlideFiles(const QString &folder, const SlideStore &store, const std::function<void(int)> &afterEach,
                    int *firstError = nullptr);

inline bool writeBmp(const QString &path, const QImage &image)
{
    const QByteArray bytes = bmpBytes(image);
    return !bytes.isEmpty() && writeFileWhole(path, bytes);
}

// True when the folder holds at least one file (subfolders do not count).
bool folderHasFiles(const QString &folder);

// Moves every file in the folder to the desktop's trash, so that old slides
// emptied out by mistake can be brought back from the file manager; a file
// that cannot go there (no trash on its device) is deleted. Subfolders stay.
// False when any file is still there afterwards.
bool discardFilesIn(const QString &folder);

} // namespace slides
