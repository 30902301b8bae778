// Adding a saved series back into the slide buffer: which files are taken
// and in what order, what is left out and how the user is told, cancelling,
// undo and the journal, and continuing a saved cartoon through a save.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "HostileFiles.h"
#include "TestCommon.h"
#include "app/AppState.h"
#include "controls/Button.h"
#include "slides/Journal.h"
#include "slides/SeriesReader.h"
#include "slides/frmAdd.h"
#include "slides/frmBuffer.h"
#include "slides/frmLoad.h"

using namespace slides;
using testcommon::samePixels;
using testcommon::whenShown;

namespace {

// A slide with a square that moves with t over a background that never changes, so that the
// slides are packed as small differences, as a typical scene's are.
QImage scene(int t)
{
    QImage img(SlideWidth, SlideHeight, QImage::Format_RGB32);
    for (int y = 0; y < SlideHeight; ++y)
        for (int x = 0; x < SlideWidth; ++x)
            img.setPixel(x, y, qRgb((x * 7 + y) & 255, (y * 3) & 255, (x ^ y) & 255));
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 30; ++x)
            img.setPixel((t * 5 + x) % SlideWidth, 100 + y, qRgb(200, (t * 37) & 255, 30));
    return img;
}

struct Buffer {
    AppState state;
    QList<controls::Message> messages;
    std::unique_ptr<frmBuffer> buffer;
    explicit Buffer(const QString &animations)
    {
        state.AnimationsFolder = animations;
        state.message = [this](QWidget *, const controls::Message &m) {
            messages << m;
            return controls::MsgResult::Ok;
        };
        buffer = std::make_unique<frmBuffer>(state);
    }
};

void save(const QImage &image, const QString &path, const char *format = "BMP")
{
    QVERIFY2(image.save(path, format), qPrintable(path));
}

} // namespace

class TestContinue : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void numberedSlidesComeInNumericOrderWhateverTheirFormat();
    void leftOutFilesAreNamedInOneMessage();
    void aFolderWithoutSlidesIsTold();
    void cancellingLeavesTheBufferAsItWas();
    void anAdditionIsOneStepAndTheJournalReplaysIt();
    void tenThousandSlidesComeInOrderPackedAsRecorded();
    void aSavedCartoonContinuesThroughTheNextSave();
};

void TestContinue::numberedSlidesComeInNumericOrderWhateverTheirFormat()
{
    QTemporaryDir dir;
    const QString d = dir.path() + QLatin1Char('/');
    save(scene(1), d + "001.bmp");
    save(scene(2), d + "2.png", "PNG");
    save(scene(3), d + "999.BMP");
    save(scene(4), d + "1000.jpg", "JPG");
    save(scene(5), d + "0007.jpeg", "JPEG");
    // Not named by a number alone, or not a picture format the buffer takes.
    save(scene(9), d + "a1.bmp");
    QVERIFY(QFile::copy(d + "a1.bmp", d + "12.gif"));
    save(scene(9), d + "3.bmp.bak");

    Buffer b(d);
    b.buffer->append(scene(40));
    QVERIFY(b.buffer->addFolder(d));
    QVERIFY2(b.messages.isEmpty(), qPrintable(b.messages.value(0).text));
    const QStringList order{"001.bmp", "2.png", "0007.jpeg", "999.BMP", "1000.jpg"};
    QCOMPARE(b.buffer->slideCount(), 1 + int(order.size()));
    QVERIFY(samePixels(b.buffer->slide(1), scene(40)));
    for (int k = 0; k < order.size(); ++k)
        QVERIFY2(samePixels(b.buffer->slide(k + 2), QImage(d + order[k])), qPrintable(order[k]));
    b.buffer->show();
    QCOMPARE(b.buffer->Label1->text(), QStringLiteral("Всего слайдов: 6"));
    QVERIFY(b.state.SlidesUnsaved);
    QVERIFY(samePixels(b.buffer->lastSlide(), QImage(d + "1000.jpg")));
}

void TestContinue::leftOutFilesAreNamedInOneMessage()
{
    QTemporaryDir dir;
    const QString d = dir.path() + QLatin1Char('/');
    QVERIFY(mkfifo(QFile::encodeName(d + "001.bmp").constData(), 0600) == 0);
    save(scene(2), d + "002.bmp");
    save(scene(3).scaled(400, 350), d + "003.bmp");
    QFile corrupt(d + "004.bmp");
    QVERIFY(corrupt.open(QIODevice::WriteOnly));
    QFile good(d + "002.bmp");
    QVERIFY(good.open(QIODevice::ReadOnly));
    corrupt.write(good.read(200)); // a slide's header and nothing after it
    corrupt.close();
    hostile::sparseFile(d, "005.png", qint64(3) << 30);
    save(scene(6), d + "006.png", "PNG");

    Buffer b(d);
    QVERIFY(b.buffer->addFolder(d));
    QCOMPARE(b.buffer->slideCount(), 2);
    QVERIFY(samePixels(b.buffer->slide(1), scene(2)));
    QVERIFY(samePixels(b.buffer->slide(2), scene(6)));
    QCOMPARE(b.messages.size(), 1);
    QCOMPARE(b.messages[0].text, QStringLiteral("Пропущено файлов: 4 (другого размера или не читаются). "
                                                 "Первый из них: «%1».")
                                     .arg(QDir::toNativeSeparators(d + "001.bmp")));

    // Nothing readable at all: the same message, and the buffer stays empty and saved.
    QTemporaryDir bad;
    save(scene(1).scaled(100, 100), bad.path() + "/001.bmp");
    Buffer c(d);
    QVERIFY(!c.buffer->addFolder(bad.path()));
    QCOMPARE(c.buffer->slideCount(), 0);
    QVERIFY(!c.state.SlidesUnsaved);
    QCOMPARE(c.messages.size(), 1);
    QVERIFY(c.messages[0].text.startsWith(QStringLiteral("Пропущено файлов: 1 ")));
}

void TestContinue::aFolderWithoutSlidesIsTold()
{
    QTemporaryDir empty, pictures;
    save(scene(1), pictures.path() + "/background.png", "PNG");
    for (const QString &folder : {empty.path(), pictures.path()}) {
        Buffer b(folder);
        bool asked = false;
        b.buffer->askFolder = [&](QWidget *, const QString &start) {
            asked = true;
            // The dialog opens in the slide folder.
            return start;
        };
        b.buffer->Command4->click();
        QVERIFY(asked);
        QCOMPARE(b.buffer->slideCount(), 0);
        QCOMPARE(b.messages.size(), 1);
        QCOMPARE(b.messages[0].text, QStringLiteral("В папке нет слайдов"));
    }
    // A folder that cannot be listed is not passed off as empty.
    if (geteuid() == 0) {
        // Permissions do not hold for root: an ordinary user reads it, in a child process.
        QTemporaryDir top;
        const QString locked = top.path() + QStringLiteral("/locked");
        QVERIFY(QDir().mkpath(locked));
        save(scene(1), locked + "/001.bmp");
        QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0711) == 0);
        QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0700) == 0);
        const pid_t child = fork();
        if (child == 0) {
            std::atomic<bool> cancel{false};
            const bool refused = setgid(65534) == 0 && setuid(65534) == 0 &&
                                 readSeries(locked, cancel).status == Series::Unreadable;
            _exit(refused ? 0 : 1);
        }
        int status = -1;
        QVERIFY(child > 0 && waitpid(child, &status, 0) == child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
        QTemporaryDir locked;
        save(scene(1), locked.path() + "/001.bmp");
        QFile::setPermissions(locked.path(), QFile::WriteOwner);
        Buffer b(locked.path());
        QVERIFY(!b.buffer->addFolder(locked.path()));
        QFile::setPermissions(locked.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(b.messages.size(), 1);
        QVERIFY(b.messages[0].text.startsWith(QStringLiteral("Не удалось открыть папку")));
    }
}

void TestContinue::cancellingLeavesTheBufferAsItWas()
{
    QTemporaryDir dir;
    for (int i = 1; i <= 20; ++i)
        save(scene(i), dir.path() + QStringLiteral("/%1.png").arg(i), "PNG");

    // The reading stops between two files.
    std::atomic<bool> cancel{false};
    int seen = 0;
    const Series s = readSeries(dir.path(), cancel, [&](int done, int total) {
        QCOMPARE(total, 20);
        seen = done;
        if (done == 5)
            cancel = true;
    });
    QCOMPARE(s.status, Series::Cancelled);
    QCOMPARE(seen, 5);
    QCOMPARE(s.count(), 0);

    // "Отмена" in the progress window: the buffer, its history and its flag are as they were.
    Buffer b(dir.path());
    b.buffer->progressDelayMs = 0;
    b.buffer->append(scene(30));
    b.state.SlidesUnsaved = false;
    bool shown = false;
    whenShown<frmAdd>([&](frmAdd *w) {
        shown = true;
        QCOMPARE(w->Command1->text(), QStringLiteral("Отмена"));
        w->Command1->click();
    });
    QVERIFY(!b.buffer->addFolder(dir.path()));
    QVERIFY(shown);
    QCOMPARE(b.buffer->slideCount(), 1);
    QCOMPARE(b.buffer->slides().history().count(), 1);
    QVERIFY(!b.state.SlidesUnsaved);
    QVERIFY(b.messages.isEmpty());
}

void TestContinue::anAdditionIsOneStepAndTheJournalReplaysIt()
{
    QTemporaryDir dir, journals;
    for (int i = 1; i <= 140; ++i) // more than a key interval: keys and differences both travel
        save(scene(i), dir.path() + QStringLiteral("/%1.bmp").arg(i, 3, 10, QLatin1Char('0')));

    SlideBuffer buffer;
    buffer.setJournal(journals.path(), [](const QString &why) { QFAIL(qPrintable(why)); });
    QVERIFY(buffer.record(scene(200)));
    QVERIFY(buffer.record(scene(201)));
    std::atomic<bool> cancel{false};
    Series s = readSeries(dir.path(), cancel);
    QCOMPARE(s.status, Series::Read);
    QVERIFY(buffer.addSeries(std::move(s.slides)));
    QCOMPARE(buffer.count(), 142);
    QCOMPARE(buffer.unsavedCount(), 142);
    QVERIFY(buffer.record(scene(202)));
    QVERIFY(buffer.undo());
    QVERIFY(buffer.undo()); // the whole series in one step
    QCOMPARE(buffer.count(), 2);
    QVERIFY(samePixels(buffer.slide(2), scene(201)));
    QVERIFY(buffer.redo());
    QCOMPARE(buffer.count(), 142);
    QVERIFY(buffer.flushJournal(5000));

    QFile file(buffer.journalPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const journal::Parsed parsed = journal::parse(bytes);
    QCOMPARE(parsed.status, journal::Parsed::Ok);
    SlideBuffer again;
    QVERIFY(again.replay(parsed.records));
    QCOMPARE(again.count(), 142);
    for (int i = 1; i <= 140; ++i)
        QVERIFY2(samePixels(again.slide(i + 2), scene(i)), qPrintable(QString::number(i)));
    QVERIFY(again.undo());
    QCOMPARE(again.count(), 2);

    // A journal cut inside the series gives the slides before it, and none of the series.
    const qsizetype cut = parsed.records[3].payload.data() - bytes.constData() + 10;
    SlideBuffer cutShort;
    QVERIFY(cutShort.replay(journal::parse(bytes.left(cut)).records));
    QCOMPARE(cutShort.count(), 2);
}

void TestContinue::tenThousandSlidesComeInOrderPackedAsRecorded()
{
    // Seven slides saved once and named 10,000 times by hard links: a series of that length costs the
    // disk 3 MB. Each number's slide is told by a pattern that never repeats in step with the keys.
    QTemporaryDir dir;
    const QString d = dir.path() + QLatin1Char('/');
    constexpr int Kinds = 7, Count = 10000;
    std::vector<QImage> kinds;
    for (int i = 0; i < Kinds; ++i) {
        kinds.push_back(scene(i * 11).convertToFormat(QImage::Format_BGR888));
        save(kinds.back(), d + QStringLiteral("kind%1.bmp").arg(i));
    }
    const auto kindOf = [](int number) { return (number * number + number / 3) % Kinds; };
    const auto name = [&d](int number) { return d + QStringLiteral("%1.bmp").arg(number, 3, 10, QLatin1Char('0')); };
    for (int n = 1; n <= Count; ++n)
        QVERIFY(::link(QFile::encodeName(d + QStringLiteral("kind%1.bmp").arg(kindOf(n))).constData(),
                       QFile::encodeName(name(n)).constData()) == 0);

    std::atomic<bool> cancel{false};
    int last = 0;
    bool rising = true;
    Series s = readSeries(d, cancel, [&](int done, int total) {
        rising = rising && done >= last && total == Count;
        last = done;
    });
    QCOMPARE(s.status, Series::Read);
    QVERIFY(rising);
    QCOMPARE(last, Count);
    QCOMPARE(s.count(), Count);
    QCOMPARE(s.leftOut, 0);
    SlideStore recorded;
    for (int n = 1; n <= Count; ++n)
        QVERIFY(recorded.append(kinds[size_t(kindOf(n))]));
    QCOMPARE(s.slides.packedBytes(), recorded.packedBytes());
    QCOMPARE(s.slides.keyCount(), recorded.keyCount());

    SlideBuffer buffer;
    QVERIFY(buffer.record(scene(500)));
    QVERIFY(buffer.addSeries(std::move(s.slides)));
    QCOMPARE(buffer.count(), Count + 1);
    // Recording goes on from the last slide added.
    QVERIFY(buffer.record(scene(501)));
    QVERIFY(samePixels(buffer.slide(Count + 2), scene(501)));
    QVERIFY(buffer.undo());
    // The ends, and the slides around every place where the reading could have been cut.
    for (int n : {1, 2, 127, 128, 129, 999, 1000, 4991, 4992, 4993, 5119, 5120, 5121, 5248, 9999, 10000})
        QVERIFY2(samePixels(buffer.slide(n + 1), kinds[size_t(kindOf(n))]), qPrintable(QString::number(n)));
    QVERIFY(buffer.undo());
    QCOMPARE(buffer.count(), 1);
    QVERIFY(buffer.redo());
    QVERIFY(samePixels(buffer.slide(Count + 1), kinds[size_t(kindOf(Count))]));

    // Cancelled halfway, by the progress of both parts together: nothing comes back.
    std::atomic<bool> stop{false};
    Series halfway = readSeries(d, stop, [&](int done, int) {
        if (done >= Count / 2)
            stop = true;
    });
    QCOMPARE(halfway.status, Series::Cancelled);
    QCOMPARE(halfway.count(), 0);

    // Files left out on both sides of the cut: the message names the first by number.
    QVERIFY(QFile::remove(name(100)) && QFile::remove(name(9000)));
    save(scene(1).scaled(100, 100), name(100));
    QFile cut(name(9000));
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(QByteArray(100, 'B'));
    cut.close();
    Series gaps = readSeries(d, cancel);
    QCOMPARE(gaps.status, Series::Read);
    QCOMPARE(gaps.count(), Count - 2);
    QCOMPARE(gaps.leftOut, 2);
    QCOMPARE(gaps.firstLeftOut, name(100));
    QVERIFY(samePixels(gaps.slides.slide(99), kinds[size_t(kindOf(99))]));
    QVERIFY(samePixels(gaps.slides.slide(100), kinds[size_t(kindOf(101))]));
    QVERIFY(samePixels(gaps.slides.slide(Count - 2), kinds[size_t(kindOf(Count))]));
}

void TestContinue::aSavedCartoonContinuesThroughTheNextSave()
{
    QTemporaryDir dir;
    const QString animations = dir.path() + QStringLiteral("/Animations/");
    QVERIFY(QDir().mkpath(animations));
    {
        Buffer yesterday(animations);
        for (int i = 0; i < 3; ++i)
            yesterday.buffer->append(scene(i));
        yesterday.buffer->Command2_Click();
        QCOMPARE(QDir(animations).entryList(QDir::Files).size(), 3);
    }
    Buffer today(animations);
    today.buffer->askFolder = [](QWidget *, const QString &start) { return start; };
    today.buffer->Command4->click();
    QCOMPARE(today.buffer->slideCount(), 3);
    today.buffer->append(scene(10));
    today.buffer->append(scene(11));
    whenShown<frmLoad>([](frmLoad *d) { d->Command1->click(); });
    today.buffer->Command2_Click();
    QCOMPARE(QDir(animations).entryList(QDir::Files),
             (QStringList{"001.bmp", "002.bmp", "003.bmp", "004.bmp", "005.bmp"}));
    const int expected[] = {0, 1, 2, 10, 11};
    for (int k = 0; k < 5; ++k)
        QVERIFY2(samePixels(QImage(animations + QStringLiteral("%1.bmp").arg(k + 1, 3, 10, QLatin1Char('0'))),
                            scene(expected[k])),
                 qPrintable(QString::number(k + 1)));
    QVERIFY(!today.state.SlidesUnsaved);
}

QTEST_MAIN(TestContinue)
#include "test_continue.moc"
