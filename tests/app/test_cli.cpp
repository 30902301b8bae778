// The command line: `vellumo --export OUT [--fps N] FOLDER`, --help and
// --version, their exit codes and the one line per problem they print.

#include <QPainter>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include "GifFrames.h"
#include "app/CommandLine.h"
#include "slides/SlideFiles.h"

namespace {

struct Run {
    int code = -1;
    QString out, err;
    QStringList errLines() const { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

Run run(const QStringList &args)
{
    Run r;
    QTextStream out(&r.out), err(&r.err);
    r.code = cli::run(QStringList{QStringLiteral("vellumo")} + args, out, err);
    out.flush();
    err.flush();
    return r;
}

QImage slide(int i)
{
    QImage image(396, 346, QImage::Format_RGB32);
    image.fill(qRgb(30, 60, 90));
    QPainter(&image).fillRect(20 + 10 * i, 100, 50, 50, Qt::yellow);
    return image;
}

void writeSlides(const QString &folder, const QList<int> &numbers)
{
    for (int n : numbers)
        QVERIFY(slides::writeBmp(folder + QLatin1Char('/') + slides::slideFileName(n), slide(n)));
}

bool wantsCli(QList<QByteArray> args)
{
    args.prepend("vellumo");
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    return cli::wantsCommandLine(int(argv.size()), argv.data());
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void onlyOwnOptionsLeaveTheWindows();
    void helpAndVersion();
    void exportsAFolderInNumericOrder();
    void badArgumentsAreRefused();
    void badFoldersAreRefused();
};

void TestCli::onlyOwnOptionsLeaveTheWindows()
{
    // Qt's own options go to the windows; anything else is the command line's, and a mistake
    // there is one line naming it and --help, exit code 2. An empty line: the windows open.
    const std::pair<QList<QByteArray>, QString> cases[] = {
        {{}, {}},
        {{"-platform", "offscreen", "--style=Fusion", "-reverse", "-display", ":1", "-name", "x"}, {}},
        {{"--exprot", "x.gif", "DIR"}, "Неизвестный параметр «--exprot»"},
        {{"-platform", "xcb", "-exprot=x.gif"}, "Неизвестный параметр «-exprot»"},
        {{"DIR"}, "Лишний аргумент «DIR»"},
        {{"--export", "x.gif", "A", "B"}, "Лишний аргумент «B»"},
        {{"--help=all"}, "Параметр «--help» пишется без значения"},
        {{"DIR", "--fps"}, "Не указано значение параметра «--fps»"},
    };
    for (const auto &[args, line] : cases) {
        QVERIFY2(wantsCli(args) == !line.isEmpty(), args.join(' ').constData());
        if (!line.isEmpty()) {
            const Run r = run(QString::fromUtf8(args.join('\n')).split('\n'));
            QCOMPARE(r.code, 2);
            QCOMPARE(r.errLines(), QStringList{line + QStringLiteral(". Справка: vellumo --help")});
        }
    }
    QVERIFY(wantsCli({"--export", "a.gif", "dir"}));
    QVERIFY(wantsCli({"dir", "--fps=5"}));
    QVERIFY(wantsCli({"--help"}));
    QVERIFY(wantsCli({"-v"}));
}

void TestCli::helpAndVersion()
{
    const Run help = run({QStringLiteral("--help")});
    QCOMPARE(help.code, 0);
    QVERIFY(help.out.contains(QStringLiteral("--export <OUT>")) && help.out.contains(QStringLiteral("--fps <N>")));
    QVERIFY(help.err.isEmpty());
    const Run version = run({QStringLiteral("--version")});
    QCOMPARE(version.code, 0);
    QVERIFY2(version.out.contains(QStringLiteral(VELLUMO_VERSION)), qPrintable(version.out));
}

void TestCli::exportsAFolderInNumericOrder()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("слайды"));
    QDir().mkpath(folder);
    // Slide 3 was deleted by hand; 1000 comes after 999.
    writeSlides(folder, {1, 2, 4, 999, 1000});
    const QString out = dir.filePath(QStringLiteral("кино.GIF"));
    const Run r = run({QStringLiteral("--export"), out, QStringLiteral("--fps"), QStringLiteral("5"), folder});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.errLines().size(), 1);
    QVERIFY2(r.err.contains(QStringLiteral("слайда 3 (003.bmp)")), qPrintable(r.err));
    QVERIFY(r.out.contains(out));

    const QList<int> order{1, 2, 4, 999, 1000};
    int wrong = 0;
    const testcommon::GifInfo info = testcommon::readGifFrames(out, [&](int i, const QImage &frame, int delay) {
        if (frame != slide(order[i - 1]) || delay != 20)
            ++wrong;
    });
    QCOMPARE(info.frames, 5);
    QCOMPARE(wrong, 0);

    const Run mp4 = run({QStringLiteral("--export"), dir.filePath(QStringLiteral("кино.mp4")), folder});
    QCOMPARE(mp4.code, 0);
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("кино.mp4"))).size() > 0);
}

void TestCli::badArgumentsAreRefused()
{
    QTemporaryDir dir;
    writeSlides(dir.path(), {1, 2});
    const QString avi = dir.filePath(QStringLiteral("кино.avi"));
    Run r = run({QStringLiteral("--export"), avi, dir.path()});
    QCOMPARE(r.code, 2);
    QCOMPARE(r.errLines(), QStringList{QStringLiteral("Неизвестный формат файла «%1»: можно .gif, .mp4, .webm").arg(avi)});

    r = run({QStringLiteral("--export"), dir.filePath(QStringLiteral("a.gif")), QStringLiteral("--fps"),
             QStringLiteral("0"), dir.path()});
    QCOMPARE(r.code, 2);
    QCOMPARE(r.errLines().size(), 1);
    QVERIFY(r.err.contains(QStringLiteral("от 1 до 24")));

    r = run({QStringLiteral("--export"), dir.filePath(QStringLiteral("a.gif"))});
    QCOMPARE(r.code, 2);
    QCOMPARE(r.errLines(), QStringList{QStringLiteral("Не указана папка со слайдами")});

    r = run({QStringLiteral("--fps"), QStringLiteral("3"), dir.path()});
    QCOMPARE(r.code, 2);
    QCOMPARE(r.errLines().size(), 1);

    r = run({QStringLiteral("--bogus"), QStringLiteral("--export"), QStringLiteral("x.gif"), dir.path()});
    QCOMPARE(r.code, 2);
    QCOMPARE(r.errLines().size(), 1);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TestCli::badFoldersAreRefused()
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out.webm"));
    const QString missing = dir.filePath(QStringLiteral("нет такой"));
    Run r = run({QStringLiteral("--export"), out, missing});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.errLines(), QStringList{QStringLiteral("Папка «%1» не найдена").arg(missing)});

    const QString empty = dir.filePath(QStringLiteral("пусто"));
    QDir().mkpath(empty);
    r = run({QStringLiteral("--export"), out, empty});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.errLines().size(), 1);
    QVERIFY(r.err.contains(QStringLiteral("нет слайдов")));

    const QString odd = dir.filePath(QStringLiteral("разные"));
    QDir().mkpath(odd);
    writeSlides(odd, {1, 2, 3});
    QImage big(400, 300, QImage::Format_RGB32);
    big.fill(Qt::red);
    QVERIFY(big.save(odd + QStringLiteral("/003.bmp"), "BMP"));
    r = run({QStringLiteral("--export"), out, odd});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.errLines().size(), 1);
    QVERIFY2(r.err.contains(QStringLiteral("003.bmp")) && r.err.contains(QStringLiteral("400 × 300")), qPrintable(r.err));
    QVERIFY(!QFileInfo::exists(out));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
