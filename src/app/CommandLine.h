#pragma once
// The program's command line, one parser for every option:
//   vellumo                                   starts the program's windows
//   vellumo FILE.vellumo                      starts them with that project open
//   vellumo --export OUT [--fps N] [--scale K] [--sound FILE[@N]]... FOLDER|PROJECT
//                                             writes a folder of slides or a project's into OUT, K times larger,
//                                             with sounds from slides N mixed under a video
//   vellumo --help, vellumo --version
// Work from the command line needs no display.

#include <QString>
#include <QStringList>

class QTextStream;

namespace cli {

// Whether the arguments ask for work from the command line rather than for
// the windows: any argument but Qt's own (-platform, -style, -display, ...),
// so that a mistyped option or a stray word is refused by run() with exit
// code 2 instead of opening the windows, display or none.
bool wantsCommandLine(int argc, char *argv[]);

// The project to open in the windows: the one argument besides Qt's own, when it names a project file
// (".vellumo") or any file there is, as a file manager passes it; empty otherwise.
QString projectToOpen(int argc, char *argv[]);

// Runs the command line (arguments()[0] is the program); the exit code.
// A QCoreApplication must exist. Results go to `out`, one line per problem to `err`.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace cli
