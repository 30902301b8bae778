#pragma once
// Asset folders and pictures made on the spot for the picker and scene tests,
// and a way to choose a file in the picker as a person would.

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTest>

#include "Program.h"
#include "TestCommon.h"
#include "anigif/GifWriter.h"
#include "picker/frmFon.h"

namespace pickerkit {

inline QString assetFolder(testcommon::Program &p, const QString &name)
{
    QDir(p.dir.path()).mkpath(name);
    return p.folder(name);
}

// A still GIF in one colour, `size` pixels.
inline QString colourGif(const QString &dir, const QString &name, QSize size, QColor colour)
{
    anigif::GifDocument doc;
    doc.screen = size;
    anigif::GifFrame f;
    f.image = testcommon::solid(size, colour);
    doc.frames.append(f);
    const QString path = QDir(dir).filePath(name);
    anigif::writeGif(path, doc);
    return path;
}

// A folder of `count` copies of one small blue GIF, named "0000.gif", "0001.gif", ...
// with `digits` digits: a large folder that is quick to make.
inline void gifCopies(const QString &dir, int count, QSize size, int digits)
{
    const auto name = [digits](int i) { return QString("%1.gif").arg(i, digits, 10, QChar('0')); };
    QFile source(colourGif(dir, name(0), size, Qt::blue));
    if (!source.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = source.readAll();
    for (int i = 1; i < count; ++i)
        testcommon::writeBytes(dir, name(i), bytes);
}

inline QString picture(const QString &dir, const QString &name, QSize size, QColor colour, const char *format)
{
    const QString path = QDir(dir).filePath(name);
    testcommon::solid(size, colour).save(path, format);
    return path;
}

inline quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xffffffffu;
    for (char ch : bytes) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A PNG that claims `side` x `side` pixels: only its header, a few dozen bytes on disk.
inline QByteArray hugePngHeader(int side)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    auto chunk = [&png](const QByteArray &type, const QByteArray &data) {
        QByteArray len;
        QDataStream(&len, QIODevice::WriteOnly) << quint32(data.size());
        QByteArray crc;
        QDataStream(&crc, QIODevice::WriteOnly) << crc32(type + data);
        png += len + type + data + crc;
    };
    QByteArray ihdr;
    QDataStream s(&ihdr, QIODevice::WriteOnly);
    s << quint32(side) << quint32(side) << quint8(8) << quint8(6) << quint8(0) << quint8(0) << quint8(0);
    chunk("IHDR", ihdr);
    chunk("IEND", QByteArray());
    return png;
}

// A 24-bit BMP header claiming `side` x `side` pixels, with no pixel data.
inline QByteArray hugeBmpHeader(int side)
{
    QByteArray bmp;
    QDataStream s(&bmp, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    const quint32 imageBytes = quint32(qint64(side) * side * 3 & 0xffffffff);
    s << quint8('B') << quint8('M') << quint32(54 + imageBytes) << quint16(0) << quint16(0) << quint32(54);
    s << quint32(40) << qint32(side) << qint32(side) << quint16(1) << quint16(24) << quint32(0) << imageBytes
      << qint32(2835) << qint32(2835) << quint32(0) << quint32(0);
    return bmp;
}

// Opens the picker without blocking (as its buttons do, minus the modal wait) and waits for the whole grid.
inline frmFon *openPicker(testcommon::Program &p, const QString &mode)
{
    p.state.PickerMode = mode;
    frmFon *fon = p.main->Fon();
    fon->show();
    if (!QTest::qWaitFor([fon] { return fon->gridComplete(); }, 30000))
        qWarning("the picker's grid did not complete");
    return fon;
}

inline int indexOf(frmFon *fon, const QString &fileName)
{
    for (int i = 0; i < fon->fileCount(); ++i)
        if (fon->fileName(i) == fileName)
            return i;
    return -1;
}

// Opens the picker on `mode`, presses the cell of `fileName` and chooses it.
inline bool choose(testcommon::Program &p, const QString &mode, const QString &fileName)
{
    frmFon *fon = openPicker(p, mode);
    const int k = indexOf(fon, fileName);
    if (k < 0)
        return false;
    QTest::mouseClick(fon->Image1.at(k), Qt::LeftButton);
    fon->Command2->click();
    return !fon->isVisible();
}

inline QColor centreColour(const QImage &image)
{
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

} // namespace pickerkit
