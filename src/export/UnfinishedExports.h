#pragma once
// The temporary files of exports under way, listed in the program's state
// folder, so that the temporary file of an export killed with its program
// does not lie hidden beside the target for ever: the next start removes
// it. Only files in the list are ever removed, and only those whose program
// has ended, so that another copy's export or another program's file is
// never touched.
//
// The list is a text file with one "PID<TAB>PATH" line per export, edited
// under an exclusive lock by every copy of the program.

#include <QString>

namespace exporting::unfinished {

// The list in `stateFolder`.
QString listPath(const QString &stateFolder);

// Adds `temporary` under this process. Nothing is recorded when the state
// folder is empty or cannot be written; the export goes on all the same.
void record(const QString &stateFolder, const QString &temporary);
// Takes `temporary` out of the list once its export ended, either way.
void forget(const QString &stateFolder, const QString &temporary);

// Removes the listed files whose program has ended and their entries; the
// number of files removed. Called before this process starts an export, so
// an entry under its own process id is a leftover of an earlier program
// that had the same id.
int sweep(const QString &stateFolder);

} // namespace exporting::unfinished
