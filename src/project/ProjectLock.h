#pragma once
// Keeps a second running program from writing a project this one has open:
// an advisory lock (flock) on the project file itself, held for as long as
// the project is open. Nothing is written beside the file, so a project on a
// read-only stick or in a shared folder leaves no lock files behind, and a
// program that crashes lets go of its lock with its last breath.

#include <QString>

namespace project {

class ProjectLock {
public:
    enum class Outcome { Locked, HeldElsewhere, Unsupported };

    ProjectLock() = default;
    ~ProjectLock() { release(); }
    ProjectLock(const ProjectLock &) = delete;
    ProjectLock &operator=(const ProjectLock &) = delete;

    // Takes the lock on `path`, letting go of any held before. A file system without locks
    // (some network shares) gives Unsupported: the project is opened as if it were free.
    Outcome acquire(const QString &path);
    void release();
    bool held() const { return m_fd >= 0; }

    // Whether another program holds `path`, without taking it.
    static bool heldElsewhere(const QString &path);

private:
    int m_fd = -1;
};

} // namespace project
