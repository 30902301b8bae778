#include "project/SceneCodec.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QIODevice>

#include <new>

namespace project {

namespace {

// Version of the encoded scene's own layout. 2 added captions and the title card; 1 is still read.
constexpr quint32 SceneLayout = 2;
constexpr quint32 FirstLayout = 1;


QDataStream &operator<<(QDataStream &out, const SpinState &s)
{
    return out << qint32(s.minimum) << qint32(s.maximum) << qint32(s.value);
}

QDataStream &operator>>(QDataStream &in, SpinState &s)
{
    qint32 a = 0, b = 0, c = 0;
    in >> a >> b >> c;
    s = {a, b, c};
    return in;
}

// Texts travel as UTF-8 byte arrays, which QDataStream reads in bounded steps: its own readers of strings
// and lists allocate whatever length a crafted file claims before reading a byte of it.
struct Text {
    QString &s;
};
QDataStream &operator>>(QDataStream &in, Text t)
{
    QByteArray b;
    in >> b;
    t.s = QString::fromUtf8(b);
    return in;
}

void writeTexts(QDataStream &out, const QStringList &list)
{
    out << quint32(list.size());
    for (const QString &s : list)
        out << s.toUtf8();
}

void readTexts(QDataStream &in, QStringList &list, qsizetype limit)
{
    quint32 n = 0;
    in >> n;
    if (n > limit) {
        in.setStatus(QDataStream::ReadCorruptData);
        return;
    }
    for (quint32 i = 0; i < n && in.status() == QDataStream::Ok; ++i)
        in >> Text{list.emplace_back()};
}

// Geometry a scene can have: a crafted file must not make a control of millions of pixels.
bool saneRect(const QRectF &r)
{
    constexpr double Far = 1e6, Large = 150000;
    return qIsFinite(r.x()) && qIsFinite(r.y()) && qIsFinite(r.width()) && qIsFinite(r.height()) &&
           qAbs(r.x()) <= Far && qAbs(r.y()) <= Far && r.width() >= 0 && r.height() >= 0 && r.width() <= Large &&
           r.height() <= Large;
}

} // namespace

QByteArray pictureKey(const QByteArray &picture)
{
    return picture.isEmpty() ? QByteArray() : QCryptographicHash::hash(picture, QCryptographicHash::Sha256);
}

QByteArray encodeScene(const SceneSnapshot &s)
{
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    auto key = [](const QByteArray &picture) { return pictureKey(picture); };
    out << SceneLayout << key(s.background) << s.backgroundGeometry << s.backgroundX << s.backgroundY
        << s.backgroundRemovable << s.startAnimation << s.titleCard;
    out << quint32(s.objects.size());
    for (const StageObject &o : s.objects)
        out << quint8(o.kind) << qint32(o.number) << key(o.picture) << o.geometry << o.visible << qint32(o.frame)
            << o.playing << o.autoSize << qint32(o.sizeMode) << o.caption;
    out << s.characterPlace << s.characterAutoSize << qint32(s.characterSizeMode);
    writeTexts(out, s.entries);
    out << qint32(s.currentRow) << s.entrySelected << s.selectedIndex << s.selectedIsProp << s.characterCount
        << s.propCount << s.characterX << s.characterY << qint32(s.frameCounter) << s.animateCaption.toUtf8()
        << s.deleteEnabled << s.changeActionEnabled << s.animateEnabled;
    writeTexts(out, s.captions);
    out << qint32(s.step) << s.syncFrame << s.syncRecord << s.onionSkin << qint32(s.previewRate);
    return data;
}

namespace {

bool decodeSceneUnguarded(const QByteArray &data, SceneSnapshot &s, QList<QByteArray> &keys)
{
    QDataStream in(data);
    in.setVersion(QDataStream::Qt_6_4);
    quint32 layout = 0;
    in >> layout;
    if (layout != SceneLayout && layout != FirstLayout)
        return false;
    const bool captions = layout >= 2;
    QByteArray key;
    in >> key >> s.backgroundGeometry >> s.backgroundX >> s.backgroundY >> s.backgroundRemovable >> s.startAnimation;
    if (captions)
        in >> s.titleCard;
    keys = {key};
    quint32 count = 0;
    in >> count;
    if (count > quint32(data.size()) || !saneRect(s.backgroundGeometry))
        return false;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        StageObject o;
        quint8 kind = 0;
        qint32 number = 0, frame = 0, sizeMode = 0;
        in >> kind >> number >> key >> o.geometry >> o.visible >> frame >> o.playing >> o.autoSize >> sizeMode;
        if (captions)
            in >> o.caption;
        const bool known = kind == quint8(StageObject::Kind::Character) || kind == quint8(StageObject::Kind::Prop) ||
                           (captions && kind == quint8(StageObject::Kind::Caption));
        if (!known || !saneRect(o.geometry))
            return false;
        o.kind = StageObject::Kind(kind);
        o.number = number;
        o.frame = frame;
        o.sizeMode = sizeMode;
        s.objects << o;
        keys << key;
    }
    qint32 templateMode = 0;
    in >> s.characterPlace >> s.characterAutoSize >> templateMode;
    s.characterSizeMode = templateMode;
    if (!saneRect(s.characterPlace))
        return false;
    qint32 currentRow = 0, frameCounter = 0, step = 0, rate = 0;
    readTexts(in, s.entries, data.size());
    in >> currentRow >> s.entrySelected >> s.selectedIndex >> s.selectedIsProp >> s.characterCount >> s.propCount
        >> s.characterX >> s.characterY >> frameCounter >> Text{s.animateCaption} >> s.deleteEnabled
        >> s.changeActionEnabled >> s.animateEnabled;
    readTexts(in, s.captions, data.size());
    in >> step >> s.syncFrame >> s.syncRecord >> s.onionSkin >> rate;
    s.currentRow = currentRow;
    s.frameCounter = frameCounter;
    s.step = step;
    s.previewRate = rate;
    return in.status() == QDataStream::Ok && in.atEnd();
}

} // namespace

bool decodeScene(const QByteArray &data, SceneSnapshot &s, QList<QByteArray> &keys)
{
    try {
        return decodeSceneUnguarded(data, s, keys);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

} // namespace project
