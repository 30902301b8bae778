#include <QApplication>

#include "app/AppState.h"
#include "app/frmMain.h"
#include "slides/Journal.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    AppState state;
    state.programFolder = QCoreApplication::applicationDirPath();
    state.stateFolder = slides::journal::defaultFolder();
    frmMain window(state);
    window.show();
    return app.exec();
}
