#pragma once
// The project file: the scene, the pictures it uses and every slide, in one
// SQLite database. A save is one transaction, so a crash or a full disk in
// the middle leaves the previous version whole; with the rollback journal
// deleted at the end, the file alone is the project. Slides are kept packed
// as the slide store holds them, and pictures once each by their SHA-256.

#include <QString>
#include <QStringList>

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
constexpr int FormatVersion = 1;

// Writes the scene and the slides to `path`. A project already there is
// brought up to date in place, rewriting only the slides that differ; any
// other file there is replaced whole once the new one is complete.
ProjectResult save(const QString &path, const SceneSnapshot &scene, const slides::SlideStore &slides);

// Reads a project. On failure `scene` and `slides` are left as they were.
// A damaged picture leaves its object empty; a damaged slide is left out
// with the slides told against it, up to the next whole one.
ProjectResult open(const QString &path, SceneSnapshot &scene, slides::SlideStore &slides);

} // namespace ProjectFile

} // namespace project
