#pragma once
// The program's command line, one parser for every option:
//   vellumo                                   starts the program's windows
//   vellumo --export OUT [--fps N] [--scale K] FOLDER
//                                             writes a folder of slides into OUT, K times larger
//   vellumo --help, vellumo --version
// Work from the command line needs no display.

#include <QStringList>

class QTextStream;

namespace cli {

// Whether the arguments ask for work from the command line rather than for
// the windows: any argument but Qt's own (-platform, -style, -display, ...),
// so that a mistyped option or a stray word is refused by run() with exit
// code 2 instead of opening the windows, display or none.
bool wantsCommandLine(int argc, char *argv[]);

// Runs the command line (arguments()[0] is the program); the exit code.
// A QCoreApplication must exist. Results go to `out`, one line per problem to `err`.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace cli
