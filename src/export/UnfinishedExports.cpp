#include "export/UnfinishedExports.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <limits>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace exporting::unfinished {

namespace {

struct Entry {
    qint64 pid = 0;
    QByteArray path;
};

// The list, open and locked against the other copies of the program, read
// whole; rewritten when it goes out of scope if `changed`.
class LockedList {
public:
    LockedList(const QString &stateFolder, bool create)
    {
        if (stateFolder.isEmpty() || (create && !QDir().mkpath(stateFolder)))
            return;
        const QByteArray name = QFile::encodeName(listPath(stateFolder));
        m_fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0600);
        if (m_fd < 0)
            return;
        // Each holder keeps the lock for a moment only; a copy that is stopped
        // with it held must not stop this one for long.
        int tries = 0;
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || ++tries > 200) {
                close();
                return;
            }
            ::usleep(10'000);
        }
        QByteArray text;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                close();
                return;
            }
            if (n == 0)
                break;
            text.append(buffer, n);
        }
        for (const QByteArray &line : text.split('\n')) {
            const qsizetype tab = line.indexOf('\t');
            bool ok = false;
            const qint64 pid = tab > 0 ? line.left(tab).toLongLong(&ok) : 0;
            // A line torn by a crash is dropped; only whole entries name files.
            if (ok && pid > 0 && pid <= std::numeric_limits<pid_t>::max() && tab + 1 < line.size())
                entries.push_back({pid, line.mid(tab + 1)});
        }
    }
    ~LockedList()
    {
        if (m_fd >= 0 && changed) {
            QByteArray text;
            for (const Entry &e : entries)
                text += QByteArray::number(e.pid) + '\t' + e.path + '\n';
            if (::ftruncate(m_fd, 0) == 0) {
                qsizetype at = 0;
                while (at < text.size()) {
                    const ssize_t n = ::pwrite(m_fd, text.constData() + at, size_t(text.size() - at), off_t(at));
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n <= 0)
                        break;
                    at += n;
                }
            }
        }
        close();
    }
    LockedList(const LockedList &) = delete;
    LockedList &operator=(const LockedList &) = delete;

    bool usable() const { return m_fd >= 0; }

    std::vector<Entry> entries;
    bool changed = false;

private:
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd); // drops the lock
        m_fd = -1;
    }
    int m_fd = -1;
};

bool running(qint64 pid)
{
    if (pid == qint64(::getpid()))
        return false;
    // EPERM: the process exists under another user.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// Only what OutputFile names its temporary files, and only a regular file
// (a link is not followed), is removed, whatever the list says.
bool looksLikeOurs(const QByteArray &path)
{
    static const QRegularExpression name(QStringLiteral("^\\..+\\.[0-9a-f]{8}\\.part$"));
    const QString decoded = QFile::decodeName(path);
    if (!QDir::isAbsolutePath(decoded) || !name.match(decoded.section(QLatin1Char('/'), -1)).hasMatch())
        return false;
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

QString listPath(const QString &stateFolder) { return stateFolder + QStringLiteral("/unfinished-exports.txt"); }

void record(const QString &stateFolder, const QString &temporary)
{
    if (temporary.isEmpty() || temporary.contains(QLatin1Char('\n')))
        return;
    LockedList list(stateFolder, true);
    if (!list.usable())
        return;
    list.entries.push_back({qint64(::getpid()), QFile::encodeName(temporary)});
    list.changed = true;
}

void forget(const QString &stateFolder, const QString &temporary)
{
    if (temporary.isEmpty())
        return;
    LockedList list(stateFolder, false);
    const QByteArray path = QFile::encodeName(temporary);
    const qint64 self = ::getpid();
    const auto before = list.entries.size();
    std::erase_if(list.entries, [&](const Entry &e) { return e.pid == self && e.path == path; });
    list.changed = list.entries.size() != before;
}

int sweep(const QString &stateFolder)
{
    LockedList list(stateFolder, false);
    int removed = 0;
    std::erase_if(list.entries, [&](const Entry &e) {
        if (running(e.pid))
            return false;
        list.changed = true;
        if (looksLikeOurs(e.path) && ::unlink(e.path.constData()) == 0)
            ++removed;
        return true;
    });
    return removed;
}

} // namespace exporting::unfinished
