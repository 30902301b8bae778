// Native Wayland, chosen by the user: Qt's title bar there offers maximise on
// every window, and Weston ends a program whose maximised window keeps its
// own size. Every fixed window is maximised as that button does, then
// repainted and clicked, under a Weston of the test's own without a screen.

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
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
    void maximisingAFixedWindowNeverEndsTheProgram();
};

void TestWayland::maximisingAFixedWindowNeverEndsTheProgram()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
    testcommon::Program p;
    QImage slide(396, 346, QImage::Format_RGB32);
    slide.fill(Qt::white);
    QVERIFY(p.main->Buffer()->slides().record(slide)); // the preview shows only with a slide
    frmLoad confirm(p.folder("Animations"), p.main.get());
    frmExport exportWindow(p.state, p.main->Buffer()->store(), p.main.get());
    // (The progress windows of saving and adding close themselves as soon as their work is done.)
    const QList<QWidget *> windows = {p.main.get(), p.main->Buffer(), p.main->View(), p.main->Fon(),
                                      &confirm, &exportWindow};
    for (QWidget *w : windows) {
        const QSize fixed = w->size();
        w->show();
        QVERIFY2(QTest::qWaitForWindowExposed(w), qPrintable(w->objectName()));
        w->windowHandle()->setWindowStates(w->windowHandle()->windowStates() ^ Qt::WindowMaximized);
        for (int i = 0; i < 5; ++i) {
            QTest::qWait(60);
            w->repaint();
            QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(1, 1));
        }
        QTRY_VERIFY2(!(w->windowHandle()->windowStates() & Qt::WindowMaximized) && w->size() == fixed,
                     qPrintable(w->objectName()));
        QCOMPARE(w->minimumSize(), fixed);
        QCOMPARE(w->windowHandle()->maximumSize(), fixed);
        w->hide();
    }
}

int main(int argc, char *argv[])
{
    // A compositor of the test's own, on a socket in a runtime folder of its own.
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray socket = "vellumo-test-" + QByteArray::number(::getpid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const pid_t weston = ::fork();
    if (weston == 0) {
        // It ends with the test, however the test ends, and keeps none of its output pipes open.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        const QByteArray socketOption = "--socket=" + socket;
        ::execlp("weston", "weston", "--backend=headless-backend.so", socketOption.constData(), "--idle-time=0",
                 static_cast<char *>(nullptr));
        ::_exit(127);
    }
    const QString socketPath = runtime.filePath(QString::fromLatin1(socket));
    for (int i = 0; i < 100 && !QFile::exists(socketPath); ++i)
        ::usleep(100000);
    if (!QFile::exists(socketPath)) {
        qWarning("weston did not start (Debian packages weston and qt6-wayland)");
        return 1;
    }
    qputenv("WAYLAND_DISPLAY", socket);
    qputenv("QT_QPA_PLATFORM", "wayland");
    int code;
    {
        QApplication app(argc, argv);
        TestWayland test;
        code = QTest::qExec(&test, argc, argv);
    }
    ::kill(weston, SIGTERM);
    ::waitpid(weston, nullptr, 0);
    return code;
}

#include "test_wayland.moc"
