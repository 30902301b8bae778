#pragma once
// Where the frames of an export come from: the slide buffer, or a folder of
// numbered BMP files that an earlier save wrote. Frames are read in order;
// each source says what changed since the frame before, so that a GIF
// stores only that.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

#include "export/FrameWriter.h"

namespace slides {
class SlideStore;
}

namespace exporting {

class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual int count() const = 0;
    // Reads frame i (1-based). Frames come in order; reading frame 1 again
    // starts over. The frame's rows stay valid until the next read.
    virtual bool read(int i, Frame &frame, QString &error) = 0;
    // How many frame times frame i lasts.
    virtual int duration(int) const { return 1; }
    // Whether reading the frames again costs what reading them did (files
    // read and compared anew): a writer that goes over them twice then keeps
    // them from the first time. Frames unpacked from memory are cheaper read
    // again than kept.
    virtual bool costlyToReread() const { return false; }
};

// The slides of the buffer, unpacked one after the other into one slide's
// worth of memory; the store's own runs say what changed. The store must not
// change while the export runs.
class StoreFrames : public FrameSource {
public:
    explicit StoreFrames(const slides::SlideStore &store);
    int count() const override;
    bool read(int i, Frame &frame, QString &error) override;
    int duration(int i) const override;

private:
    const slides::SlideStore &m_store;
    std::vector<uchar> m_rows;
    int m_held = 0;
};

// "001.bmp", "002.bmp", ... "1000.bmp" of a folder in numeric order.
class FolderFrames : public FrameSource {
public:
    // False, with the reason, when the folder is missing or holds no slides.
    bool open(const QString &folder, QString &error);
    int count() const override { return int(m_files.size()); }
    bool read(int i, Frame &frame, QString &error) override;
    bool costlyToReread() const override { return true; }

    // The first number missing from 1 .. the last one; 0 when none is.
    int firstGap() const { return m_firstGap; }
    const QStringList &files() const { return m_files; }

private:
    QStringList m_files;
    int m_firstGap = 0;
    std::vector<uchar> m_rows;
    std::vector<uchar> m_nextRows; // the slide being read, swapped with m_rows once whole
    QByteArray m_bytes; // the file read last; its room goes from slide to slide
    int m_held = 0;
};

// The rectangle outside which two frames of the same size are equal.
QRect differingRect(const uchar *a, const uchar *b, qsizetype stride, QSize size);

} // namespace exporting
