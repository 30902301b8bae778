// Native Wayland, chosen by the user: Qt's title bar there offers maximise on every window, and
// Weston ends a program whose maximised window keeps its own size. Each fixed window is maximised
// as that button does, then clicked, under a Weston of the test's own.

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

#include "Program.h"
#include "export/frmExport.h"
#include "picker/frmFon.h"
#include "preview/frmView.h"
#include "slides/frmBuffer.h"
#include "slides/frmLoad.h"

class TestWayland : public QObject {
    Q_OBJECT
private slots:
    void maximisingAFixedWindowNeverEndsTheProgram()
    {
        testcommon::Program p;
        QVERIFY(p.main->Buffer()->slides().record(QImage(396, 346, QImage::Format_RGB32))); // for the preview
        frmLoad confirm(p.folder("Animations"), p.main.get());
        frmExport exporting(p.state, p.main->Buffer()->store(), p.main.get());
        for (QWidget *w : QWidgetList{p.main.get(), p.main->Buffer(), p.main->View(), p.main->Fon(), &confirm, &exporting}) {
            const QSize fixed = w->size();
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w));
            w->windowHandle()->setWindowStates(Qt::WindowMaximized);
            for (int i = 0; i < 5; ++i, QTest::qWait(60))
                QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(1, 1));
            QTRY_VERIFY2(!w->windowHandle()->windowStates() && w->size() == fixed, qPrintable(w->objectName()));
            QCOMPARE(w->windowHandle()->maximumSize(), fixed);
            w->hide();
        }
    }
};

int main(int argc, char *argv[])
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    if (::fork() == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM); // it ends with the test, however the test ends
        ::execlp("sh", "sh", "-c", "exec weston --backend=headless-backend.so --socket=w >/dev/null 2>&1", nullptr);
        ::_exit(127);
    }
    for (int i = 0; i < 100 && !QFile::exists(runtime.filePath("w")); ++i)
        ::usleep(100000);
    qputenv("WAYLAND_DISPLAY", "w");
    qputenv("QT_QPA_PLATFORM", "wayland");
    QApplication app(argc, argv);
    TestWayland test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_wayland.moc"
