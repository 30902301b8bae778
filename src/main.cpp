#include <QApplication>

#include "app/AppState.h"
#include "app/Folders.h"
#include "app/Translations.h"
#include "app/frmMain.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app::installQtTranslations(app);
    AppState state;
    const app::Folders folders = app::foldersForExecutable(QCoreApplication::applicationDirPath());
    state.programFolder = folders.programFolder;
    state.userAssets = folders.userAssets;
    state.slidesParent = folders.slidesParent;
    frmMain window(state);
    window.show();
    return app.exec();
}
