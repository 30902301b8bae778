#pragma once
// An exported file is written under a hidden temporary name beside its final
// name and renamed over it only once it is whole, so that a failed or
// cancelled export leaves neither a partial file nor a damaged older one.

#include <QString>

#include "controls/SystemError.h"

namespace exporting {

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile() { discard(); }

    // Creates the temporary file beside `target`; false, with error() set,
    // when the folder is missing or not writable.
    bool create(const QString &target);
    // Closes the descriptor without removing the file, for writers that
    // reopen it by name.
    void closeDescriptor();
    bool write(const void *data, qsizetype size);
    // Flushes the file to the disk and renames it over the target.
    bool commit();
    // Removes the temporary file; nothing is left behind.
    void discard();

    // Records a failure that happened elsewhere (a library writing the file).
    void setError(int errnum) { m_errno = errnum; }

    int fd() const { return m_fd; }
    const QString &temporaryPath() const { return m_temp; }
    const QString &target() const { return m_target; }
    int errorNumber() const { return m_errno; }
    QString error() const { return m_errno ? controls::systemReason(m_errno) : QString(); }

private:
    QString m_target;
    QString m_temp;
    int m_fd = -1;
    int m_errno = 0;
};

} // namespace exporting
