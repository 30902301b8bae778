#include <QApplication>
#include <QTextStream>

#include <cstdio>

#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/frmMain.h"

int main(int argc, char *argv[])
{
    if (cli::wantsCommandLine(argc, argv)) {
        // No display is needed for work from the command line.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("vellumo"));
        QTextStream out(stdout), err(stderr);
        return cli::run(QCoreApplication::arguments(), out, err);
    }
    QApplication app(argc, argv);
    AppState state;
    state.programFolder = QCoreApplication::applicationDirPath();
    frmMain window(state);
    window.show();
    return app.exec();
}
