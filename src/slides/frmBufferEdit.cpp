// Editing the strip from the buffer window: deleting, duplicating, durations, where recording goes, and
// cutting, copying, pasting and moving slides (the clipboard carries them packed, between programs too).
#include "slides/frmBuffer.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <new>
#include <utility>

#include "slides/frmDuration.h"

void frmBuffer::DeleteChosen()
{
    if (m_chosen.empty())
        return;
    if (m_slides.remove(std::vector<int>(m_chosen.begin(), m_chosen.end())))
        m_state.SlidesUnsaved = true;
}

void frmBuffer::DuplicateChosen()
{
    if (m_chosen.empty())
        return;
    const std::vector<int> numbers(m_chosen.begin(), m_chosen.end());
    if (!m_slides.duplicate(numbers)) {
        m_state.message(this, {QStringLiteral("Не удалось дублировать слайды: недостаточно памяти."), QString(),
                               controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return;
    }
    m_state.SlidesUnsaved = true;
    // The copies are chosen, so that a held pose can be made longer with one more click.
    const int after = numbers.back();
    for (int k = 1; k <= int(numbers.size()); ++k)
        m_chosen.insert(after + k);
    m_anchor = after + 1;
    Picture1->update();
}

void frmBuffer::DurationChosen()
{
    if (m_chosen.empty() || !askDuration)
        return;
    // Starts at what the first chosen slide lasts.
    const int frames = askDuration(this, m_slides.store().duration(*m_chosen.begin()));
    if (frames >= 1 && m_slides.setDuration(std::vector<int>(m_chosen.begin(), m_chosen.end()), frames))
        m_state.SlidesUnsaved = true;
}

void frmBuffer::LengthenChosen(int delta)
{
    if (!m_chosen.empty() && m_slides.changeDuration(std::vector<int>(m_chosen.begin(), m_chosen.end()), delta))
        m_state.SlidesUnsaved = true;
}

void frmBuffer::RecordAfterChosen()
{
    // The slide the menu was opened at; from elsewhere, the last of the chosen ones.
    int n = m_menuSlide;
    if (n < 1 || n > slideCount())
        n = m_chosen.empty() ? 0 : *m_chosen.rbegin();
    m_menuSlide = 0;
    if (n >= 1)
        m_slides.recordAfter(n);
}

void frmBuffer::RecordAtEnd()
{
    m_slides.recordAfter(0);
}

void frmBuffer::ReplaceChosen()
{
    if (m_chosen.size() != 1 || !captureStage)
        return;
    const int n = *m_chosen.begin();
    const QImage shot = captureStage();
    if (shot.isNull() || !m_slides.replace(n, shot)) {
        m_state.message(this, {QStringLiteral("Не удалось заменить слайд: недостаточно памяти."), QString(),
                               controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return;
    }
    m_state.SlidesUnsaved = true;
    // The slide stays chosen, so that it can be recorded again at once.
    choose(n, Qt::NoModifier);
}

namespace {

// Slides on the clipboard: a mark, their count, then each one's flags, duration, byte count (32-bit) and
// packed bytes, told one after the other from a key, as the store holds them.
constexpr char ClipMark[8] = {'V', 'E', 'L', 'S', 'L', 'D', 'S', '1'};

QByteArray clipBytes(const std::vector<slides::SlideStore::Packed> &packed)
{
    qsizetype size = 12;
    for (const auto &p : packed)
        size += 6 + p.bytes.size();
    QByteArray out(size, Qt::Uninitialized);
    char *at = out.data();
    std::memcpy(at, ClipMark, 8);
    qToLittleEndian<quint32>(quint32(packed.size()), at + 8);
    at += 12;
    for (const auto &p : packed) {
        at[0] = char(p.flags);
        at[1] = char(p.duration);
        qToLittleEndian<quint32>(quint32(p.bytes.size()), at + 2);
        std::memcpy(at + 6, p.bytes.constData(), size_t(p.bytes.size()));
        at += 6 + p.bytes.size();
    }
    // Then the slides' sounds, when any has one: the slide's place among them (32-bit), its volume (8-bit),
    // the name's length (32-bit) and UTF-8, the file's length (32-bit) and bytes.
    for (size_t k = 0; k < packed.size(); ++k) {
        const slides::SlideSound &s = packed[k].sound;
        if (!s)
            continue;
        const QByteArray name = s.clip->name.toUtf8();
        char head[4];
        qToLittleEndian<quint32>(quint32(k + 1), head);
        out.append(head, 4).append(char(s.volume));
        qToLittleEndian<quint32>(quint32(name.size()), head);
        out.append(head, 4).append(name);
        qToLittleEndian<quint32>(quint32(s.clip->bytes.size()), head);
        out.append(head, 4).append(s.clip->bytes);
    }
    return out;
}

// The slides in clipboard bytes, each read through once so that damaged or foreign bytes never reach
// the buffer. False when they are not such slides.
bool clipSlides(QByteArrayView bytes, slides::SlideStore &out)
{
    if (bytes.size() < 12 || std::memcmp(bytes.data(), ClipMark, 8) != 0)
        return false;
    const quint32 n = qFromLittleEndian<quint32>(bytes.data() + 8);
    qsizetype at = 12;
    for (quint32 k = 0; k < n; ++k) {
        if (bytes.size() - at < 6)
            return false;
        const quint8 flags = quint8(bytes[at]) & (slides::SlideStore::Key | slides::SlideStore::Compressed);
        const int duration = quint8(bytes[at + 1]);
        const quint32 size = qFromLittleEndian<quint32>(bytes.data() + at + 2);
        if (quint64(bytes.size() - at - 6) < size)
            return false;
        if (!out.appendPacked(flags, bytes.sliced(at + 6, size), nullptr, duration))
            return false;
        at += 6 + qsizetype(size);
    }
    QByteArray raw(slides::SlideStore::RawBytes, Qt::Uninitialized);
    int held = 0;
    for (int i = 1; i <= out.count(); ++i)
        if (!out.readOnInto(i, raw.data(), slides::SlideStore::RowBytes, held))
            return false;
    QHash<QByteArray, std::shared_ptr<const slides::SoundClip>> clips; // a file several slides start, once
    while (n > 0 && bytes.size() - at >= 13) {
        const quint32 slide = qFromLittleEndian<quint32>(bytes.data() + at);
        const int volume = quint8(bytes[at + 4]);
        const quint32 nameSize = qFromLittleEndian<quint32>(bytes.data() + at + 5);
        at += 9;
        if (quint64(bytes.size() - at) < quint64(nameSize) + 4)
            return false;
        const QString name = QString::fromUtf8(bytes.sliced(at, nameSize));
        at += nameSize;
        const quint32 size = qFromLittleEndian<quint32>(bytes.data() + at);
        at += 4;
        if (quint64(bytes.size() - at) < size)
            return false;
        auto clip = slides::SoundClip::make(bytes.sliced(at, size).toByteArray(), name);
        at += size;
        if (const auto same = clips.value(clip->hash))
            clip = same;
        clips.insert(clip->hash, clip);
        if (!out.setSound(int(slide), {clip, quint8(std::min(volume, slides::SlideSound::MaxVolume))}))
            return false;
    }
    return n > 0 && at == bytes.size();
}

} // namespace

bool frmBuffer::CopyChosen()
{
    if (m_chosen.empty())
        return false;
    std::vector<slides::SlideStore::Packed> packed;
    auto *data = new QMimeData;
    try {
        if (!m_slides.store().packCopies(0, std::vector<int>(m_chosen.begin(), m_chosen.end()), packed))
            throw std::bad_alloc();
        data->setData(QString::fromLatin1(SlidesMime), clipBytes(packed));
    } catch (const std::bad_alloc &) {
        delete data;
        m_state.message(this, {QStringLiteral("Не удалось скопировать слайды: недостаточно памяти."), QString(),
                               controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return false;
    }
    if (m_chosen.size() == 1)
        data->setImageData(m_slides.slide(*m_chosen.begin()).convertToFormat(QImage::Format_RGB32));
    QGuiApplication::clipboard()->setMimeData(data);
    return true;
}

void frmBuffer::CutChosen()
{
    if (m_chosen.empty())
        return;
    // Deleted only when the copy reached the clipboard.
    if (CopyChosen())
        DeleteChosen();
}

void frmBuffer::Paste()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    slides::SlideStore pasted;
    QString told;
    const QString mime = QString::fromLatin1(SlidesMime);
    if (data && data->hasFormat(mime)) {
        if (!clipSlides(data->data(mime), pasted)) {
            m_state.message(this, {QStringLiteral("Слайды в буфере обмена повреждены: вставить их не удалось."),
                                   QString(), controls::MsgIcon::Error, controls::MsgButtons::Ok});
            return;
        }
    } else if (data && data->hasImage()) {
        QImage picture = qvariant_cast<QImage>(data->imageData());
        const QSize slide(slides::SlideWidth, slides::SlideHeight);
        if (!picture.isNull() && picture.size() != slide) {
            // Fitted whole, keeping its proportions, centred on black: nothing of it is cut off.
            told = QStringLiteral("Картинка размером %1×%2 не совпадает с размером слайда (%3×%4): она вписана "
                                  "в слайд с сохранением пропорций.")
                       .arg(picture.width())
                       .arg(picture.height())
                       .arg(slide.width())
                       .arg(slide.height());
            QImage fitted(slide, QImage::Format_RGB32);
            fitted.fill(Qt::black);
            const QImage scaled = picture.scaled(slide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            QPainter p(&fitted);
            p.drawImage((slide.width() - scaled.width()) / 2, (slide.height() - scaled.height()) / 2, scaled);
            p.end();
            picture = fitted;
        }
        if (picture.isNull() || !pasted.append(picture.convertToFormat(QImage::Format_RGB32))) {
            m_state.message(this, {QStringLiteral("Не удалось вставить картинку."), QString(),
                                   controls::MsgIcon::Error, controls::MsgButtons::Ok});
            return;
        }
    } else {
        m_state.message(this, {QStringLiteral("В буфере обмена нет слайдов или картинки: вставить нечего."),
                               QString(), controls::MsgIcon::Information, controls::MsgButtons::Ok});
        return;
    }
    const int at = m_chosen.empty() ? slideCount() + 1 : *m_chosen.rbegin() + 1;
    const int n = pasted.count();
    if (!m_slides.addSeries(std::move(pasted), at)) {
        m_state.message(this, {QStringLiteral("Не удалось вставить слайды: недостаточно памяти."), QString(),
                               controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return;
    }
    m_state.SlidesUnsaved = true;
    m_chosen.clear();
    for (int k = 0; k < n; ++k)
        m_chosen.insert(at + k);
    m_anchor = m_current = at;
    Picture1->update();
    if (!told.isEmpty())
        m_state.message(this, {told, QString(), controls::MsgIcon::Information, controls::MsgButtons::Ok});
}

void frmBuffer::MoveChosen(int before)
{
    if (m_chosen.empty())
        return;
    const int n = int(m_chosen.size());
    const int first = before - int(std::distance(m_chosen.begin(), m_chosen.lower_bound(before)));
    if (!m_slides.move(std::vector<int>(m_chosen.begin(), m_chosen.end()), before))
        return;
    m_state.SlidesUnsaved = true;
    m_chosen.clear();
    for (int k = 0; k < n; ++k)
        m_chosen.insert(first + k);
    m_anchor = m_current = first;
    Picture1->update();
}

// Undo and redo leave SlidesUnsaved as it is: every change they can walk over came after the last
// save and set it already if it was of a kind that sets it.
