#include "files/AssetFile.h"

#include <QFile>

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

struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

FileData readResource(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {ReadStatus::Missing, {}};
    if (file.size() > maxBytes)
        return {ReadStatus::TooLarge, {}};
    return {ReadStatus::Ok, file.readAll()};
}

} // namespace

FileData readAsset(const QString &path, qint64 maxBytes)
{
    if (path.isEmpty())
        return {ReadStatus::Missing, {}};
    if (isResource(path))
        return readResource(path, maxBytes);

    const QByteArray native = QFile::encodeName(path);
    Descriptor d;
    do {
        d.fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (d.fd < 0 && errno == EINTR);
    if (d.fd < 0)
        return {ReadStatus::Missing, {}};
    struct stat st {};
    if (::fstat(d.fd, &st) != 0)
        return {ReadStatus::Failed, {}};
    if (!S_ISREG(st.st_mode))
        return {ReadStatus::NotRegular, {}};
    if (st.st_size > maxBytes)
        return {ReadStatus::TooLarge, {}};

    FileData result{ReadStatus::Ok, {}};
    try {
        // One byte more than the limit tells a file that grew past it since fstat.
        result.bytes.resize(qsizetype(st.st_size) + 1);
        qint64 filled = 0;
        for (;;) {
            if (filled == result.bytes.size()) {
                if (filled > maxBytes)
                    return {ReadStatus::TooLarge, {}};
                result.bytes.resize(qsizetype(std::min<qint64>(filled * 2 + 4096, maxBytes + 1)));
            }
            const ssize_t n = ::read(d.fd, result.bytes.data() + filled, size_t(result.bytes.size() - filled));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return {ReadStatus::Failed, {}};
            if (n == 0)
                break;
            filled += n;
        }
        if (filled > maxBytes)
            return {ReadStatus::TooLarge, {}};
        result.bytes.truncate(qsizetype(filled));
    } catch (const std::bad_alloc &) {
        return {ReadStatus::OutOfMemory, {}};
    }
    return result;
}

} // namespace files
