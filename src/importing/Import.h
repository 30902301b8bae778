#pragma once
// Bringing a person's own pictures into the asset library: what the chosen
// files are (a picture, an animated GIF, a numbered series, a sprite sheet),
// what each should become (a character, a prop or a background), and the
// conversion into what the picker and the stage read (a character an
// animated GIF written with our own GIF writer, a prop or a background a
// picture), copied under a unique name into the library's folder.
//
// Everything that reads a file here follows the rules for assets: only
// regular files, at most files::MaxAssetBytes, decoding bounded in memory
// and in pixels. Functions that decode are meant to run off the
// user-interface thread; none of them touches a widget.

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>

namespace importing {

enum class Kind { Character, Prop, Background };

// The library's folder for a kind: "objects", "articles" or "fones".
QString folderName(Kind kind);

// One thing to import, as found among the chosen files.
struct Candidate {
    QStringList files;       // one picture, or the pictures of a numbered series in numeric order
    QString name;            // the asset's name to be (no extension): the file's, or the series' common part
    bool series = false;     // several numbered pictures, one frame each
    bool animated = false;   // a GIF with several frames
    QSize size;              // of the picture, or of the series' first picture
    int frames = 1;          // frames found (a series: its pictures)
    Kind guess = Kind::Prop; // an animated GIF or a series a character, wider than the stage a background, else a prop
    QString problem;         // why it cannot be imported (named for the person), empty when it can
};

// Sorts the chosen paths into candidates without decoding them: a folder or a selection of numbered
// pictures ("walk_01.png", "walk_02.png", …) is one series; anything else is one candidate each.
QList<Candidate> candidatesFor(const QStringList &paths);

struct Options {
    Kind kind = Kind::Prop;
    int rate = 12;                 // frames per second of a series or a sheet, 1 to 50 (a GIF's limit)
    int columns = 1, rows = 1;     // a sprite sheet's grid; 1 x 1 is no sheet
    bool keepSize = false;         // a picture much larger than the stage keeps its size
};

// Whether a picture of `size` is scaled down for `kind` unless the person keeps its size, and the
// size it gets: a prop or a character fits within the stage, a background gets the stage's height.
// "Much larger" is more than twice the stage's width or height (its height alone for a background, which
// may be a wide panorama that the stage scrolls across): a picture a little larger than the stage is
// meant to be seen at its size.
constexpr int StageWidth = 400, StageHeight = 350;
bool isScaledDown(QSize size, Kind kind);
QSize importedSize(QSize size, Kind kind, bool keepSize);

// The most pixels a picture may have: its header is read first, and a larger one (a small file that
// unpacks into gigabytes) is refused before it is decoded. The same as Qt's allocation limit allows.
qint64 maxPicturePixels();
// The most bytes the frames of one import may take once decoded and scaled.
constexpr qint64 MaxFramesBytes = qint64(512) << 20;

// The frames an import makes, for the preview and for writing: decoded, cut from a sheet and scaled
// as `options` say. `error` names the file and the reason when it cannot; `cancel` stops it between frames.
struct Frames {
    QList<QImage> images;          // ARGB32, transparency kept
    QList<int> delaysMs;
    QString error;
};
Frames makeFrames(const Candidate &candidate, const Options &options, const std::atomic<bool> *cancel = nullptr);

// Writes the import into `libraryFolder`/folderName(kind) under a unique name (the candidate's name, made
// safe for a file name; "name (2)" when taken). A character becomes an animated GIF with exact colours
// where it has at most 256; a prop or a background keeps its file (a PNG when it was cut or scaled).
struct Written {
    QString path;                  // the new file, empty on failure
    QString error;                 // for the person, naming the file and the reason
};
Written importInto(const Candidate &candidate, const Options &options, const QString &libraryFolder,
                   const std::atomic<bool> *cancel = nullptr);

// A name as it may stand in a file name on any Linux file system: no slashes, control characters or
// leading dots, at most a safe length; Cyrillic letters and quotes stay. Never empty.
QString safeFileName(const QString &name);
// The same name without the characters FAT and exFAT refuse (a portable copy on a memory stick).
QString portableFileName(const QString &name);

// A GIF of `images` (ARGB32), each shown for its delay, looping for ever when there are several: exact
// colours where they fit a colour table with the transparent slot, else a palette from libimagequant.
QByteArray encodeCharacter(QList<QImage> images, const QList<int> &delaysMs, QString *error);

} // namespace importing
