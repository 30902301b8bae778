// The journal's format: its header, records framed with a length, a type and
// a checksum, and reading them back as far as they are whole.
#include "slides/Journal.h"
#include "slides/SlideStore.h"

#include <QtEndian>

#include <cstring>

namespace slides::journal {

namespace {

constexpr char Magic[8] = {'V', 'E', 'L', 'L', 'U', 'M', 'O', 'J'};
constexpr qsizetype HeaderBytes = HeaderSize;
constexpr qsizetype FrameBytes = 4 + 1 + 8; // length, type, checksum
static_assert(FrameBytes + 1 == AppendedAround, "a record's flags byte comes before the bytes given");
constexpr quint32 MaxPayload = 64u << 20;


// The checksum of a record: its type and payload, started from the payload's length.
quint64 checksum(const char *bytes, qsizetype size, quint64 start)
{
    return SlideStore::checksum(QByteArrayView(bytes, size), start);
}

void putU32(char *at, quint32 v) { qToLittleEndian(v, at); }
quint32 getU32(const char *at) { return qFromLittleEndian<quint32>(at); }

// Builds a record around a payload of `size` bytes that `fill` writes.
template<typename Fill>
QByteArray frame(Type type, qsizetype size, Fill fill)
{
    QByteArray out(FrameBytes + size, Qt::Uninitialized);
    char *p = out.data();
    putU32(p, quint32(size));
    p[4] = char(type);
    fill(p + 5);
    const quint64 sum = checksum(p + 4, 1 + size, quint64(size));
    qToLittleEndian(sum, p + 5 + size);
    return out;
}

} // namespace

QByteArray header(quint32 version)
{
    QByteArray out(HeaderBytes, '\0');
    std::memcpy(out.data(), Magic, sizeof Magic);
    putU32(out.data() + 8, version);
    return out;
}

QByteArray record(Type type, QByteArrayView payload)
{
    return frame(type, payload.size(), [&](char *p) {
        if (!payload.isEmpty())
            std::memcpy(p, payload.data(), size_t(payload.size()));
    });
}

QByteArray record(Type type, quint8 flags, QByteArrayView bytes)
{
    return frame(type, 1 + bytes.size(), [&](char *p) {
        p[0] = char(flags);
        if (!bytes.isEmpty())
            std::memcpy(p + 1, bytes.data(), size_t(bytes.size()));
    });
}

qsizetype appendRecord(QByteArray &out, Type type, quint8 flags, QByteArrayView bytes)
{
    const qsizetype size = 1 + bytes.size();
    const qsizetype at = out.size();
    out.resize(at + FrameBytes + size);
    char *p = out.data() + at;
    putU32(p, quint32(size));
    p[4] = char(type);
    p[5] = char(flags);
    if (!bytes.isEmpty())
        std::memcpy(p + 6, bytes.data(), size_t(bytes.size()));
    qToLittleEndian(checksum(p + 4, 1 + size, quint64(size)), p + 5 + size);
    return FrameBytes + size;
}

QByteArray numbers(const std::vector<int> &ascending)
{
    QByteArray out(qsizetype(ascending.size()) * 4, Qt::Uninitialized);
    for (size_t k = 0; k < ascending.size(); ++k)
        putU32(out.data() + 4 * k, quint32(ascending[k]));
    return out;
}

QByteArray durationPayload(bool relative, int frames, const std::vector<int> &ascending)
{
    const char head[2] = {char(relative ? 1 : 0), char(qint8(frames))};
    return QByteArray(head, 2) + numbers(ascending);
}

bool readDuration(QByteArrayView payload, bool &relative, int &frames, std::vector<int> &numbers)
{
    if (payload.size() < 6 || quint8(payload[0]) > 1)
        return false;
    numbers = readNumbers(payload.sliced(2));
    if (numbers.empty())
        return false;
    relative = payload[0] == 1;
    frames = qint8(payload[1]);
    return true;
}

QByteArray movePayload(int before, const std::vector<int> &ascending)
{
    return numbers({before}) + numbers(ascending);
}

bool readMove(QByteArrayView payload, int &before, std::vector<int> &numbers)
{
    if (payload.size() < 8)
        return false;
    const std::vector<int> head = readNumbers(payload.first(4));
    numbers = readNumbers(payload.sliced(4));
    if (head.empty() || numbers.empty())
        return false;
    before = head.front();
    return true;
}

QList<QByteArray> soundClipRecords(QByteArrayView hash, const QString &name, QByteArrayView bytes)
{
    const QByteArray utf8 = name.toUtf8().left(4096);
    const QByteArrayView first = bytes.first(std::min(bytes.size(), SoundPiece));
    QList<QByteArray> out;
    out << frame(Type::SoundClip, 32 + 4 + utf8.size() + first.size(), [&](char *p) {
        std::memcpy(p, hash.data(), 32);
        putU32(p + 32, quint32(utf8.size()));
        std::memcpy(p + 36, utf8.constData(), size_t(utf8.size()));
        if (!first.isEmpty())
            std::memcpy(p + 36 + utf8.size(), first.data(), size_t(first.size()));
    });
    for (qsizetype at = first.size(); at < bytes.size(); at += SoundPiece) {
        const QByteArrayView piece = bytes.sliced(at, std::min(bytes.size() - at, SoundPiece));
        out << frame(Type::SoundMore, 32 + piece.size(), [&](char *p) {
            std::memcpy(p, hash.data(), 32);
            std::memcpy(p + 32, piece.data(), size_t(piece.size()));
        });
    }
    return out;
}

bool readSoundClip(QByteArrayView payload, QByteArray &hash, QString &name, QByteArrayView &bytes)
{
    if (payload.size() < 36)
        return false;
    const quint32 nameBytes = getU32(payload.data() + 32);
    if (nameBytes > quint32(payload.size() - 36))
        return false;
    hash = payload.first(32).toByteArray();
    name = QString::fromUtf8(payload.sliced(36, nameBytes));
    bytes = payload.sliced(36 + nameBytes);
    return true;
}

constexpr qsizetype SoundEntryBytes = 4 + 1 + 32;

QByteArray soundPayload(bool held, const std::vector<SoundEntry> &entries)
{
    QByteArray out(1 + qsizetype(entries.size()) * SoundEntryBytes, '\0');
    out[0] = char(held ? 1 : 0);
    char *p = out.data() + 1;
    for (const SoundEntry &e : entries) {
        putU32(p, quint32(e.number));
        p[4] = char(quint8(e.volume));
        if (e.hash.size() == 32)
            std::memcpy(p + 5, e.hash.constData(), 32);
        p += SoundEntryBytes;
    }
    return out;
}

bool readSound(QByteArrayView payload, bool &held, std::vector<SoundEntry> &entries)
{
    if (payload.size() < 1 + SoundEntryBytes || (payload.size() - 1) % SoundEntryBytes || quint8(payload[0]) > 1)
        return false;
    held = payload[0] == 1;
    entries.clear();
    static const QByteArray none(32, '\0');
    for (qsizetype at = 1; at < payload.size(); at += SoundEntryBytes) {
        SoundEntry e;
        e.number = int(getU32(payload.data() + at));
        e.volume = quint8(payload[at + 4]);
        const QByteArrayView hash = payload.sliced(at + 5, 32);
        if (hash != QByteArrayView(none))
            e.hash = hash.toByteArray();
        if (e.number < 1)
            return false;
        entries.push_back(std::move(e));
    }
    return true;
}

std::vector<int> readNumbers(QByteArrayView payload)
{
    std::vector<int> out;
    if (payload.isEmpty() || payload.size() % 4)
        return out;
    out.reserve(size_t(payload.size() / 4));
    for (qsizetype k = 0; k < payload.size(); k += 4) {
        const quint32 v = getU32(payload.data() + k);
        // Numbers run from 1 upwards without repeats; anything else is no list this program wrote.
        if (v < 1 || v > 0x7fffffff || (!out.empty() && int(v) <= out.back()))
            return {};
        out.push_back(int(v));
    }
    return out;
}

namespace {

void appendU32(QByteArray &out, quint32 v)
{
    char b[4];
    putU32(b, v);
    out.append(b, 4);
}

// Takes a 32-bit length and that many bytes from the front of `rest`; false when they are not there.
bool takeSized(QByteArrayView &rest, QByteArrayView &out)
{
    if (rest.size() < 4)
        return false;
    const quint32 n = getU32(rest.data());
    if (qsizetype(n) > rest.size() - 4)
        return false;
    out = rest.sliced(4, qsizetype(n));
    rest = rest.sliced(4 + qsizetype(n));
    return true;
}

} // namespace

QByteArray scenePayload(const QString &project, const QList<QByteArray> &keys, QByteArrayView scene)
{
    const QByteArray path = project.toUtf8();
    QByteArray out;
    qsizetype size = 8 + path.size() + scene.size();
    for (const QByteArray &k : keys)
        size += 4 + k.size();
    out.reserve(size);
    appendU32(out, quint32(path.size()));
    out += path;
    appendU32(out, quint32(keys.size()));
    for (const QByteArray &k : keys) {
        appendU32(out, quint32(k.size()));
        out += k;
    }
    out += scene;
    return out;
}

bool readScene(QByteArrayView payload, SceneRecord &out)
{
    QByteArrayView rest = payload, path;
    if (!takeSized(rest, path) || rest.size() < 4)
        return false;
    const quint32 n = getU32(rest.data());
    rest = rest.sliced(4);
    // Each key takes at least its length: a count beyond that is no record this program wrote.
    if (qsizetype(n) > rest.size() / 4)
        return false;
    out.keys.clear();
    out.keys.reserve(qsizetype(n));
    for (quint32 k = 0; k < n; ++k) {
        QByteArrayView key;
        if (!takeSized(rest, key))
            return false;
        out.keys.append(key.toByteArray());
    }
    out.project = QString::fromUtf8(path);
    out.scene = rest;
    return true;
}

QByteArray pictureRecord(QByteArrayView key, QByteArrayView bytes)
{
    // Framed in one go: a picture of megabytes is copied once, not once into a payload and again.
    return frame(Type::Picture, 4 + key.size() + bytes.size(), [&](char *p) {
        putU32(p, quint32(key.size()));
        if (!key.isEmpty())
            std::memcpy(p + 4, key.data(), size_t(key.size()));
        if (!bytes.isEmpty())
            std::memcpy(p + 4 + key.size(), bytes.data(), size_t(bytes.size()));
    });
}

bool readPicture(QByteArrayView payload, QByteArrayView &key, QByteArrayView &bytes)
{
    QByteArrayView rest = payload;
    if (!takeSized(rest, key) || key.isEmpty())
        return false;
    bytes = rest;
    return true;
}

bool knownType(quint8 type, quint32 version)
{
    // A record type from after the file's version is damage, not something to read.
    const Type last = version >= 3 ? Type::ProjectSaved : Type::Saved;
    if (type >= quint8(Type::Base) && type <= quint8(last))
        return true;
    return version >= 4 && type >= quint8(Type::Duration) && type <= quint8(Type::SoundMore);
}

QByteArray placedRecord(Type type, int number, quint8 flags, QByteArrayView bytes)
{
    return frame(type, 5 + bytes.size(), [&](char *p) {
        putU32(p, quint32(number));
        p[4] = char(flags);
        if (!bytes.isEmpty())
            std::memcpy(p + 5, bytes.data(), size_t(bytes.size()));
    });
}

bool readPlaced(QByteArrayView payload, int &number, quint8 &flags, QByteArrayView &bytes)
{
    if (payload.size() < 5)
        return false;
    const quint32 n = getU32(payload.data());
    if (n < 1 || n > 0x7fffffff)
        return false;
    number = int(n);
    flags = quint8(payload[4]);
    bytes = payload.sliced(5);
    return true;
}

Parsed parse(QByteArrayView bytes)
{
    Parsed out;
    if (bytes.size() < HeaderBytes || std::memcmp(bytes.data(), Magic, sizeof Magic) != 0)
        return out;
    out.version = getU32(bytes.data() + 8);
    if (out.version == 0)
        return out;
    if (out.version > FormatVersion) {
        out.status = Parsed::FutureVersion;
        return out;
    }
    out.status = Parsed::Ok;
    qsizetype pos = HeaderBytes;
    const qsizetype size = bytes.size();
    const char *data = bytes.data();
    while (size - pos >= FrameBytes) {
        const quint32 len = getU32(data + pos);
        if (len > MaxPayload || qsizetype(len) > size - pos - FrameBytes)
            break;
        const auto type = quint8(data[pos + 4]);
        const quint64 stored = qFromLittleEndian<quint64>(data + pos + 5 + len);
        if (!knownType(type, out.version) || checksum(data + pos + 4, 1 + len, len) != stored)
            break;
        out.records.push_back(Record{Type(type), QByteArrayView(data + pos + 5, qsizetype(len))});
        pos += FrameBytes + len;
    }
    out.validBytes = pos;
    out.damaged = pos < size;
    return out;
}

} // namespace slides::journal
