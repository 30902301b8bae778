#pragma once
// Reading asset files that may not be what their names promise. An asset
// folder can hold a FIFO, a device, a link to /dev/zero or a sparse file of
// many gigabytes under a picture's name; none of them may block a thread for
// ever or fill the memory. Only regular files, after symbolic links are
// followed, are read, and only up to a size limit.

#include <QByteArray>
#include <QString>

namespace files {

// The largest asset read. The stage is 400 x 350 pixels: a background of
// four stages' size as an uncompressed BMP is under 7 MB, and a character of
// a thousand full-stage frames is a few MB of GIF. 32 MB leaves room for
// any picture made for the program and keeps a hostile one cheap.
constexpr qint64 MaxAssetBytes = qint64(32) << 20;

enum class ReadStatus {
    Ok,
    Missing,       // the path names nothing that can be opened
    NotRegular,    // a directory, FIFO, device or socket
    TooLarge,      // larger than the limit
    Failed,        // a read error
    OutOfMemory,
};

struct FileData {
    ReadStatus status = ReadStatus::Missing;
    QByteArray bytes;
    bool ok() const { return status == ReadStatus::Ok; }
};

// Reads a whole asset. The file is opened without blocking (a FIFO would
// otherwise wait for a writer), its type and size are checked on the opened
// descriptor, so that a file swapped after listing is caught, and never more
// than `maxBytes` are read even if the file grows meanwhile. Qt resource
// paths (":/...") are read from the program itself under the same limit.
FileData readAsset(const QString &path, qint64 maxBytes = MaxAssetBytes);

// The same read into `bytes`, whose room is kept from call to call: reading
// thousands of files of one size then allocates nothing. `bytes` is empty
// unless the status is Ok.
ReadStatus readAssetInto(const QString &path, qint64 maxBytes, QByteArray &bytes);

} // namespace files
