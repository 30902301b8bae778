#pragma once
// The journal that brings slides and the stage back after the program ended
// without saving them: every change to the slide buffer, and the stage each
// time it changes, is appended to a file in the user's state folder as it
// happens, and the next start reads it back.
//
// A journal is a header (magic, format version) followed by records. Each
// record is its payload's length, its type, the payload and a checksum, so
// that a file cut short or damaged is read up to its last whole record.
// Every running program writes its own journal and holds an exclusive lock
// on it; a journal that can be locked belongs to a program that has ended.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace slides::journal {

// 2: a save is written down (SaveBegun, Saved) rather than ending the journal.
// 3: the stage is written down too (Picture, Scene, ProjectSaved). An older program would stop reading
// at the first of these and cut off the slides after it, so it must keep such a journal aside instead.
// 4: how long slides last (Duration, Durations) and slides recorded in place (RecordAt, Replace), slides moved (Move); an older
//    program would play every slide for one frame and lose the slides recorded in place.
constexpr quint32 FormatVersion = 4;
constexpr qsizetype HeaderSize = 16;
constexpr qsizetype ChecksumSize = 8; // after each record's payload

enum class Type : quint8 {
    Base = 1,      // a slide held and saved before the journal began: flags byte, packed bytes
    Append = 2,    // a recorded slide: flags byte, packed bytes
    Remove = 3,    // slide numbers, ascending, 32-bit each
    Duplicate = 4, // slide numbers, ascending, 32-bit each
    Clear = 5,
    Undo = 6,
    Redo = 7,
    Added = 8,     // one slide of a series added in one step: flags byte, packed bytes
    AddedEnd = 9,  // the Added records before it, since the last AddedEnd, are one step; from version 4 on its payload
                   // may say where they go (32-bit: the number the first takes) and then each one's duration (8-bit)
    SaveBegun = 10, // a save is about to empty the slide folder: nothing held is saved any more
    Saved = 11,     // a save wrote every slide held: all of them are saved, and the history begins afresh
    // From version 3 on:
    Picture = 12,      // a picture the stage uses: key length (32-bit), key, the picture's bytes; once per key per file
    Scene = 13,        // the stage: project path length (32-bit), the path in UTF-8, key count (32-bit), each key as
                       // length (32-bit) and bytes, then the encoded stage to the end
    ProjectSaved = 14, // the project was saved to the path (UTF-8) in the payload: slides and stage are saved
    // From version 4 on:
    Duration = 15,  // one step: 0 to set the frame count or 1 to change it by (8-bit), the count or the
                    // change (signed 8-bit), then slide numbers, ascending, 32-bit each
    Durations = 16, // the frame counts of the slides held (the Base records before it), 8-bit each from slide 1
    RecordAt = 17,  // a slide recorded in place: the number it takes (32-bit), flags byte, packed bytes told
                    // against the slide before that place
    Replace = 18,   // a slide recorded again: its number (32-bit), flags byte, packed bytes told against the slide
                    // before it
    Move = 19,      // slides moved in one step: the number of the slide they go before (32-bit, one past the last
                    // for the end), then their numbers, ascending, 32-bit each
    SoundClip = 20, // a sound's file: its SHA-256 (32 bytes), name length (32-bit), name in UTF-8, then the file's
                    // bytes, or their first SoundPiece bytes, the rest following in SoundMore records; once per
                    // sound per file, before the first Sound record that names it
    Sound = 21,     // slides' sounds set: 0 for one step of the history or 1 for sounds that came with their slides
                    // (those held when the journal began, those just added) (8-bit), then per slide its number (32-bit), volume (8-bit) and SHA-256 (32 bytes; all
                    // zero: no sound)
    SoundMore = 22, // more of a sound's file: its SHA-256 (32 bytes), then the bytes that follow those before
};
// A sound's file is journaled in pieces of at most this many bytes: a record stays well within what a
// journal reader takes.
constexpr qsizetype SoundPiece = 32 << 20;

struct SoundEntry {
    int number = 0;
    int volume = 100;
    QByteArray hash; // empty: the slide has no sound
};
// The records of a sound's file: a SoundClip and as many SoundMore as its size needs.
QList<QByteArray> soundClipRecords(QByteArrayView hash, const QString &name, QByteArrayView bytes);
bool readSoundClip(QByteArrayView payload, QByteArray &hash, QString &name, QByteArrayView &bytes);
QByteArray soundPayload(bool held, const std::vector<SoundEntry> &entries);
bool readSound(QByteArrayView payload, bool &held, std::vector<SoundEntry> &entries);

QByteArray durationPayload(bool relative, int frames, const std::vector<int> &ascending);
// False when the payload is not one.
bool readDuration(QByteArrayView payload, bool &relative, int &frames, std::vector<int> &numbers);

QByteArray movePayload(int before, const std::vector<int> &ascending);
// False when the payload is not one.
bool readMove(QByteArrayView payload, int &before, std::vector<int> &numbers);

// Whether a record of type `type` can stand in a journal of format `version`.
bool knownType(quint8 type, quint32 version);

// A RecordAt or Replace record, and its payload taken apart (false when it is not one).
QByteArray placedRecord(Type type, int number, quint8 flags, QByteArrayView bytes);
bool readPlaced(QByteArrayView payload, int &number, quint8 &flags, QByteArrayView &bytes);

// A Scene record's payload taken apart; false when the payload is not one.
struct SceneRecord {
    QString project;
    QList<QByteArray> keys;
    QByteArrayView scene;
};
QByteArray scenePayload(const QString &project, const QList<QByteArray> &keys, QByteArrayView scene);
bool readScene(QByteArrayView payload, SceneRecord &out);
// A whole Picture record; readPicture takes its payload apart, false when the payload is not one.
QByteArray pictureRecord(QByteArrayView key, QByteArrayView bytes);
bool readPicture(QByteArrayView payload, QByteArrayView &key, QByteArrayView &bytes);

QByteArray header(quint32 version = FormatVersion);
QByteArray record(Type type, QByteArrayView payload);
QByteArray record(Type type, quint8 flags, QByteArrayView bytes);
// The same record appended to `out`, which keeps its room from record to record; its size in bytes,
// which is the size of `bytes` and AppendedAround more (length, type, flags, checksum).
qsizetype appendRecord(QByteArray &out, Type type, quint8 flags, QByteArrayView bytes);
constexpr qsizetype AppendedAround = 4 + 1 + 1 + 8;
QByteArray numbers(const std::vector<int> &ascending);
// Slide numbers from a Remove or Duplicate payload; empty when it is not one.
std::vector<int> readNumbers(QByteArrayView payload);

struct Record {
    Type type;
    QByteArrayView payload;
};

struct Parsed {
    enum Status { Ok, NotAJournal, FutureVersion } status = NotAJournal;
    quint32 version = 0;
    std::vector<Record> records;   // every whole record before the first damage, pointing into the bytes read
    qsizetype validBytes = 0;      // header and whole records: where writing may go on
    bool damaged = false;          // something after validBytes could not be read
};

Parsed parse(QByteArrayView bytes);

// The user's folder for journals: $XDG_STATE_HOME/vellumo, or ~/.local/state/vellumo.
QString stateFolder();

// The journal folder of the program whose program folder is `programFolder`, inside `state`:
// one per program folder, so that two portable copies never offer each other's slides. It is
// named for the folder's path (its tail, for a person to read) and a hash of the whole path.
QString folderFor(const QString &programFolder, const QString &state = stateFolder());

// Moves the journals left directly in the parent of `folder` (where versions before one
// folder per program kept them) whose programs have ended into `folder`; the number moved.
// Which copy wrote them cannot be known: the first to start takes them, since slides offered
// to another copy can still be saved, where slides left behind would never be offered again.
int takeOverOlderJournals(const QString &folder);

// A journal's file mapped for reading. Its pages come from the file as they
// are read and can be let go again, so that bringing back a journal of
// hundreds of megabytes never holds it twice in memory.
class Mapping {
public:
    Mapping() = default;
    Mapping(int fd, qsizetype size);
    Mapping(Mapping &&other) noexcept { *this = std::move(other); }
    Mapping &operator=(Mapping &&other) noexcept;
    ~Mapping();
    const char *data() const { return static_cast<const char *>(m_at); }
    qsizetype size() const { return qsizetype(m_size); }
    // Lets go of the pages that lie wholly before `end`; they are read from the file again if touched.
    void release(qsizetype end) const;

private:
    void *m_at = nullptr;
    size_t m_size = 0;
};

// Journals in `folder` whose programs have ended, newest first. Each is
// opened and locked; a journal still locked by its program is left out.
struct Orphan {
    QString path;
    int fd = -1;          // open for reading and writing, locked
    Mapping map;
    QByteArray bytes;     // the whole file, in `map`
};
std::vector<Orphan> orphans(const QString &folder);
void closeOrphan(Orphan &o);

// Appends records to one journal on a thread of its own, so that recording
// never waits for the disk. Records reach the file within 20 ms of being
// queued (a quick run of records goes out together); the file is synced to
// the disk at most every half second.
class Writer {
public:
    // A new journal named for this program in `folder`, locked, header written.
    // Null with `why` set when it cannot be made.
    static std::unique_ptr<Writer> create(const QString &folder, QString *why);
    // Goes on writing an orphan's journal after its first `validBytes`, under this program's name.
    static std::unique_ptr<Writer> adopt(Orphan &&orphan, const QString &folder, qsizetype validBytes, QString *why);
    ~Writer();

    QString path() const;
    void write(QByteArray record);
    // A record framed straight into the queue: what recording writes, without a buffer of its own.
    void write(Type type, quint8 flags, QByteArrayView bytes);
    // Queues records that the journal's thread makes itself, one per call of
    // `next` until it returns false: what takes long is done off the caller's thread.
    void writeFrom(std::function<bool(QByteArray &record)> next);
    // 0 while every write went through; otherwise the error that stopped the journal.
    int error() const;
    // Waits at most `ms` for the queued records to reach the file.
    bool flush(int ms);
    // Waits at most `ms` for the queued records to reach the file and the disk.
    bool sync(int ms);
    // Stops writing and deletes the file.
    void remove();
    // False once the journal's name no longer leads to the file being written (removed, or replaced
    // by another file): records written from then on would be lost with the program.
    bool named() const;
    // Copies everything written so far into a new journal under a new name of this program's own and
    // goes on there; done on the journal's thread. A failure stops the journal as a failed write does.
    void renew();

    struct Shared;

private:
    explicit Writer(std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> m_shared;
};

// Why a journal could not be written at `path`, for the user: the system's reason in Russian.
QString describeError(int error, const QString &path);

} // namespace slides::journal
