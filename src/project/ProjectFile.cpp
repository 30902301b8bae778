#include "project/ProjectFile.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>
#include <QSet>

#include <QtEndian>

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unordered_map>
#include <sys/stat.h>
#include <unistd.h>

#include "project/SceneCodec.h"
#include "slides/SlideStore.h"

namespace project {

// The file a WrittenState speaks of, and what it holds.
struct ProjectFile::WrittenAccess {
    static std::vector<WrittenState::Run> &runs(WrittenState &w) { return w.m_runs; }
    static const std::vector<WrittenState::Run> &runs(const WrittenState &w) { return w.m_runs; }
    static QList<QByteArray> &pictures(WrittenState &w) { return w.m_pictures; }
    static const QList<QByteArray> &pictures(const WrittenState &w) { return w.m_pictures; }
    static QByteArray &sceneHash(WrittenState &w) { return w.m_sceneHash; }
    static const QByteArray &sceneHash(const WrittenState &w) { return w.m_sceneHash; }

    // Takes down the file as it is now; false when it cannot be looked at.
    static bool identify(WrittenState &w, const QString &path)
    {
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return false;
        w.m_path = QFileInfo(path).absoluteFilePath();
        w.m_device = quint64(st.st_dev);
        w.m_inode = quint64(st.st_ino);
        w.m_size = qint64(st.st_size);
        w.m_modified = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        return true;
    }
    // True when the file at `path` is still the one taken down, unchanged by anyone since.
    static bool describes(const WrittenState &w, const QString &path)
    {
        WrittenState now;
        return !w.isEmpty() && identify(now, path) && now.m_path == w.m_path && now.m_device == w.m_device &&
               now.m_inode == w.m_inode && now.m_size == w.m_size && now.m_modified == w.m_modified;
    }
};

namespace {

using Access = ProjectFile::WrittenAccess;

using Status = ProjectResult::Status;

constexpr char Magic[] = "SQLite format 3";   // with its NUL, the first 16 bytes of every SQLite file
constexpr int HeaderBytes = 100;

const char *const Schema =
    "CREATE TABLE scene(id INTEGER PRIMARY KEY CHECK (id = 1), hash BLOB NOT NULL, data BLOB NOT NULL);"
    "CREATE TABLE pictures(id INTEGER PRIMARY KEY, hash BLOB NOT NULL UNIQUE, bytes BLOB NOT NULL);"
    // A run: slides back to back in `bytes`, and for each its flags, size, check and duration in `slides`.
    "CREATE TABLE runs(id INTEGER PRIMARY KEY, slides BLOB NOT NULL, bytes BLOB NOT NULL);"
    // The runs in order: for each its id and how many slides it holds; with the check of that list.
    "CREATE TABLE layout(id INTEGER PRIMARY KEY CHECK (id = 1), digest INTEGER NOT NULL, runs BLOB NOT NULL);";

// The page size of new files, in bytes: four times SQLite's own, so that a run is read in fewer steps,
// yet small enough that the room left at the end of each run, and the pages of the tables that a second
// save rewrites (each once more into the journal), stay a small part of the file and of the save.
#define PAGE_SIZE "16384"

// A run is closed once it holds this many bytes; one smaller than MinRunBytes beside slides to be
// written is written again with them, so that saving a few slides at a time does not leave many small
// runs, each with its last page partly empty.
constexpr qint64 RunBytes = 4 << 20;
constexpr qint64 MinRunBytes = 512 << 10;
constexpr int SlideEntryBytes = 14;  // flags, size, check, duration
constexpr int FirstSlideEntryBytes = 13; // in files of the first version, which had no durations
constexpr int LayoutEntryBytes = 12; // id, count

QByteArray sha256(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// A slide's check is the one the store took when it stored the bytes; the layout's, the same kind.
quint64 checksum(QByteArrayView bytes)
{
    return slides::SlideStore::checksum(bytes);
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
    ~Database() { close(); }
    void close()
    {
        if (db)
            sqlite3_close_v2(db);
        db = nullptr;
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
        // An empty array may have no data at all, which SQLite would take for NULL.
        if (blob.isEmpty())
            sqlite3_bind_zeroblob(m_s, i, 0);
        else
            sqlite3_bind_blob64(m_s, i, blob.data(), sqlite3_uint64(blob.size()), SQLITE_STATIC);
    }
    void bind(int i, qint64 v) { sqlite3_bind_int64(m_s, i, v); }
    void bindZeros(int i, qint64 n) { sqlite3_bind_zeroblob64(m_s, i, sqlite3_uint64(n)); }
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
    sqlite3_stmt *handle() const { return m_s; }
    // Valid until the next step.
    QByteArrayView view(int col) const
    {
        const void *p = sqlite3_column_blob(m_s, col);
        return QByteArrayView(static_cast<const char *>(p), sqlite3_column_bytes(m_s, col));
    }
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

// Where the bytes to write stand, for the progress told to the caller.
class Tally {
public:
    explicit Tally(const ProjectFile::Progress &progress) : m_progress(progress) {}
    void setTotal(qint64 total)
    {
        m_total = std::max<qint64>(total, 1);
        tell();
    }
    void add(qint64 bytes)
    {
        m_done = std::min(m_done + bytes, m_total);
        // About a hundred steps in all.
        if (m_done - m_told >= m_total / 100 || m_done == m_total)
            tell();
    }

private:
    void tell()
    {
        m_told = m_done;
        if (m_progress)
            m_progress(m_done, m_total);
    }
    const ProjectFile::Progress &m_progress;
    qint64 m_total = 1, m_done = 0, m_told = -1;
};

void putBig(QByteArray &out, quint64 v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char(v >> (8 * i)));
}

quint64 getBig(const char *p, int bytes)
{
    quint64 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | quint8(p[i]);
    return v;
}

using Run = ProjectFile::WrittenState::Run;
using Share = slides::SlideStore::PackedShare;

// Slides [from, to) of the store, to go into the file as one run.
struct Piece {
    int from, to;
    int kept;   // the index of the run the file holds already with exactly these slides; -1 to write them
};

// Which runs the file holds can stay, and how the slides between them are cut into new runs.
std::vector<Piece> plan(const std::vector<Share> &packed, const std::vector<Run> &held)
{
    const int n = int(packed.size());
    std::unordered_map<quint64, int> startsRun;
    for (size_t r = 0; r < held.size(); ++r)
        if (!held[r].serials.empty() && held[r].serials.front() != 0)
            startsRun.emplace(held[r].serials.front(), int(r));
    std::vector<Piece> pieces;
    for (int i = 0; i < n;) {
        const auto found = startsRun.find(packed[size_t(i)].serial);
        if (found != startsRun.end()) {
            const std::vector<quint64> &serials = held[size_t(found->second)].serials;
            const int count = int(serials.size());
            bool same = i + count <= n;
            for (int k = 0; same && k < count; ++k)
                same = packed[size_t(i + k)].serial == serials[size_t(k)];
            if (same) {
                pieces.push_back({i, i + count, found->second});
                i += count;
                continue;
            }
        }
        if (pieces.empty() || pieces.back().kept >= 0)
            pieces.push_back({i, i + 1, -1});
        else
            ++pieces.back().to;
        ++i;
    }
    // Small runs beside new slides are written again with them.
    for (size_t k = 0; k < pieces.size(); ++k) {
        Piece &p = pieces[k];
        const bool besideNew = (k > 0 && pieces[k - 1].kept < 0) || (k + 1 < pieces.size() && pieces[k + 1].kept < 0);
        if (p.kept >= 0 && besideNew && held[size_t(p.kept)].bytes < MinRunBytes)
            p.kept = -1;
    }
    // Slides to write, cut into runs of about RunBytes.
    std::vector<Piece> out;
    qint64 bytes = 0;   // in the last run of `out`
    for (const Piece &p : pieces) {
        if (p.kept >= 0) {
            out.push_back(p);
            continue;
        }
        for (int i = p.from; i < p.to; ++i) {
            const qint64 size = packed[size_t(i)].size;
            if (out.empty() || out.back().kept >= 0 || bytes + size > RunBytes) {
                out.push_back({i, i + 1, -1});
                bytes = 0;
            } else {
                out.back().to = i + 1;
            }
            bytes += size;
        }
    }
    return out;
}

// Brings the open database up to `scene` and `slides` in one transaction; `fresh` makes its tables first.
// `known`, when given, is what the file holds (from the last save or open of it). On success `written`
// takes down what the file holds now.
// The sounds that start at slides: each file once, by its SHA-256, and which slide starts which at what
// volume. Both tables are small: the list of slides is written anew at each save, the files only when new.
const char *const SoundSchema =
    "CREATE TABLE IF NOT EXISTS sounds(id INTEGER PRIMARY KEY, hash BLOB NOT NULL UNIQUE, name TEXT NOT NULL,"
    " bytes BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS slide_sounds(slide INTEGER PRIMARY KEY, hash BLOB NOT NULL, volume INTEGER NOT NULL);";

bool writeSounds(Database &d, const slides::SlideStore &slides)
{
    QHash<QByteArray, std::shared_ptr<const slides::SoundClip>> used;
    for (int i = 1; i <= slides.count(); ++i)
        if (const slides::SlideSound s = slides.sound(i))
            used.insert(s.clip->hash, s.clip);
    if (used.isEmpty()) {
        // A cartoon without sound leaves a file without the tables, as it was before sounds.
        Statement has(d, "SELECT 1 FROM sqlite_master WHERE name = 'sounds'");
        const int rc = has.ok() ? has.step() : SQLITE_ERROR;
        if (rc == SQLITE_DONE)
            return true;
        if (rc != SQLITE_ROW)
            return false;
    }
    if (!d.exec(SoundSchema) || !d.exec("DELETE FROM slide_sounds"))
        return false;
    QSet<QByteArray> inFile;
    {
        Statement all(d, "SELECT hash FROM sounds");
        int rc = SQLITE_ROW;
        while (all.ok() && (rc = all.step()) == SQLITE_ROW)
            inFile.insert(all.blob(0));
        if (!all.ok() || rc != SQLITE_DONE)
            return false;
    }
    Statement drop(d, "DELETE FROM sounds WHERE hash = ?1");
    Statement add(d, "INSERT INTO sounds(hash, name, bytes) VALUES (?1, ?2, ?3)");
    Statement place(d, "INSERT INTO slide_sounds(slide, hash, volume) VALUES (?1, ?2, ?3)");
    bool ok = drop.ok() && add.ok() && place.ok();
    for (auto it = inFile.cbegin(); ok && it != inFile.cend(); ++it) {
        if (!used.contains(*it)) {
            drop.bind(1, *it);
            ok = drop.run();
        }
    }
    for (auto it = used.cbegin(); ok && it != used.cend(); ++it) {
        if (inFile.contains(it.key()))
            continue;
        const QByteArray name = (*it)->name.toUtf8();
        add.bind(1, it.key());
        sqlite3_bind_text64(add.handle(), 2, name.constData(), sqlite3_uint64(name.size()), SQLITE_STATIC,
                            SQLITE_UTF8);
        add.bind(3, (*it)->bytes);
        ok = add.run();
    }
    for (int i = 1; ok && i <= slides.count(); ++i) {
        if (const slides::SlideSound s = slides.sound(i)) {
            place.bind(1, qint64(i));
            place.bind(2, s.clip->hash);
            place.bind(3, qint64(s.volume));
            ok = place.run();
        }
    }
    return ok;
}

// Gives the slides of `store` the sounds the file names for them. `placeOf` turns a slide's number in the
// file into its number in the store (0: it was lost, and is named as such already). A sound whose bytes
// do not match their SHA-256 is left out and named in `lost`.
bool readSounds(Database &d, const std::vector<int> &placeOf, slides::SlideStore &store, QStringList &lost)
{
    {
        Statement has(d, "SELECT 1 FROM sqlite_master WHERE name = 'slide_sounds'");
        if (!has.ok())
            return false;
        const int rc = has.step();
        if (rc == SQLITE_DONE)
            return true; // saved before cartoons had sounds
        if (rc != SQLITE_ROW)
            return false;
    }
    Statement rows(d, "SELECT s.slide, s.volume, s.hash, c.name, c.bytes FROM slide_sounds s"
                      " LEFT JOIN sounds c ON c.hash = s.hash ORDER BY s.slide");
    QHash<QByteArray, std::shared_ptr<const slides::SoundClip>> clips;
    int rc = SQLITE_ROW;
    while (rows.ok() && (rc = rows.step()) == SQLITE_ROW) {
        const qint64 slide = rows.integer(0);
        const int at = slide >= 1 && slide <= qint64(placeOf.size()) ? placeOf[size_t(slide - 1)] : 0;
        if (at == 0)
            continue;
        const QByteArray hash = rows.blob(2);
        std::shared_ptr<const slides::SoundClip> clip = clips.value(hash);
        if (!clip) {
            const QByteArray bytes = rows.blob(4);
            if (sqlite3_column_type(rows.handle(), 4) == SQLITE_NULL || sha256(bytes) != hash) {
                const QString name = rows.text(3);
                lost << (name.isEmpty() ? QStringLiteral("звук слайда %1").arg(slide)
                                        : QStringLiteral("звук «%1» слайда %2").arg(name).arg(slide));
                continue;
            }
            clip = slides::SoundClip::make(bytes, rows.text(3));
            clips.insert(hash, clip);
        }
        store.setSound(at, {clip, quint8(std::clamp<qint64>(rows.integer(1), 0, slides::SlideSound::MaxVolume))});
    }
    return rows.ok() && rc == SQLITE_DONE;
}

bool writeInto(Database &d, bool fresh, const SceneSnapshot &scene, const slides::SlideStore &slides,
               const ProjectFile::WrittenState *known, Tally &tally, ProjectFile::WrittenState &written)
{
    if (fresh) {
        // Free pages can be given back later only in a file made with the map that lets pages move. A new
        // file is no project until it has its name: it needs no journal to roll back into, and is brought
        // to the disk once, whole, before it takes the name.
        if (!d.exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA page_size = " PAGE_SIZE
                    "; PRAGMA auto_vacuum = INCREMENTAL; BEGIN IMMEDIATE"))
            return false;
    } else if (!d.exec("PRAGMA journal_mode = DELETE; PRAGMA synchronous = FULL; BEGIN IMMEDIATE")) {
        return false;
    }
    bool ok = true;
    if (fresh)
        ok = d.exec(QStringLiteral("PRAGMA application_id = %1; PRAGMA user_version = %2;")
                        .arg(ProjectFile::ApplicationId)
                        .arg(ProjectFile::FormatVersion)
                        .toLatin1()
                        .constData()) &&
             d.exec(Schema);

    const std::vector<Share> packed = slides.shareAll();
    static const std::vector<Run> none;
    const std::vector<Run> &held = known ? Access::runs(*known) : none;
    const std::vector<Piece> pieces = plan(packed, held);

    QList<QByteArray> pictures;   // the scene's, once each, by key
    QList<QByteArray> keys;
    qint64 total = 0;
    for (const QByteArray &picture : scene.pictures()) {
        if (picture.isEmpty())
            continue;
        const QByteArray key = sha256(picture);
        if (keys.contains(key))
            continue;
        keys << key;
        pictures << picture;
        total += picture.size();
    }
    for (const Piece &p : pieces)
        for (int i = p.from; p.kept < 0 && i < p.to; ++i)
            total += packed[size_t(i)].size;
    tally.setTotal(total);

    // Pictures once each, by content; those the scene no longer uses go. The table is small, and what it
    // holds is read from it; a picture known to be whole there is not written again.
    QList<QByteArray> inFile;
    if (ok && !fresh) {
        Statement all(d, "SELECT hash FROM pictures");
        int rc = SQLITE_ROW;
        while (all.ok() && (rc = all.step()) == SQLITE_ROW)
            inFile << all.blob(0);
        ok = all.ok() && rc == SQLITE_DONE;
    }
    const QList<QByteArray> whole = known ? Access::pictures(*known) : QList<QByteArray>();
    if (ok) {
        Statement add(d, "INSERT OR REPLACE INTO pictures(hash, bytes) VALUES (?1, ?2)");
        ok = add.ok();
        for (int i = 0; ok && i < keys.size(); ++i) {
            if (!whole.contains(keys[i])) {
                add.bind(1, keys[i]);
                add.bind(2, pictures[i]);
                ok = add.run();
            }
            tally.add(pictures[i].size());
        }
        Statement drop(d, "DELETE FROM pictures WHERE hash = ?1");
        for (const QByteArray &key : inFile) {
            if (ok && !keys.contains(key)) {
                drop.bind(1, key);
                ok = drop.run();
            }
        }
    }
    if (ok)
        ok = writeSounds(d, slides);
    const QByteArray data = encodeScene(scene);
    const QByteArray sceneHash = sha256(data);
    if (ok && !(known && Access::sceneHash(*known) == sceneHash)) {
        Statement put(d, "INSERT OR REPLACE INTO scene(id, hash, data) VALUES (1, ?1, ?2)");
        put.bind(1, sceneHash);
        put.bind(2, data);
        ok = put.ok() && put.run();
    }

    // The runs the file holds and no longer needs go; the new ones are written.
    std::vector<Run> now;
    now.reserve(pieces.size());
    if (ok) {
        std::vector<bool> stays(held.size(), false);
        for (const Piece &p : pieces)
            if (p.kept >= 0)
                stays[size_t(p.kept)] = true;
        Statement drop(d, "DELETE FROM runs WHERE id = ?1");
        ok = drop.ok();
        for (size_t r = 0; ok && r < held.size(); ++r) {
            if (!stays[r]) {
                drop.bind(1, held[r].id);
                ok = drop.run();
            }
        }
    }
    if (ok) {
        Statement put(d, "INSERT INTO runs(slides, bytes) VALUES (?1, ?2)");
        ok = put.ok();
        QByteArray index;
        for (size_t k = 0; ok && k < pieces.size(); ++k) {
            const Piece &p = pieces[k];
            if (p.kept >= 0) {
                now.push_back(held[size_t(p.kept)]);
                continue;
            }
            Run run{0, 0, {}};
            index.resize(0);
            for (int i = p.from; i < p.to; ++i) {
                const Share &s = packed[size_t(i)];
                putBig(index, s.flags, 1);
                putBig(index, quint32(s.size), 4);
                putBig(index, s.check, 8);
                putBig(index, s.duration, 1);
                run.bytes += s.size;
                run.serials.push_back(s.serial);
            }
            // The row is made with room for the bytes, which are then written into its pages straight
            // from the store: no copy of the whole run is assembled first.
            put.bind(1, index);
            put.bindZeros(2, run.bytes);
            ok = put.run();
            run.id = sqlite3_last_insert_rowid(d.db);
            sqlite3_blob *blob = nullptr;
            ok = ok && sqlite3_blob_open(d.db, "main", "runs", "bytes", run.id, 1, &blob) == SQLITE_OK;
            qint64 at = 0;
            for (int i = p.from; ok && i < p.to; ++i) {
                const Share &s = packed[size_t(i)];
                ok = sqlite3_blob_write(blob, s.data, s.size, int(at)) == SQLITE_OK;
                at += s.size;
                tally.add(s.size);
            }
            if (sqlite3_blob_close(blob) != SQLITE_OK)
                ok = false;
            if (!ok)
                d.lastError = sqlite3_extended_errcode(d.db);
            now.push_back(std::move(run));
        }
    }
    QByteArray layout;
    for (const Run &run : now) {
        putBig(layout, quint64(run.id), 8);
        putBig(layout, quint32(run.serials.size()), 4);
    }
    if (ok) {
        Statement put(d, "INSERT OR REPLACE INTO layout(id, digest, runs) VALUES (1, ?1, ?2)");
        put.bind(1, qint64(checksum(layout)));
        put.bind(2, layout);
        ok = put.ok() && put.run();
    }
    // Slides deleted since the last save leave free pages; once they are a tenth of the file, the file
    // is shortened by them, moving pages from its end into the holes.
    if (ok && !fresh) {
        bool wasteful = false;
        {
            Statement count(d, "SELECT freelist_count * 10 > page_count FROM pragma_freelist_count, pragma_page_count");
            ok = count.ok() && count.step() == SQLITE_ROW;
            wasteful = ok && count.integer(0) != 0;
        }
        if (wasteful)
            ok = d.exec("PRAGMA incremental_vacuum");
    }
    if (ok && d.exec("COMMIT")) {
        Access::runs(written) = std::move(now);
        Access::pictures(written) = keys;
        Access::sceneHash(written) = sceneHash;
        return true;
    }
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

// Brings a file's bytes to the disk.
bool syncFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok;
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

ProjectResult ProjectFile::save(const QString &path, const SceneSnapshot &scene, const slides::SlideStore &slides,
                                WrittenState *written, const Progress &progress)
{
    WrittenState now;
    // What the file holds is known from the last save or open when nobody changed it since; then only what
    // changed is written into it. Else it is written anew.
    // A file of an earlier version is written anew: its runs are laid out otherwise.
    const Header held = readHeader(path);
    if (written && Access::describes(*written, path) && isOurs(held) && held.userVersion == FormatVersion) {
        Tally tally(progress);
        bool done = false;
        {
            Database d;
            done = d.open(path, SQLITE_OPEN_READWRITE) &&
                   writeInto(d, false, scene, slides, written, tally, now);
        }
        if (done && Access::identify(now, path)) {
            if (written)
                *written = std::move(now);
            return {};
        }
        // A project that cannot be brought up to date in place is written anew beside it.
    }
    if (written)
        written->clear();
    // A new file is made whole under another name and then takes the project's name in one step, so that
    // whatever lay there stays until the new file is complete.
    const QString part = path + QStringLiteral(".part");
    // A journal left by a save cut short would otherwise be played back into the new file.
    QFile::remove(part + QStringLiteral("-journal"));
    QFile::remove(part);
    int code = SQLITE_OK;
    {
        Tally tally(progress);
        Database d;
        if (!d.open(part, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) ||
            !writeInto(d, true, scene, slides, nullptr, tally, now))
            code = d.lastError == SQLITE_OK ? SQLITE_CANTOPEN : d.lastError;
    }
    if (code == SQLITE_OK && !syncFile(part))
        code = errno == ENOSPC ? SQLITE_FULL : SQLITE_IOERR;
    if (code == SQLITE_OK && std::rename(QFile::encodeName(part).constData(), QFile::encodeName(path).constData()) != 0)
        code = errno == ENOSPC ? SQLITE_FULL : SQLITE_CANTOPEN;
    if (code != SQLITE_OK) {
        QFile::remove(part);
        QFile::remove(part + QStringLiteral("-journal"));
        return writeFailure(path, code);
    }
    syncFolder(path);
    if (written && Access::identify(now, path))
        *written = std::move(now);
    return {};
}

ProjectResult ProjectFile::open(const QString &path, SceneSnapshot &scene, slides::SlideStore &slides,
                                WrittenState *written, const Progress &progress)
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
        d.close();
        if (!d.open(path, SQLITE_OPEN_READONLY))
            return failure(Status::CannotRead, QStringLiteral("Не удалось прочитать файл «%1».").arg(name));
    }
    auto readFailure = [&] {
        return isDamage(d.lastError)
                   ? failure(Status::Damaged, damaged)
                   : failure(Status::CannotRead, QStringLiteral("Не удалось прочитать файл «%1».").arg(name));
    };
    // Damage in SQLite's own structure shows as an error of the reads below; damage inside a slide's or a
    // picture's bytes, by its check.
    WrittenState now;

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
        Access::sceneHash(now) = row.blob(0);
    }

    ProjectResult result;
    {
        QHash<QByteArray, QByteArray> pictures;
        Statement rows(d, "SELECT hash, bytes FROM pictures");
        int rc = SQLITE_ROW;
        while (rows.ok() && (rc = rows.step()) == SQLITE_ROW) {
            QByteArray bytes = rows.blob(1);
            if (sha256(bytes) == rows.blob(0)) {
                pictures.insert(rows.blob(0), bytes);
                Access::pictures(now) << rows.blob(0);
            }
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
    std::vector<int> placeOf; // for each slide in the file, its number in the store; 0 when it was lost
    {
        // The runs in order, and how many slides each holds.
        QByteArray layout;
        {
            Statement row(d, "SELECT digest, runs FROM layout WHERE id = 1");
            if (!row.ok())
                return readFailure();
            const int rc = row.step();
            if (rc != SQLITE_ROW)
                return rc == SQLITE_DONE ? failure(Status::Damaged, damaged) : readFailure();
            layout = row.blob(1);
            if (layout.size() % LayoutEntryBytes != 0 || quint64(row.integer(0)) != checksum(layout))
                return failure(Status::Damaged, damaged);
        }
        const int entryBytes = h.userVersion >= 2 ? SlideEntryBytes : FirstSlideEntryBytes;
        std::vector<Run> &runs = Access::runs(now);
        const qint64 fileSize = QFileInfo(path).size();
        qint64 total = 0;
        try {
            runs.reserve(size_t(layout.size() / LayoutEntryBytes));
            for (qsizetype at = 0; at < layout.size(); at += LayoutEntryBytes) {
                const qint64 count = qint64(getBig(layout.constData() + at + 8, 4));
                total += count;
                // Every slide takes its entry in a run's index: a list that claims more cannot be whole.
                if (total > std::numeric_limits<int>::max() || total * entryBytes > fileSize)
                    return failure(Status::Damaged, damaged);
                runs.push_back({qint64(getBig(layout.constData() + at, 8)), 0, std::vector<quint64>(size_t(count), 0)});
            }
        } catch (const std::bad_alloc &) {
            return failure(Status::CannotRead,
                           QStringLiteral("Не удалось прочитать файл «%1»: не хватает памяти.").arg(name));
        }

        // A slide is told against the one before it: after a damaged one, the rest up to the next whole
        // key cannot be read either.
        Tally tally(progress);
        tally.setTotal(total);
        qint64 ordinal = 0;
        qint64 lostFrom = 0;
        auto endLoss = [&] {
            if (lostFrom == 0)
                return;
            result.lost << (lostFrom == ordinal - 1 ? QStringLiteral("слайд %1").arg(lostFrom)
                                                    : QStringLiteral("слайды %1–%2").arg(lostFrom).arg(ordinal - 1));
            lostFrom = 0;
        };
        Statement row(d, "SELECT slides, bytes FROM runs WHERE id = ?1");
        if (!row.ok())
            return readFailure();
        for (Run &run : runs) {
            row.bind(1, run.id);
            const int rc = row.step();
            if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                return readFailure();
            const qint64 count = qint64(run.serials.size());
            const QByteArrayView index = rc == SQLITE_ROW ? row.view(0) : QByteArrayView();
            const QByteArrayView bytes = rc == SQLITE_ROW ? row.view(1) : QByteArrayView();
            // The index must account for the run's bytes exactly.
            bool sound = index.size() == count * entryBytes;
            qint64 sum = 0;
            for (qint64 k = 0; sound && k < count; ++k)
                sum += qint64(getBig(index.data() + k * entryBytes + 1, 4));
            sound = sound && sum == bytes.size();
            qint64 at = 0;
            for (qint64 k = 0; k < count; ++k) {
                ++ordinal;
                bool added = false;
                qint64 size = 0;
                if (sound) {
                    const char *entry = index.data() + k * entryBytes;
                    const quint8 flags = quint8(entry[0]);
                    size = qint64(getBig(entry + 1, 4));
                    const QByteArrayView slide = bytes.sliced(at, size);
                    at += size;
                    const bool readable = lostFrom == 0 || (flags & slides::SlideStore::Key);
                    const quint64 check = getBig(entry + 5, 8);
                    // A duration out of range is damage like a wrong check: the slide is refused.
                    const int duration = entryBytes > FirstSlideEntryBytes ? quint8(entry[13]) : 1;
                    added = readable && store.appendPacked(flags, slide, &check, duration);
                }
                placeOf.push_back(added ? store.count() : 0);
                if (added) {
                    run.serials[size_t(k)] = store.serial(store.count());
                    run.bytes += size;
                    endLoss();
                } else if (lostFrom == 0) {
                    lostFrom = ordinal;
                }
                tally.add(1);
            }
            sqlite3_reset(row.handle());
        }
        ++ordinal;
        endLoss();
    }
    try {
        // Damage where the sounds are listed costs the sounds, not the cartoon.
        if (!readSounds(d, placeOf, store, result.lost))
            result.lost << QStringLiteral("звуки");
    } catch (const std::bad_alloc &) {
        return failure(Status::CannotRead, QStringLiteral("Не удалось прочитать файл «%1»: не хватает памяти.").arg(name));
    }

    if (!result.lost.isEmpty())
        result.message = QStringLiteral("Проект «%1» открыт, но часть его повреждена и потеряна: %2.")
                             .arg(name, result.lost.join(QStringLiteral("; ")));
    scene = std::move(read);
    slides.swap(store);
    d.close();
    if (written) {
        written->clear();
        if (Access::identify(now, path))
            *written = std::move(now);
    }
    return result;
}

} // namespace project
