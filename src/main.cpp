#include <QApplication>
#include <QTextStream>

#include <cstdio>

#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/Desktop.h"
#include "app/Folders.h"
#include "app/Translations.h"
#include "app/frmMain.h"
#include "project/Document.h"

int main(int argc, char *argv[])
{
    if (cli::wantsCommandLine(argc, argv)) {
        // No display is needed for work from the command line.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("vellumo"));
        QTextStream out(stdout), err(stderr);
        return cli::run(QCoreApplication::arguments(), out, err);
    }
    app::prepareDesktop();
    QApplication app(argc, argv);
    app::installQtTranslations(app);
    AppState state;
    const app::Folders folders = app::foldersForExecutable(QCoreApplication::applicationDirPath());
    state.programFolder = folders.programFolder;
    state.userAssets = folders.userAssets;
    state.slidesParent = folders.slidesParent;
    state.stateFolder = folders.journal;
    const QString project = cli::projectToOpen(argc, argv);
    frmMain window(state);
    window.show();
    if (!project.isEmpty())
        window.document()->openFile(project);
    return app.exec();
}
