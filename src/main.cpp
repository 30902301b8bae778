#include <QApplication>

#include "app/AppState.h"
#include "app/frmMain.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    AppState state;
    state.programFolder = QCoreApplication::applicationDirPath();
    frmMain window(state);
    window.show();
    return app.exec();
}
