// The command line: `vellumo --export OUT [--fps N] FOLDER`, --help and
// --version, their exit codes and the one line per problem they print.

#include <QPainter>
#include <QImageReader>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <csignal>

#include "GifFrames.h"
#include "HostileFiles.h"
#include "TestCommon.h"
#include "app/CommandLine.h"
#include "export/FrameSource.h"
#include "export/UnfinishedExports.h"
#include "project/ProjectFile.h"
#include "slides/SlideStore.h"
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

QStringList hidden(const QString &dir) { return QDir(dir).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden); }

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
    QTemporaryDir m_state; // XDG_STATE_HOME: the list of exports under way lies in it

private slots:
    void initTestCase() { qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path())); }
    void onlyOwnOptionsLeaveTheWindows();
    void helpAndVersion();
    void exportsAFolderInNumericOrder();
    void badArgumentsAreRefused();
    void optionValues_data();
    void optionValues();
    void badFoldersAreRefused();
    void signalsLeaveNoTemporaryFile_data();
    void signalsLeaveNoTemporaryFile();
    void fifoSlidesAreNamedNotWaitedOn();
    void startRemovesOnlyItsOwnStaleFiles();
    void soundsGoUnderAVideoInStep();
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
    // A project file alone, as a file manager passes it, opens in the windows.
    QVERIFY(!wantsCli({"Мой мульт.VELLUMO"}));
    QVERIFY(wantsCli({"a.vellumo", "b.vellumo"}));
    QVERIFY(wantsCli({"--help"}));
    QVERIFY(wantsCli({"-v"}));
}

void TestCli::helpAndVersion()
{
    const Run help = run({QStringLiteral("--help")});
    QCOMPARE(help.code, 0);
    QVERIFY(help.out.contains(QStringLiteral("--export <OUT>")) && help.out.contains(QStringLiteral("--fps <N>"))
            && help.out.contains(QStringLiteral("--scale <K>")));
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

    // A project gives its slides as a folder does.
    slides::SlideStore store;
    for (int n : order)
        QVERIFY(store.append(slide(n)));
    const QString projectFile = dir.filePath(QStringLiteral("кино.vellumo"));
    QVERIFY(project::ProjectFile::save(projectFile, {}, store).ok());
    QVERIFY(run({QStringLiteral("--export"), out, QStringLiteral("--fps"), QStringLiteral("5"), projectFile}).code == 0);
    QCOMPARE(testcommon::readGifFrames(out, [&](int i, const QImage &frame, int) {
                 QCOMPARE(frame, slide(order[i - 1]));
             }).frames,
             5);

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
    QCOMPARE(r.errLines(), QStringList{QStringLiteral("Не указана папка со слайдами или файл проекта")});

    r = run({QStringLiteral("--fps"), QStringLiteral("3"), dir.path()});
    QCOMPARE(r.code, 2);
    QCOMPARE(r.errLines().size(), 1);

    r = run({QStringLiteral("--bogus"), QStringLiteral("--export"), QStringLiteral("x.gif"), dir.path()});
    QCOMPARE(r.code, 2);
    QCOMPARE(r.errLines().size(), 1);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TestCli::optionValues_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said"); // on the one line of a refusal
    QTest::addColumn<QSize>("size");   // of the GIF written
    QTest::newRow("fps 25") << QStringList{"--fps", "25"} << 2 << "«25»: нужно целое число от 1 до 24" << QSize();
    QTest::newRow("scale 4") << QStringList{"--scale", "4"} << 2 << "Неверное увеличение «4»: нужно 1, 2 или 3" << QSize();
    QTest::newRow("scale x") << QStringList{"--scale", "x"} << 2 << "Неверное увеличение «x»" << QSize();
    QTest::newRow("scale 0") << QStringList{"--scale=0"} << 2 << "«0»" << QSize();
    QTest::newRow("scale 2.5") << QStringList{"--scale", "2.5"} << 2 << "«2.5»" << QSize();
    QTest::newRow("no scale") << QStringList{} << 0 << QString() << QSize(396, 346);
    QTest::newRow("scale 3") << QStringList{"--scale=3", "--fps", "6"} << 0 << QString() << QSize(1188, 1038);
}

void TestCli::optionValues()
{
    QFETCH(QStringList, options);
    QFETCH(int, code);
    QFETCH(QString, said);
    QFETCH(QSize, size);
    QTemporaryDir dir;
    writeSlides(dir.path(), {1, 2});
    const QString out = dir.filePath(QStringLiteral("кино.gif"));
    const Run r = run(QStringList{QStringLiteral("--export"), out} + options + QStringList{dir.path()});
    QCOMPARE(r.code, code);
    if (code != 0) {
        QCOMPARE(r.errLines().size(), 1);
        QVERIFY2(r.err.contains(said), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(out));
        return;
    }
    QCOMPARE(QImageReader(out).size(), size);
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

void TestCli::signalsLeaveNoTemporaryFile_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestCli::signalsLeaveNoTemporaryFile()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    // 300 slides of two kinds of noise, alternating: many seconds of work.
    for (int k = 1; k <= 2; ++k) {
        QImage noise(396, 346, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y)
            QRandomGenerator(k * 1000 + y).fillRange(reinterpret_cast<quint32 *>(noise.scanLine(y)), noise.width());
        QVERIFY(slides::writeBmp(dir.filePath(QStringLiteral("noise%1").arg(k)), noise));
    }
    for (int n = 1; n <= 300; ++n)
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("noise%1").arg(n % 2 + 1)), dir.filePath(slides::slideFileName(n))));
    QProcess p; // the built program; its end is awaited for a few seconds, no more
    p.start(QStringLiteral(VELLUMO_PROGRAM), {QStringLiteral("--export"), dir.filePath(QStringLiteral("кино.gif")), dir.path()});
    const auto listed = [this] {
        QFile list(exporting::unfinished::listPath(m_state.filePath(QStringLiteral("vellumo"))));
        return list.open(QIODevice::ReadOnly) ? list.readAll() : QByteArray("none");
    };
    // The temporary file is written and listed as under way.
    QTRY_VERIFY_WITH_TIMEOUT(!hidden(dir.path()).isEmpty() && listed().contains(hidden(dir.path())[0].toUtf8()), 10000);
    ::kill(pid_t(p.processId()), signal);
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 128 + signal);
    QVERIFY2(p.readAllStandardError().contains("не записан"), "one line says the file was not written");
    QCOMPARE(hidden(dir.path()), QStringList());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("кино.gif"))));
    QCOMPARE(listed(), QByteArray());
}

void TestCli::fifoSlidesAreNamedNotWaitedOn()
{
    QTemporaryDir dir, outside;
    writeSlides(dir.path(), {1, 2});
    hostile::fifoLink(dir.path(), outside.path(), QStringLiteral("003.bmp"));
    QProcess p;
    p.start(QStringLiteral(VELLUMO_PROGRAM), {QStringLiteral("--export"), dir.filePath(QStringLiteral("кино.mp4")), dir.path()});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(dir.filePath(QStringLiteral("003.bmp"))));
    QCOMPARE(hidden(dir.path()), QStringList());

    // A slide swapped for a FIFO after the folder was listed is refused when read.
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("003.bmp"))));
    exporting::FolderFrames frames;
    QString error;
    QVERIFY(frames.open(dir.path(), error));
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("002.bmp"))));
    hostile::fifoLink(dir.path(), outside.path(), QStringLiteral("002.bmp"));
    exporting::Frame frame;
    QVERIFY(frames.read(1, frame, error));
    QVERIFY(!frames.read(2, frame, error));
    QVERIFY2(error.contains(QStringLiteral("002.bmp")), qPrintable(error));
}

void TestCli::startRemovesOnlyItsOwnStaleFiles()
{
    QTemporaryDir dir;
    QProcess gone;
    gone.start(QStringLiteral("true"));
    QVERIFY(gone.waitForStarted());
    const qint64 deadPid = gone.processId();
    QVERIFY(gone.waitForFinished());
    const QString folder = m_state.filePath(QStringLiteral("vellumo"));
    QDir().mkpath(folder);
    const QString stale = dir.filePath(".a.gif.0badf00d.part"), running = dir.filePath(".b.gif.0badf00e.part"),
                  unlisted = dir.filePath(".c.gif.0badf00f.part"), notOurs = dir.filePath("notes.txt");
    for (const QString &f : {stale, running, unlisted, notOurs})
        QVERIFY(QFile(f).open(QIODevice::WriteOnly));
    QFile list(exporting::unfinished::listPath(folder));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write(QStringLiteral("%1\t%2\n%3\t%4\n%1\t%5\n").arg(deadPid).arg(stale).arg(getppid()).arg(running, notOurs).toUtf8());
    list.close();

    writeSlides(dir.path(), {1});
    QCOMPARE(run({QStringLiteral("--export"), dir.filePath(QStringLiteral("x.gif")), dir.path()}).code, 0);
    QVERIFY(!QFileInfo::exists(stale));
    for (const QString &f : {running, unlisted, notOurs})
        QVERIFY2(QFileInfo::exists(f), qPrintable(f));
    QVERIFY(list.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(list.readAll()), QStringLiteral("%1\t%2\n").arg(getppid()).arg(running));
}

void TestCli::soundsGoUnderAVideoInStep()
{
    // 48 slides at 12 a second, white on slides 1 and 25, and a click of 50 ms put on those slides.
    QTemporaryDir dir;
    for (int n = 1; n <= 48; ++n) {
        QImage image(396, 346, QImage::Format_RGB888);
        image.fill((n - 1) % 24 == 0 ? Qt::white : Qt::black);
        QVERIFY(slides::writeBmp(dir.filePath(slides::slideFileName(n)), image));
    }
    const QString click = testcommon::writeBytes(dir.path(), QStringLiteral("щелчок@.wav"), testcommon::squareWav(2400));
    for (const char *suffix : {"mp4", "webm"}) {
        const QString out = dir.filePath(QStringLiteral("кино.") + QLatin1String(suffix));
        const Run r = run({"--export", out, "--fps", "12", "--sound", click + "@1", "--sound=" + click + "@25",
                           dir.path()});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        // The sound as a player gives it: each click starts within 5 ms of its white slide, and the sound
        // lasts as the cartoon does.
        const std::vector<qint16> heard = testcommon::soundOf(out);
        const QList<double> onsets = testcommon::onsetsMs(heard);
        QCOMPARE(onsets.size(), 2);
        QVERIFY2(onsets[0] < 5 && qAbs(onsets[1] - 2000) < 5, qPrintable(QString::number(onsets[1])));
        // Four seconds of it, give or take the encoder's last block of 1,024.
        const qsizetype length = qsizetype(heard.size());
        QVERIFY2(length >= 4 * 48000 && length < 4 * 48000 + 1024, qPrintable(QString::number(length)));
    }
    // A slide that is not there, a sound that is not there, and a GIF, which has no sound.
    QCOMPARE(run({"--export", dir.filePath("a.mp4"), "--sound", click + "@49", dir.path()}).code, 2);
    const Run missing = run({"--export", dir.filePath("a.mp4"), "--sound", dir.filePath("нет.wav"), dir.path()});
    QVERIFY(missing.code == 1 && missing.err.contains(QStringLiteral("нет.wav")));
    const Run gif = run({"--export", dir.filePath("a.gif"), "--sound", click, dir.path()});
    QVERIFY(gif.code == 0 && gif.err.contains(QStringLiteral("в GIF нет звука")));

    // A project's own click on slide 25 (which lasts two frames, at half volume) mixed with one from the
    // command line on slide 1: a second later than in the folder, since slide 25 starts a frame later.
    {
        slides::SlideStore store;
        for (int n = 1; n <= 48; ++n)
            QVERIFY(store.append(QImage(dir.filePath(slides::slideFileName(n)))));
        QVERIFY(store.setDuration(24, 2));
        QVERIFY(store.setSound(25, {slides::SoundClip::make(testcommon::squareWav(2400), "щелчок.wav"), 50}));
        QVERIFY(project::ProjectFile::save(dir.filePath("кино.vellumo"), {}, store).ok());
    }
    const QString out = dir.filePath(QStringLiteral("проект.mp4"));
    const Run r = run({"--export", out, "--fps", "12", "--sound", click, dir.filePath("кино.vellumo")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const std::vector<qint16> heard = testcommon::soundOf(out);
    const QList<double> onsets = testcommon::onsetsMs(heard, 2000);
    const auto peak = [&](double ms) { // the loudest sample of the click starting there
        const auto from = heard.begin() + qsizetype(ms * 48);
        return std::abs(int(*std::max_element(from, from + 2400, [](int x, int y) { return qAbs(x) < qAbs(y); })));
    };
    QCOMPARE(onsets.size(), 2);
    QVERIFY2(onsets[0] < 5 && qAbs(onsets[1] - 25 * 1000 / 12.0) < 5, qPrintable(QString::number(onsets[1])));
    QVERIFY(peak(onsets[1]) < peak(onsets[0]) * 0.7);
    QVERIFY(heard.size() >= 49 * 4000 && heard.size() < 49 * 4000 + 1024);
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
