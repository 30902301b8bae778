#include "files/AssetFile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

bool isResource(const QString &path)
{
    return path.startsWith(QLatin1Char(':')) || path.startsWith(QLatin1String("qrc:"));
}

FileData readResource(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {ReadStatus::Missing, {}};
    if (file.size() > maxBytes)
        return {ReadStatus::TooLarge, {}};
    return {ReadStatus::Ok, file.readAll()};
}

struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

ReadStatus readAssetInto(const QString &path, qint64 maxBytes, QByteArray &bytes)
{
    bytes.resize(0);
    if (path.isEmpty())
        return ReadStatus::Missing;
    if (isResource(path)) {
        FileData data = readResource(path, maxBytes);
        bytes = std::move(data.bytes);
        return data.status;
    }

    const QByteArray native = QFile::encodeName(path);
    Descriptor d;
    do {
        d.fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (d.fd < 0 && errno == EINTR);
    if (d.fd < 0)
        return ReadStatus::Missing;
    struct stat st {};
    if (::fstat(d.fd, &st) != 0)
        return ReadStatus::Failed;
    if (!S_ISREG(st.st_mode))
        return ReadStatus::NotRegular;
    if (st.st_size > maxBytes)
        return ReadStatus::TooLarge;

    const auto fail = [&bytes](ReadStatus status) {
        bytes.resize(0);
        return status;
    };
    try {
        // One byte more than the limit tells a file that grew past it since fstat.
        bytes.resize(qsizetype(st.st_size) + 1);
        qint64 filled = 0;
        for (;;) {
            if (filled == bytes.size()) {
                if (filled > maxBytes)
                    return fail(ReadStatus::TooLarge);
                bytes.resize(qsizetype(std::min<qint64>(filled * 2 + 4096, maxBytes + 1)));
            }
            const ssize_t n = ::read(d.fd, bytes.data() + filled, size_t(bytes.size() - filled));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return fail(ReadStatus::Failed);
            if (n == 0)
                break;
            filled += n;
        }
        if (filled > maxBytes)
            return fail(ReadStatus::TooLarge);
        bytes.resize(qsizetype(filled));
    } catch (const std::bad_alloc &) {
        bytes = QByteArray();
        return ReadStatus::OutOfMemory;
    }
    return ReadStatus::Ok;
}

FileData readAsset(const QString &path, qint64 maxBytes)
{
    FileData result;
    result.status = readAssetInto(path, maxBytes, result.bytes);
    return result;
}

} // namespace files
