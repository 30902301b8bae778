#include "project/ProjectLock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace project {

ProjectLock::Outcome ProjectLock::acquire(const QString &path)
{
    release();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Outcome::Unsupported;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        m_fd = fd;
        return Outcome::Locked;
    }
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? Outcome::HeldElsewhere : Outcome::Unsupported;
}

void ProjectLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool ProjectLock::heldElsewhere(const QString &path)
{
    ProjectLock probe;
    return probe.acquire(path) == Outcome::HeldElsewhere;
}

} // namespace project
