#include "project/ProjectFile.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>
#include <QSet>

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>

#include "project/SceneCodec.h"
#include "slides/SlideStore.h"

namespace project {

namespace {

using Status = ProjectResult::Status;

constexpr char Magic[] = "SQLite format 3";   // with its NUL, the first 16 bytes of every SQLite file
constexpr int HeaderBytes = 100;

const char *const Schema =
    "CREATE TABLE scene(id INTEGER PRIMARY KEY CHECK (id = 1), hash BLOB NOT NULL, data BLOB NOT NULL);"
    "CREATE TABLE pictures(id INTEGER PRIMARY KEY, hash BLOB NOT NULL UNIQUE, bytes BLOB NOT NULL);"
    "CREATE TABLE slides(ordinal INTEGER PRIMARY KEY, flags INTEGER NOT NULL, hash BLOB NOT NULL,"
    " bytes BLOB NOT NULL);";

QByteArray sha256(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

ProjectResult failure(Status status, const QString &message)
{
    return {status, message, {}};
}

// ---- A thin hold on SQLite's handles ----

struct Database {
    sqlite3 *db = nullptr;
    int lastError = SQLITE_OK;
    ~Database()
    {
        if (db)
            sqlite3_close_v2(db);
    }
    bool open(const QString &path, int flags)
    {
        lastError = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr);
        if (lastError == SQLITE_OK)
            sqlite3_extended_result_codes(db, 1);
        return lastError == SQLITE_OK;
    }
    bool exec(const char *sql)
    {
        lastError = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        return lastError == SQLITE_OK;
    }
};

class Statement {
public:
    Statement(Database &d, const char *sql) : m_d(d)
    {
        d.lastError = sqlite3_prepare_v2(d.db, sql, -1, &m_s, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_s); }
    bool ok() const { return m_s != nullptr; }
    void bind(int i, QByteArrayView blob)
    {
        sqlite3_bind_blob64(m_s, i, blob.data(), sqlite3_uint64(blob.size()), SQLITE_STATIC);
    }
    void bind(int i, qint64 v) { sqlite3_bind_int64(m_s, i, v); }
    // SQLITE_ROW, SQLITE_DONE or an error, which is kept in the database's lastError.
    int step()
    {
        const int rc = sqlite3_step(m_s);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            m_d.lastError = sqlite3_extended_errcode(m_d.db);
        return rc;
    }
    bool run()
    {
        const bool done = step() == SQLITE_DONE;
        sqlite3_reset(m_s);
        sqlite3_clear_bindings(m_s);
        return done;
    }
    qint64 integer(int col) const { return sqlite3_column_int64(m_s, col); }
    QByteArray blob(int col) const
    {
        const void *p = sqlite3_column_blob(m_s, col);
        return QByteArray(static_cast<const char *>(p), sqlite3_column_bytes(m_s, col));
    }
    QString text(int col) const
    {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_s, col)));
    }

private:
    Database &m_d;
    sqlite3_stmt *m_s = nullptr;
};

// ---- Saving ----

QString writeReason(int code)
{
    switch (code & 0xff) {
    case SQLITE_FULL:
        return QStringLiteral("на диске не хватает места");
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("нет права на запись в эту папку или файл");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("файл занят другой программой");
    default:
        return QStringLiteral("ошибка записи");
    }
}

ProjectResult writeFailure(const QString &path, int code)
{
    return failure(Status::CannotWrite, QStringLiteral("Не удалось сохранить проект в файл «%1»: %2. Прежняя версия "
                                                       "файла, если она была, не изменилась.")
                                            .arg(shown(path), writeReason(code)));
}

// Brings the open database up to `scene` and `slides` in one transaction; `fresh` makes its tables first.
bool writeInto(Database &d, bool fresh, const SceneSnapshot &scene, const slides::SlideStore &slides)
{
    // Free pages can be given back later only in a file made with the map that lets pages move.
    if (fresh && !d.exec("PRAGMA auto_vacuum = INCREMENTAL"))
        return false;
    if (!d.exec("PRAGMA journal_mode = DELETE; PRAGMA synchronous = FULL; BEGIN IMMEDIATE"))
        return false;
    bool ok = true;
    if (fresh)
        ok = d.exec(QStringLiteral("PRAGMA application_id = %1; PRAGMA user_version = %2;")
                        .arg(ProjectFile::ApplicationId)
                        .arg(ProjectFile::FormatVersion)
                        .toLatin1()
                        .constData()) &&
             d.exec(Schema);

    // Pictures once each, by content; those the scene no longer uses go.
    QSet<QByteArray> used;
    if (ok) {
        Statement add(d, "INSERT OR IGNORE INTO pictures(hash, bytes) VALUES (?1, ?2)");
        ok = add.ok();
        for (const QByteArray &picture : scene.pictures()) {
            if (!ok || picture.isEmpty())
                continue;
            const QByteArray hash = sha256(picture);
            if (used.contains(hash))
                continue;
            used.insert(hash);
            add.bind(1, hash);
            add.bind(2, picture);
            ok = add.run();
        }
    }
    if (ok && !fresh) {
        QList<QByteArray> unused;
        Statement all(d, "SELECT hash FROM pictures");
        int rc = SQLITE_ROW;
        while (all.ok() && (rc = all.step()) == SQLITE_ROW)
            if (!used.contains(all.blob(0)))
                unused << all.blob(0);
        ok = all.ok() && rc == SQLITE_DONE;
        Statement drop(d, "DELETE FROM pictures WHERE hash = ?1");
        for (const QByteArray &hash : unused) {
            drop.bind(1, hash);
            ok = ok && drop.run();
        }
    }
    if (ok) {
        const QByteArray data = encodeScene(scene);
        Statement put(d, "INSERT OR REPLACE INTO scene(id, hash, data) VALUES (1, ?1, ?2)");
        put.bind(1, sha256(data));
        put.bind(2, data);
        ok = put.ok() && put.run();
    }

    // Slides: a row that holds the same bytes already stays untouched.
    struct Held {
        qint64 flags;
        qint64 size;
        QByteArray hash;
    };
    std::map<qint64, Held> held;
    if (ok && !fresh) {
        Statement rows(d, "SELECT ordinal, flags, length(bytes), hash FROM slides");
        int rc = SQLITE_ROW;
        while (rows.ok() && (rc = rows.step()) == SQLITE_ROW)
            held[rows.integer(0)] = {rows.integer(1), rows.integer(2), rows.blob(3)};
        ok = rows.ok() && rc == SQLITE_DONE;
    }
    if (ok) {
        Statement put(d, "INSERT OR REPLACE INTO slides(ordinal, flags, hash, bytes) VALUES (?1, ?2, ?3, ?4)");
        ok = put.ok();
        const std::vector<slides::SlideStore::PackedShare> packed = slides.shareAll();
        for (size_t i = 0; ok && i < packed.size(); ++i) {
            const QByteArrayView bytes(packed[i].data, packed[i].size);
            const QByteArray hash = sha256(bytes);
            const qint64 ordinal = qint64(i) + 1;
            const auto h = held.find(ordinal);
            if (h != held.end() && h->second.flags == packed[i].flags && h->second.size == bytes.size() &&
                h->second.hash == hash)
                continue;
            put.bind(1, ordinal);
            put.bind(2, qint64(packed[i].flags));
            put.bind(3, hash);
            put.bind(4, bytes);
            ok = put.run();
        }
        if (ok && !held.empty() && held.rbegin()->first > qint64(packed.size())) {
            Statement drop(d, "DELETE FROM slides WHERE ordinal > ?1");
            drop.bind(1, qint64(packed.size()));
            ok = drop.ok() && drop.run();
        }
    }
    // Slides deleted since the last save leave free pages; once they are a quarter of the file, the file
    // is shortened by them, moving pages from its end into the holes.
    if (ok && !fresh) {
        bool wasteful = false;
        {
            Statement count(d, "SELECT freelist_count * 4 > page_count FROM pragma_freelist_count, pragma_page_count");
            ok = count.ok() && count.step() == SQLITE_ROW;
            wasteful = ok && count.integer(0) != 0;
        }
        if (wasteful)
            ok = d.exec("PRAGMA incremental_vacuum");
    }
    if (ok && d.exec("COMMIT"))
        return true;
    const int code = d.lastError;
    sqlite3_exec(d.db, "ROLLBACK", nullptr, nullptr, nullptr);
    d.lastError = code;
    return false;
}

// The first bytes of a file as the checks before SQLite see it.
struct Header {
    enum Kind { Unreadable, Empty, Foreign, Truncated, Sqlite } kind = Unreadable;
    qint32 applicationId = 0;
    qint32 userVersion = 0;
    int error = 0;   // errno when unreadable
};

quint32 bigEndian(const QByteArray &b, int at)
{
    return quint32(quint8(b[at])) << 24 | quint32(quint8(b[at + 1])) << 16 | quint32(quint8(b[at + 2])) << 8 |
           quint32(quint8(b[at + 3]));
}

Header readHeader(const QString &path)
{
    Header h;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        h.error = errno;
        return h;
    }
    const qint64 size = file.size();
    const QByteArray b = file.read(HeaderBytes);
    const QByteArray magic(Magic, sizeof Magic);
    // A file shorter than the magic that begins as it does was cut off inside it.
    const bool sqlite = b.size() >= magic.size() ? b.startsWith(magic) : magic.startsWith(b);
    if (size == 0) {
        h.kind = Header::Empty;
    } else if (!sqlite) {
        h.kind = Header::Foreign;
    } else if (b.size() < HeaderBytes) {
        h.kind = Header::Truncated;
    } else {
        // The page count in the header is trusted when the change counters agree; a file shorter than
        // it, or ending inside a page, was cut off.
        const quint32 raw = quint32(quint8(b[16])) << 8 | quint8(b[17]);
        const qint64 pageSize = raw == 1 ? 65536 : raw;
        const bool countValid = bigEndian(b, 24) == bigEndian(b, 92);
        const qint64 pages = bigEndian(b, 28);
        const bool cut = pageSize < 512 || size % pageSize != 0 || (countValid && size < pageSize * pages);
        h.kind = cut ? Header::Truncated : Header::Sqlite;
        h.userVersion = qint32(bigEndian(b, 60));
        h.applicationId = qint32(bigEndian(b, 68));
    }
    return h;
}

bool isOurs(const Header &h)
{
    return h.kind == Header::Sqlite && h.applicationId == ProjectFile::ApplicationId &&
           h.userVersion >= 1 && h.userVersion <= ProjectFile::FormatVersion;
}

// Makes a rename into the folder survive a power cut.
void syncFolder(const QString &path)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool isDamage(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT ||
           code == SQLITE_IOERR_SHORT_READ;
}

} // namespace

ProjectResult ProjectFile::save(const QString &path, const SceneSnapshot &scene, const slides::SlideStore &slides)
{
    if (QFileInfo::exists(path) && isOurs(readHeader(path))) {
        Database d;
        if (d.open(path, SQLITE_OPEN_READWRITE) && writeInto(d, false, scene, slides))
            return {};
        // A project that cannot be brought up to date in place is written anew beside it.
    }
    // A new file is made whole under another name and then takes the project's name in one step, so that
    // whatever lay there stays until the new file is complete.
    const QString part = path + QStringLiteral(".part");
    // A journal left by a save cut short would otherwise be played back into the new file.
    QFile::remove(part + QStringLiteral("-journal"));
    QFile::remove(part);
    int code = SQLITE_OK;
    {
        Database d;
        if (!d.open(part, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) || !writeInto(d, true, scene, slides))
            code = d.lastError == SQLITE_OK ? SQLITE_CANTOPEN : d.lastError;
    }
    if (code == SQLITE_OK && std::rename(QFile::encodeName(part).constData(), QFile::encodeName(path).constData()) != 0)
        code = errno == ENOSPC ? SQLITE_FULL : SQLITE_CANTOPEN;
    if (code != SQLITE_OK) {
        QFile::remove(part);
        QFile::remove(part + QStringLiteral("-journal"));
        return writeFailure(path, code);
    }
    syncFolder(path);
    return {};
}

ProjectResult ProjectFile::open(const QString &path, SceneSnapshot &scene, slides::SlideStore &slides)
{
    const QString name = shown(path);
    const QString damaged =
        QStringLiteral("Файл «%1» повреждён или записан не полностью, и проект из него не может быть открыт.").arg(name);
    const Header h = readHeader(path);
    switch (h.kind) {
    case Header::Unreadable:
        return failure(Status::CannotRead, h.error == ENOENT
                                               ? QStringLiteral("Файл «%1» не найден.").arg(name)
                                               : QStringLiteral("Не удалось прочитать файл «%1».").arg(name));
    case Header::Empty:
    case Header::Foreign:
        return failure(Status::NotAProject, QStringLiteral("Файл «%1» не является проектом Vellumo.").arg(name));
    case Header::Truncated:
        return failure(Status::Damaged, damaged);
    case Header::Sqlite:
        break;
    }
    if (h.applicationId != ApplicationId)
        return failure(Status::NotAProject, QStringLiteral("Файл «%1» не является проектом Vellumo.").arg(name));
    if (h.userVersion > FormatVersion)
        return failure(Status::NewerVersion, QStringLiteral("Проект «%1» сохранён более новой версией программы и не "
                                                            "может быть открыт в этой версии.")
                                                 .arg(name));
    if (h.userVersion < 1)
        return failure(Status::Damaged, damaged);

    // Read-write when allowed, so that a save cut short by a crash is rolled back from its journal.
    Database d;
    if (!d.open(path, SQLITE_OPEN_READWRITE)) {
        sqlite3_close_v2(d.db);
        d.db = nullptr;
        if (!d.open(path, SQLITE_OPEN_READONLY))
            return failure(Status::CannotRead, QStringLiteral("Не удалось прочитать файл «%1».").arg(name));
    }
    auto readFailure = [&] {
        return isDamage(d.lastError)
                   ? failure(Status::Damaged, damaged)
                   : failure(Status::CannotRead, QStringLiteral("Не удалось прочитать файл «%1».").arg(name));
    };
    {
        Statement check(d, "PRAGMA quick_check");
        if (!check.ok() || check.step() != SQLITE_ROW)
            return readFailure();
        if (check.text(0) != QLatin1String("ok"))
            return failure(Status::Damaged, damaged);
    }

    SceneSnapshot read;
    QList<QByteArray> keys;
    {
        Statement row(d, "SELECT hash, data FROM scene WHERE id = 1");
        if (!row.ok())
            return readFailure();
        const int rc = row.step();
        if (rc != SQLITE_ROW)
            return rc == SQLITE_DONE ? failure(Status::Damaged, damaged) : readFailure();
        const QByteArray data = row.blob(1);
        if (sha256(data) != row.blob(0) || !decodeScene(data, read, keys))
            return failure(Status::Damaged, damaged);
    }

    ProjectResult result;
    {
        QHash<QByteArray, QByteArray> pictures;
        Statement rows(d, "SELECT hash, bytes FROM pictures");
        int rc = SQLITE_ROW;
        while (rows.ok() && (rc = rows.step()) == SQLITE_ROW) {
            QByteArray bytes = rows.blob(1);
            if (sha256(bytes) == rows.blob(0))
                pictures.insert(rows.blob(0), bytes);
        }
        if (!rows.ok() || rc != SQLITE_DONE)
            return readFailure();
        auto resolve = [&](const QByteArray &key, const QString &whose) {
            if (key.isEmpty())
                return QByteArray();
            const auto it = pictures.constFind(key);
            if (it != pictures.constEnd())
                return *it;
            result.lost << QStringLiteral("картинка %1").arg(whose);
            return QByteArray();
        };
        read.background = resolve(keys.value(0), QStringLiteral("фона"));
        for (int i = 0; i < read.objects.size(); ++i) {
            StageObject &o = read.objects[i];
            o.picture = resolve(keys.value(i + 1), o.kind == StageObject::Kind::Character
                                                       ? QStringLiteral("персонажа %1").arg(o.number)
                                                       : QStringLiteral("предмета %1").arg(o.number));
        }
    }

    slides::SlideStore store;
    {
        // A slide is told against the one before it: after a damaged one, the rest up to the next whole
        // key cannot be read either.
        Statement rows(d, "SELECT ordinal, flags, hash, bytes FROM slides ORDER BY ordinal");
        qint64 expected = 1;
        qint64 lostFrom = 0;
        auto endLoss = [&](qint64 last) {
            if (lostFrom == 0)
                return;
            result.lost << (lostFrom == last ? QStringLiteral("слайд %1").arg(lostFrom)
                                             : QStringLiteral("слайды %1–%2").arg(lostFrom).arg(last));
            lostFrom = 0;
        };
        int rc = SQLITE_ROW;
        while (rows.ok() && (rc = rows.step()) == SQLITE_ROW) {
            const qint64 ordinal = rows.integer(0);
            const quint8 flags = quint8(rows.integer(1));
            const QByteArray bytes = rows.blob(3);
            if (ordinal != expected && lostFrom == 0)
                lostFrom = expected;   // rows missing
            expected = ordinal + 1;
            const bool whole = sha256(bytes) == rows.blob(2);
            const bool readable = lostFrom == 0 || (flags & slides::SlideStore::Key);
            if (whole && readable && store.appendPacked(flags, bytes)) {
                endLoss(ordinal - 1);
                continue;
            }
            if (lostFrom == 0)
                lostFrom = ordinal;
        }
        if (!rows.ok() || rc != SQLITE_DONE)
            return readFailure();
        endLoss(expected - 1);
    }

    if (!result.lost.isEmpty())
        result.message = QStringLiteral("Проект «%1» открыт, но часть его повреждена и потеряна: %2.")
                             .arg(name, result.lost.join(QStringLiteral("; ")));
    scene = std::move(read);
    slides.swap(store);
    return result;
}

} // namespace project
