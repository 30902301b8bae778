#include "text/Caption.h"

#include <QDataStream>
#include <QIODevice>
#include <QTextBoundaryFinder>

#include <algorithm>

// The kept forms of captions and title cards: a tag telling which of the two
// it is, a version, then the fields. Colours go as 16-bit RGBA, so that any
// colour chosen comes back equal.
namespace text {

namespace {

constexpr quint32 CaptionTag = 0x56434150; // "VCAP"
constexpr quint32 TitleTag = 0x5654544c;   // "VTTL"
constexpr quint8 Version = 1;
constexpr quint32 MaxText = 1'000'000;     // characters; more is not a caption but damage

void put(QDataStream &out, QColor c) { out << quint64(c.rgba64()); }

bool take(QDataStream &in, QColor &c)
{
    quint64 v = 0;
    in >> v;
    c = QColor::fromRgba64(QRgba64::fromRgba64(v));
    return in.status() == QDataStream::Ok;
}

void put(QDataStream &out, const Lettering &l)
{
    out << l.text << l.family << qint32(l.size);
    put(out, l.colour);
    put(out, l.outline);
    out << qint32(l.outlineWidth);
}

bool take(QDataStream &in, Lettering &l)
{
    qint32 size = 0, width = 0;
    in >> l.text >> l.family >> size;
    if (!take(in, l.colour) || !take(in, l.outline))
        return false;
    in >> width;
    l.size = std::clamp<qint32>(size, 1, 400);
    l.outlineWidth = std::clamp<qint32>(width, 0, 20);
    return in.status() == QDataStream::Ok && quint32(l.text.size()) <= MaxText && l.family.size() <= 200;
}

// Opens a stream on `bytes` past its tag and version; false when they are not ours.
bool header(QDataStream &in, quint32 tag)
{
    quint32 seen = 0;
    quint8 version = 0;
    in >> seen >> version;
    return in.status() == QDataStream::Ok && seen == tag && version >= 1 && version <= Version;
}

void begin(QDataStream &out, quint32 tag)
{
    out.setVersion(QDataStream::Qt_6_0);
    out << tag << Version;
}

} // namespace

QByteArray encode(const Caption &caption)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    begin(out, CaptionTag);
    put(out, caption.lettering);
    out << quint8(caption.shape) << quint8(caption.tail);
    put(out, caption.fill);
    put(out, caption.border);
    return bytes;
}

QByteArray encode(const TitleCard &card)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    begin(out, TitleTag);
    put(out, card.lettering);
    put(out, card.top);
    put(out, card.bottom);
    return bytes;
}

std::optional<Caption> decodeCaption(const QByteArray &bytes)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    Caption c;
    quint8 shape = 0, tail = 0;
    if (!header(in, CaptionTag) || !take(in, c.lettering))
        return std::nullopt;
    in >> shape >> tail;
    if (!take(in, c.fill) || !take(in, c.border) || shape > quint8(Shape::Box) || tail > quint8(Tail::TopRight))
        return std::nullopt;
    c.shape = Shape(shape);
    c.tail = Tail(tail);
    return c;
}

std::optional<TitleCard> decodeTitleCard(const QByteArray &bytes)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    TitleCard t;
    if (!header(in, TitleTag) || !take(in, t.lettering) || !take(in, t.top) || !take(in, t.bottom))
        return std::nullopt;
    return t;
}

QString firstWords(const QString &text)
{
    constexpr int Near = 20;
    const QString line = text.simplified(); // newlines and runs of spaces become one space
    if (line.size() <= Near)
        return line;
    // The last word's end within the first 20 characters; a first word longer than that is cut between two
    // letters (never inside one, nor between a letter and its accent).
    qsizetype cut = line.lastIndexOf(QLatin1Char(' '), Near);
    if (cut <= 0) {
        QTextBoundaryFinder letters(QTextBoundaryFinder::Grapheme, line);
        letters.setPosition(Near);
        cut = letters.isAtBoundary() ? Near : letters.toPreviousBoundary();
        if (cut <= 0)
            cut = letters.toNextBoundary();
    }
    return line.left(cut) + QChar(0x2026);
}

} // namespace text
