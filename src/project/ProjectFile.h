#pragma once
// The project file: the scene, the pictures it uses and every slide, in one
// SQLite database. A save is one transaction, so a crash or a full disk in
// the middle leaves the previous version whole; with the rollback journal
// deleted at the end, the file alone is the project. Slides are kept packed
// as the slide store holds them, back to back in runs of a few megabytes
// (rows of one slide each would leave a tenth of the file empty at the ends
// of pages), each slide with a 64-bit check of its bytes; pictures once each by
// their SHA-256.
//
// Threads: save and open may run on any thread, one at a time per file and
// per store, while no other thread changes the scene or the store they are
// given. A SlideStore is cheap to copy (its packed bytes are shared, never
// written over), and so is a SceneSnapshot (its pictures are shared byte
// arrays): hand the worker copies and the window may go on recording.

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

#include "project/SceneSnapshot.h"

namespace slides {
class SlideStore;
}

namespace project {

struct ProjectResult {
    enum class Status {
        Ok,
        NotAProject,    // not a SQLite file, or one of another program
        NewerVersion,   // written by a newer version of this program
        Damaged,        // truncated or with a damaged structure
        CannotRead,     // the file could not be opened or read
        CannotWrite,    // the file could not be written; the previous version is as it was
    };
    Status status = Status::Ok;
    QString message;    // for the person, naming the file; empty when all went well
    QStringList lost;   // opened, but these parts were damaged and left out
    bool ok() const { return status == Status::Ok; }
};

namespace ProjectFile {

constexpr qint32 ApplicationId = 0x56656C6D;  // "Velm"
// 2: each slide says how many frame times it lasts. Files of version 1 open with every slide lasting one.
// 3: the scene holds captions and a title card; older programs cannot read its scene, so they are told the
// file is newer rather than damaged.
constexpr int FormatVersion = 3;

struct WrittenAccess;

// What a save wrote into a file, or an open read from it, so that the next
// save to the same file writes only the slides, pictures and scene that
// changed since. The caller keeps one per open project and passes it to
// every save and open of that file; with an empty one (or one of another
// file, or of a file changed by anyone else since) the file is written anew.
class WrittenState {
public:
    bool isEmpty() const { return m_path.isEmpty(); }
    void clear() { *this = WrittenState(); }

    // One run of slides in the file.
    struct Run {
        qint64 id;
        qint64 bytes;
        std::vector<quint64> serials;   // the store's serial of each slide in it, 0 for one not read
    };

private:
    friend struct WrittenAccess;
    QString m_path;                     // absolute
    quint64 m_device = 0, m_inode = 0;
    qint64 m_size = -1, m_modified = 0; // modified: nanoseconds since the epoch
    std::vector<Run> m_runs;            // in order
    QList<QByteArray> m_pictures;       // keys of the pictures whole in the file
    QByteArray m_sceneHash;
};

// Told now and then how far a save or an open has come, on the thread doing it.
using Progress = std::function<void(qint64 done, qint64 total)>;

// Writes the scene and the slides to `path`. A project already there is
// brought up to date in place, rewriting only the slides that differ (known
// from `written` when it describes this file, else by comparing); any other
// file there is replaced whole once the new one is complete. `written` is
// filled in on success and cleared on failure.
ProjectResult save(const QString &path, const SceneSnapshot &scene, const slides::SlideStore &slides,
                   WrittenState *written = nullptr, const Progress &progress = {});

// Reads a project, from a read-only file or folder too. On failure `scene`
// and `slides` are left as they were. A damaged picture leaves its object
// empty; a damaged slide is left out with the slides told against it, up to
// the next whole one. `written` is filled in when the project opened.
ProjectResult open(const QString &path, SceneSnapshot &scene, slides::SlideStore &slides,
                   WrittenState *written = nullptr, const Progress &progress = {});

} // namespace ProjectFile

} // namespace project
