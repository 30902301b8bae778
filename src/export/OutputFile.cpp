#include "export/OutputFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace exporting {

bool OutputFile::create(const QString &target)
{
    discard();
    m_errno = 0;
    m_target = target;
    const QFileInfo info(target);
    if (info.isDir()) {
        m_errno = EISDIR;
        return false;
    }
    // A dot hides it from file managers while it grows; the random tail keeps
    // two exports into one folder apart.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString temp = info.absolutePath() + QStringLiteral("/.") + info.fileName()
                             + QStringLiteral(".%1.part").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                                QLatin1Char('0'));
        const QByteArray name = QFile::encodeName(temp);
        m_fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_temp = temp;
            return true;
        }
        if (errno != EEXIST) {
            m_errno = errno;
            return false;
        }
    }
    m_errno = EEXIST;
    return false;
}

void OutputFile::closeDescriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool OutputFile::write(const void *data, qsizetype size)
{
    if (m_fd < 0 || m_errno)
        return false;
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, p, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_errno = errno;
            return false;
        }
        p += n;
        size -= n;
    }
    return true;
}

bool OutputFile::commit()
{
    if (m_temp.isEmpty() || m_errno) {
        discard();
        return false;
    }
    const QByteArray temp = QFile::encodeName(m_temp);
    int fd = m_fd;
    if (fd < 0)
        fd = ::open(temp.constData(), O_RDONLY | O_CLOEXEC);
    // Only a file that is on the disk replaces the old one.
    if (fd < 0 || ::fsync(fd) != 0)
        m_errno = errno;
    if (fd >= 0 && ::close(fd) != 0 && !m_errno)
        m_errno = errno;
    m_fd = -1;
    if (!m_errno && std::rename(temp.constData(), QFile::encodeName(m_target).constData()) != 0)
        m_errno = errno;
    if (m_errno) {
        discard();
        return false;
    }
    m_temp.clear();
    return true;
}

void OutputFile::discard()
{
    closeDescriptor();
    if (!m_temp.isEmpty())
        ::unlink(QFile::encodeName(m_temp).constData());
    m_temp.clear();
}

} // namespace exporting
