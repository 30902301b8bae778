#pragma once
// Helpers shared by the tests: a fresh program folder per test, and GIFs
// made on the spot.

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <functional>

#include <QFile>
#include <QStringList>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "anigif/GifWriter.h"

namespace testcommon {

// A stage-like slide of 396 x 346: a textured background with a square that
// moves with t; every 40th slide changes the background, so that packed keys
// occur too.
QImage stageSlide(int t);
// Flat colours without smoothing: a sun, a ball that bounces across the stage, a box and a cloud that drift
// the other way; slide i of such a scene.
QImage flatSlide(int i);

// A plain-colour frame of the given size.
QImage solid(QSize size, QColor colour);

// Writes an animated GIF of `frames` full-canvas frames, frame i filled with
// a colour that tells it apart; returns the path.
QString writeSimpleGif(const QString &dir, const QString &name, QSize size, int frames, int delayCs = 10);

// Writes bytes to a file; returns the path.
QString writeBytes(const QString &dir, const QString &name, const QByteArray &bytes);

// A WAV file's bytes: 48 kHz stereo 16-bit, `frames` frames of a square wave of `level`, a period of
// `period` frames (0: silence).
QByteArray squareWav(int frames, qint16 level = 12000, int period = 48);

// A film's sound as a player gives it (48 kHz, mono), read with the ffmpeg program; empty when it has none.
std::vector<qint16> soundOf(const QString &film);
// Where sounds louder than `level` start in `samples`, in ms; each onset hides the next half second.
QList<double> onsetsMs(const std::vector<qint16> &samples, int level = 3000);

// The colour that writeSimpleGif gives frame i.
QColor frameColour(int i);

// The same pixels, whatever the two formats.
inline bool samePixels(const QImage &a, const QImage &b)
{
    return a.size() == b.size() && a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

// Runs `act` on the first visible modal dialog of class T once it shows up.
template <class T>
void whenShown(std::function<void(T *)> act, int tries = 200)
{
    QTimer::singleShot(10, [act, tries] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<T *>(w); d && d->isVisible()) {
                act(d);
                return;
            }
        if (tries > 0)
            whenShown<T>(act, tries - 1);
    });
}

// While it lives, the files this process writes cannot grow past `bytes`:
// writes beyond fail with an error, as on a full disk, instead of raising
// the signal that would end the test.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        if (getrlimit(RLIMIT_FSIZE, &m_before) != 0)
            return;
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = m_before;
        small.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() { lift(); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool ok() const { return m_set; }
    // Ends the limit before the end of its scope.
    void lift()
    {
        if (!m_set)
            return;
        setrlimit(RLIMIT_FSIZE, &m_before);
        std::signal(SIGXFSZ, m_handler);
        m_set = false;
    }

private:
    rlimit m_before{};
    void (*m_handler)(int) = SIG_DFL;
    bool m_set = false;
};

// Makes files and folders unwritable for as long as it lives, even for root: immutable where the file
// system allows it, else without write permission.
class Unwritable {
public:
    void add(const QString &path)
    {
        m_paths << path;
        if (!immutable(path, true))
            QFile::setPermissions(path, QFile::permissions(path) & ~(QFile::WriteOwner | QFile::WriteUser));
    }
    ~Unwritable()
    {
        for (const QString &path : m_paths) {
            immutable(path, false);
            QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner);
        }
    }

private:
    static bool immutable(const QString &path, bool on)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return ok;
    }
    QStringList m_paths;
};

} // namespace testcommon
