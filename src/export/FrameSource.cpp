#include "export/FrameSource.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cstring>
#include <new>

#include "files/AssetFile.h"
#include "files/NumberedFiles.h"
#include "slides/SlideFiles.h"
#include "slides/SlideSource.h"
#include "slides/SlideStore.h"

namespace exporting {

namespace {

constexpr qsizetype RowBytes = slides::SlideStore::RowBytes;
const QSize SlideSize(slides::SlideWidth, slides::SlideHeight);
// A slide as a 24-bit BMP is 411 KB; anything much larger is not one.
constexpr qint64 MaxSlideBytes = qint64(4) << 20;

bool ensureRows(std::vector<uchar> &rows, QString &error)
{
    try {
        rows.resize(size_t(slides::SlideStore::RawBytes));
        return true;
    } catch (const std::bad_alloc &) {
        error = QStringLiteral("Недостаточно памяти");
        return false;
    }
}

QString notRegular(const QString &shown)
{
    return QStringLiteral("Файл «%1» не обычный файл (канал, устройство или ссылка на них): это не слайд").arg(shown);
}

QString unreadable(const QString &shown) { return QStringLiteral("Файл «%1» не удалось прочитать").arg(shown); }

} // namespace

QRect differingRect(const uchar *a, const uchar *b, qsizetype stride, QSize size)
{
    const qsizetype rowBytes = qsizetype(size.width()) * 3;
    auto rowDiffers = [&](int y) { return std::memcmp(a + y * stride, b + y * stride, size_t(rowBytes)) != 0; };
    int top = 0;
    while (top < size.height() && !rowDiffers(top))
        ++top;
    if (top == size.height())
        return QRect();
    int bottom = size.height() - 1;
    while (!rowDiffers(bottom))
        --bottom;
    qsizetype left = rowBytes, right = -1;
    for (int y = top; y <= bottom; ++y) {
        const uchar *ra = a + y * stride, *rb = b + y * stride;
        qsizetype l = 0;
        while (l < left && ra[l] == rb[l])
            ++l;
        left = std::min(left, l);
        qsizetype r = rowBytes - 1;
        while (r > right && ra[r] == rb[r])
            --r;
        right = std::max(right, r);
    }
    return QRect(QPoint(int(left / 3), top), QPoint(int(right / 3), bottom));
}

StoreFrames::StoreFrames(const slides::SlideStore &store) : m_store(store) {}

int StoreFrames::count() const { return m_store.count(); }

int StoreFrames::duration(int i) const { return std::max(1, m_store.duration(i)); }

bool StoreFrames::read(int i, Frame &frame, QString &error)
{
    if (!ensureRows(m_rows, error))
        return false;
    const bool next = i > 1 && m_held == i - 1;
    if (!m_store.readOnInto(i, reinterpret_cast<char *>(m_rows.data()), RowBytes, m_held)) {
        error = QStringLiteral("Слайд %1 не удалось прочитать").arg(i);
        return false;
    }
    frame.bgr = m_rows.data();
    frame.stride = RowBytes;
    frame.size = SlideSize;
    frame.changed = next ? m_store.changedRect(i) : QRect(QPoint(0, 0), SlideSize);
    return true;
}

bool FolderFrames::open(const QString &folder, QString &error)
{
    m_files.clear();
    m_firstGap = 0;
    m_held = 0;
    if (!QFileInfo(folder).isDir()) {
        error = QStringLiteral("Папка «%1» не найдена").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    // FIFOs, devices and links to them are listed too, so that one under a
    // slide's name is named to the user rather than silently skipped.
    const std::vector<files::NumberedFile> found = files::numberedFiles(folder, {QStringLiteral("bmp")}, true);
    if (found.empty()) {
        error = QStringLiteral("В папке «%1» нет слайдов (001.bmp, 002.bmp, …)").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    for (const files::NumberedFile &f : found) {
        // stat only: nothing is opened, so a FIFO cannot block here.
        const QFileInfo info(f.path);
        if (!info.isFile()) {
            m_files.clear();
            const QString shown = QDir::toNativeSeparators(f.path);
            error = info.exists() ? notRegular(shown) : unreadable(shown);
            return false;
        }
        m_files.append(f.path);
    }
    m_firstGap = files::firstGap(found);
    return true;
}

bool FolderFrames::read(int i, Frame &frame, QString &error)
{
    if (i < 1 || i > count() || !ensureRows(m_rows, error)) {
        if (error.isEmpty())
            error = QStringLiteral("Нет кадра %1").arg(i);
        return false;
    }
    const QString &path = m_files[i - 1];
    const QString shown = QDir::toNativeSeparators(path);
    // Read through the checked reader, then decoded from memory: a file
    // swapped for a FIFO or a giant after the listing is refused, not waited on.
    const files::ReadStatus status = files::readAssetInto(path, MaxSlideBytes, m_bytes);
    if (status != files::ReadStatus::Ok) {
        m_held = 0;
        switch (status) {
        case files::ReadStatus::NotRegular:
            error = notRegular(shown);
            break;
        case files::ReadStatus::TooLarge:
            error = QStringLiteral("Файл «%1» слишком велик для слайда").arg(shown);
            break;
        case files::ReadStatus::OutOfMemory:
            error = QStringLiteral("Недостаточно памяти");
            break;
        default:
            error = unreadable(shown);
            break;
        }
        return false;
    }
    const bool next = i > 1 && m_held == i - 1;
    // A slide as saving writes it is taken from its bytes: nothing to decode, and no picture made and
    // freed per slide, whose pages the system would take back and fault in again.
    if (const qint64 offset = slides::savedSlideRows(m_bytes.constData(), m_bytes.size())) {
        if (!ensureRows(m_nextRows, error))
            return false;
        const char *bottomUp = m_bytes.constData() + offset;
        for (int y = 0; y < SlideSize.height(); ++y)
            std::memcpy(m_nextRows.data() + y * RowBytes, bottomUp + (SlideSize.height() - 1 - y) * RowBytes,
                        size_t(RowBytes));
        frame.changed = next ? differingRect(m_nextRows.data(), m_rows.data(), RowBytes, SlideSize)
                             : QRect(QPoint(0, 0), SlideSize);
        m_rows.swap(m_nextRows);
        m_held = i;
        frame.bgr = m_rows.data();
        frame.stride = RowBytes;
        frame.size = SlideSize;
        return true;
    }
    QBuffer buffer(&m_bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    QImage image = reader.read();
    if (image.isNull()) {
        m_held = 0;
        error = QStringLiteral("Файл «%1» повреждён или это не BMP: %2").arg(shown, reader.errorString());
        return false;
    }
    if (image.size() != SlideSize) {
        m_held = 0;
        error = QStringLiteral("Слайд «%1» размером %2 × %3, а слайды бывают только %4 × %5")
                    .arg(shown)
                    .arg(image.width())
                    .arg(image.height())
                    .arg(SlideSize.width())
                    .arg(SlideSize.height());
        return false;
    }
    if (image.format() != QImage::Format_BGR888)
        image = image.convertToFormat(QImage::Format_BGR888);
    if (image.isNull()) {
        m_held = 0;
        error = QStringLiteral("Недостаточно памяти");
        return false;
    }
    frame.changed = next ? differingRect(image.constBits(), m_rows.data(), RowBytes, SlideSize)
                         : QRect(QPoint(0, 0), SlideSize);
    for (int y = 0; y < SlideSize.height(); ++y)
        std::memcpy(m_rows.data() + y * RowBytes, image.constScanLine(y), size_t(RowBytes));
    m_held = i;
    frame.bgr = m_rows.data();
    frame.stride = RowBytes;
    frame.size = SlideSize;
    return true;
}

} // namespace exporting
