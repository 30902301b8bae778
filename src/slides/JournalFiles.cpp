// Where journals lie: the user's state folder, one folder per program folder,
// and the journals left there by programs that have ended, mapped for reading.
#include "slides/Journal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace slides::journal {

QString stateFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative XDG_STATE_HOME is to be ignored, as freedesktop.org's base directory rules say.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/vellumo");
}

QString folderFor(const QString &programFolder, const QString &state)
{
    // The same program folder reached through a link or a "..", the same journals.
    QString path = QFileInfo(programFolder).canonicalFilePath();
    if (path.isEmpty())
        path = QDir::cleanPath(QFileInfo(programFolder).absoluteFilePath());
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(12);
    // The path itself, shortened from the front, tells a person whose journals these are.
    QString hint = path.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('-')).right(40);
    if (!hint.isEmpty())
        hint += QLatin1Char('-');
    return state + QLatin1Char('/') + hint + QString::fromLatin1(hash);
}

int takeOverOlderJournals(const QString &folder)
{
    const QString older = QFileInfo(folder).absolutePath();
    std::vector<Orphan> left = orphans(older);
    if (left.empty() || !QDir().mkpath(folder))
        return 0;
    int moved = 0;
    for (Orphan &o : left) {
        const QString to = folder + QLatin1Char('/') + QFileInfo(o.path).fileName();
        // Still locked while it moves: no other starting copy can take it at the same time.
        if (::rename(QFile::encodeName(o.path).constData(), QFile::encodeName(to).constData()) == 0)
            ++moved;
        closeOrphan(o);
    }
    return moved;
}

std::vector<Orphan> orphans(const QString &folder)
{
    std::vector<Orphan> out;
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("journal-*.vlj")}, QDir::Files,
                                                           QDir::Time);
    for (const QFileInfo &info : files) {
        const QByteArray name = QFile::encodeName(info.absoluteFilePath());
        const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A journal whose program still runs stays locked by it.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        struct stat st {};
        Mapping map(fd, ::fstat(fd, &st) == 0 ? qsizetype(st.st_size) : 0);
        const QByteArray bytes = QByteArray::fromRawData(map.data(), map.size());
        out.push_back(Orphan{info.absoluteFilePath(), fd, std::move(map), bytes});
    }
    return out;
}

void closeOrphan(Orphan &o)
{
    if (o.fd >= 0)
        ::close(o.fd);
    o.fd = -1;
    o.bytes = QByteArray();
    o.map = Mapping();
}

Mapping::Mapping(int fd, qsizetype size)
{
    if (size <= 0)
        return;
    void *at = ::mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (at == MAP_FAILED)
        return;
    ::madvise(at, size_t(size), MADV_SEQUENTIAL);
    m_at = at;
    m_size = size_t(size);
}

Mapping &Mapping::operator=(Mapping &&other) noexcept
{
    if (this != &other) {
        if (m_at)
            ::munmap(m_at, m_size);
        m_at = std::exchange(other.m_at, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

Mapping::~Mapping()
{
    if (m_at)
        ::munmap(m_at, m_size);
}

void Mapping::release(qsizetype end) const
{
    const auto page = qsizetype(::sysconf(_SC_PAGESIZE));
    const qsizetype whole = std::min<qsizetype>(end, qsizetype(m_size)) / page * page;
    if (m_at && whole > 0)
        ::madvise(m_at, size_t(whole), MADV_DONTNEED);
}

} // namespace slides::journal
