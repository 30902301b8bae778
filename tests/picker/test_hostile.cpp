// Asset folders holding what is not an ordinary picture: FIFOs behind links,
// links to devices, folders and sparse giants named like GIFs. The picker
// lists and reads only regular files, choosing a refused file changes
// nothing, and no worker stuck in a file holds up the window or its end.
#include <QSemaphore>
#include <QStandardPaths>
#include <QTest>

#include <atomic>

#include "HostileFiles.h"
#include "PickerTestKit.h"
#include "files/AssetFile.h"
#include "files/Deadline.h"
#include "picker/AssetLibrary.h"
#include "picker/Placing.h"
#include "picker/ThumbnailLoader.h"

using namespace pickerkit;
using testcommon::Program;

namespace {

constexpr qint64 HundredGB = qint64(100) << 30;

// Every kind of hostile file under a picture's name, beside ordinary ones.
struct HostileLibrary {
    Program p;
    QTemporaryDir outside;   // where the FIFOs lie, outside the asset folders
    HostileLibrary()
    {
        for (const char *folder : {"objects", "articles", "fones"}) {
            const QString dir = assetFolder(p, folder);
            testcommon::writeSimpleGif(dir, "good.gif", QSize(20, 20), 3);
            hostile::fifoLink(dir, outside.path(), "fifo.gif");
            hostile::sparseFile(dir, "huge.gif", HundredGB, "GIF89a");
            hostile::linkTo("/dev/zero", dir, "zero.gif");
            QDir(dir).mkdir("folder.gif");
        }
    }
    frmMain &m() { return *p.main; }
};

// What a choice may change: the counters, the object list, the characters, the props, the background.
struct Scene {
    qint16 characters, props;
    QStringList entries;
    int characterElements, propElements;
    bool hasBackground;
    explicit Scene(Program &p)
        : characters(p.state.CharacterCount), props(p.state.PropCount), entries(p.entries()),
          characterElements(p.main->AniGIF1.count()), propElements(p.main->Image1.count()),
          hasBackground(!p.main->Picture3->picture().isNull())
    {
    }
    bool operator==(const Scene &) const = default;
};

void setSoftAddressLimit(rlim_t bytes)
{
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = std::min(bytes, limit.rlim_max);
    setrlimit(RLIMIT_AS, &limit);
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // A whole read of a 100 GB file or of /dev/zero fails here instead of eating the machine.
        hostile::capAddressSpace(qint64(3) << 30);
    }

    void listingLeavesOutAllButRegularFiles();
    void readingRefusesWhatIsNotARegularFileOfModestSize();
    void aDeadlineGivesUpWhileTheWindowKeepsAnswering();
    void thePickerShowsOrdinaryThumbnailsBesideHostileFiles();
    void choosingAHostileFileChangesNothingInAnyMode();
    void aFileSwappedAfterListingIsCheckedWhenChosen();
    void runningOutOfMemoryRefusesTheCharacter();
    void theLoaderNeverWaitsForAStuckWorker();
};

void TestHostile::listingLeavesOutAllButRegularFiles()
{
    HostileLibrary lib;
    const QString objects = lib.p.folder("objects");
    hostile::linkTo(QDir(objects).filePath("good.gif"), objects, "alias.gif");
    hostile::linkTo(QDir(objects).filePath("gone"), objects, "dangling.gif");
    // The sparse giant is a regular file: listed, refused when read.
    QCOMPARE(picker::listAssets(objects, "*.gif"), QStringList({"alias.gif", "good.gif", "huge.gif"}));
    QCOMPARE(picker::listAssets(lib.p.folder("fones"), "*.*"), QStringList({"good.gif", "huge.gif"}));
    // A plain FIFO and a device node directly in the folder are left out as well.
    ::mkfifo(QFile::encodeName(QDir(objects).filePath("plain.gif")).constData(), 0600);
    QCOMPARE(picker::listAssets(objects, "*.gif").size(), 3);
}

void TestHostile::readingRefusesWhatIsNotARegularFileOfModestSize()
{
    HostileLibrary lib;
    const QDir objects(lib.p.folder("objects"));
    struct Case {
        const char *name;
        files::ReadStatus status;
    };
    const QList<Case> cases = {{"good.gif", files::ReadStatus::Ok},
                               {"fifo.gif", files::ReadStatus::NotRegular},
                               {"zero.gif", files::ReadStatus::NotRegular},
                               {"folder.gif", files::ReadStatus::NotRegular},
                               {"huge.gif", files::ReadStatus::TooLarge},
                               {"missing.gif", files::ReadStatus::Missing}};
    for (const Case &c : cases) {
        const QString path = objects.filePath(c.name);
        // A read that blocks would hang the test: it runs with a deadline of its own.
        const auto read = files::runWithDeadline<files::FileData>([path] { return files::readAsset(path); });
        QVERIFY2(read.has_value(), c.name);
        QCOMPARE(int(read->status), int(c.status));
        QCOMPARE(read->bytes.isEmpty(), c.status != files::ReadStatus::Ok);
    }
    // The limit itself: one byte more is refused.
    hostile::sparseFile(objects.path(), "edge.gif", files::MaxAssetBytes);
    hostile::sparseFile(objects.path(), "over.gif", files::MaxAssetBytes + 1);
    QCOMPARE(files::readAsset(objects.filePath("edge.gif")).bytes.size(), files::MaxAssetBytes);
    QCOMPARE(int(files::readAsset(objects.filePath("over.gif")).status), int(files::ReadStatus::TooLarge));
}

void TestHostile::aDeadlineGivesUpWhileTheWindowKeepsAnswering()
{
    auto gate = std::make_shared<QSemaphore>();
    int beats = 0;
    QTimer pulse;
    connect(&pulse, &QTimer::timeout, [&beats] { ++beats; });
    pulse.start(10);
    const std::optional<int> r = files::runWithDeadline<int>(
        [gate] {
            gate->acquire();
            return 1;
        },
        300);
    QVERIFY(!r);
    QVERIFY2(beats >= 5, "the event loop turned while waiting");
    gate->release();   // the abandoned thread ends; its result goes nowhere

    QCOMPARE(files::runWithDeadline<int>([] { return 7; }).value_or(0), 7);
    // Running out of memory in the work refuses instead of ending the program.
    QVERIFY(!files::runWithDeadline<int>([]() -> int { throw std::bad_alloc(); }));
}

void TestHostile::thePickerShowsOrdinaryThumbnailsBesideHostileFiles()
{
    HostileLibrary lib;
    for (const char *mode : {"person", "articles", "fon", "person"}) {
        frmFon *fon = openPicker(lib.p, mode);
        QVERIFY2(fon->gridComplete(), mode);
        QCOMPARE(fon->fileCount(), 2);
        QCOMPARE(fon->Image1.at(indexOf(fon, "good.gif"))->picture().size(), fon->thumbnailSize());
        QVERIFY(fon->Image1.at(indexOf(fon, "huge.gif"))->picture().isNull());
        fon->Command1->click();
    }
}

void TestHostile::choosingAHostileFileChangesNothingInAnyMode()
{
    HostileLibrary lib;
    frmMain &m = lib.m();
    // A character to give a new action.
    QCOMPARE(picker::placeAsset(m, "person", lib.p.folder("objects"), "good.gif"), picker::Placed::Character);
    m.List1->setCurrentRow(0);
    const int frames = m.AniGIF1.at(1)->FrameCount();

    for (const char *mode : {"person", "articles", "fon", "changePerson"}) {
        const QString folder = lib.p.folder(picker::folderForMode(mode));
        for (const char *name : {"fifo.gif", "zero.gif", "folder.gif", "huge.gif"}) {
            const Scene before(lib.p);
            QCOMPARE(picker::placeAsset(m, mode, folder, name), picker::Placed::Nothing);
            QVERIFY2(Scene(lib.p) == before, qPrintable(QString("%1 in %2").arg(name, mode)));
        }
    }
    QCOMPARE(m.AniGIF1.at(1)->FrameCount(), frames);
    QCOMPARE(lib.p.entries(), QStringList({"персонаж (good) индекс > 1"}));

    // Through the picker as a person does it: the huge file has its cell, choosing it closes the picker.
    const Scene before(lib.p);
    QVERIFY(choose(lib.p, "person", "huge.gif"));
    QVERIFY(Scene(lib.p) == before);
}

void TestHostile::aFileSwappedAfterListingIsCheckedWhenChosen()
{
    HostileLibrary lib;
    const QString objects = lib.p.folder("objects");
    testcommon::writeSimpleGif(objects, "swap.gif", QSize(20, 20), 2);
    frmFon *fon = openPicker(lib.p, "person");
    const int k = indexOf(fon, "swap.gif");
    QVERIFY(k >= 0);
    QFile::remove(QDir(objects).filePath("swap.gif"));
    hostile::fifoLink(objects, lib.outside.path(), "swap.gif");

    const Scene before(lib.p);
    QTest::mouseClick(fon->Image1.at(k), Qt::LeftButton);
    fon->Command2->click();
    QVERIFY(!fon->isVisible());
    QVERIFY(Scene(lib.p) == before);
}

void TestHostile::runningOutOfMemoryRefusesTheCharacter()
{
    Program p;
    const QString objects = assetFolder(p, "objects");
    // A sound 4096 x 4096 GIF: 64 MiB a composed frame.
    hostile::RawFrame whole;
    whole.rect = QRect(0, 0, 4096, 4096);
    testcommon::writeBytes(objects, "big.gif", hostile::rawGif({4096, 4096}, {qRgb(0, 0, 0), qRgb(255, 0, 0)}, {whole}));
    rlimit saved{};
    getrlimit(RLIMIT_AS, &saved);
    const Scene before(p);
    long pages = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld", &pages) != 1)
            pages = 0;
        std::fclose(f);
    }
    // Room for the reading thread and the file, not for the canvas.
    setSoftAddressLimit(rlim_t(pages * sysconf(_SC_PAGESIZE) + (qint64(40) << 20)));
    const picker::Placed placed = picker::placeAsset(*p.main, "person", objects, "big.gif");
    setSoftAddressLimit(saved.rlim_cur);
    QCOMPARE(placed, picker::Placed::Nothing);
    QVERIFY(Scene(p) == before);
    // With memory to spare the same file is a character.
    QCOMPARE(picker::placeAsset(*p.main, "person", objects, "big.gif"), picker::Placed::Character);
}

void TestHostile::theLoaderNeverWaitsForAStuckWorker()
{
    QTemporaryDir dir;
    for (const char *name : {"a.gif", "b.gif", "stuck.gif"})
        testcommon::writeSimpleGif(dir.path(), name, QSize(8, 8), 1);
    // A file system that never answers for one file: its reader waits at the gate.
    auto gate = std::make_shared<QSemaphore>();
    auto stuck = std::make_shared<std::atomic<int>>(0);
    auto reader = [gate, stuck](const QString &path, QSize size) {
        if (path.endsWith("stuck.gif")) {
            ++*stuck;
            gate->acquire();
        }
        return picker::ThumbnailLoader::readThumbnail(path, size);
    };
    auto *loader = new picker::ThumbnailLoader(nullptr, reader);
    loader->start(dir.path(), {"stuck.gif"}, QSize(8, 8));
    QVERIFY(QTest::qWaitFor([&] { return stuck->load() == 1; }, 5000));

    // A later request is served by fresh workers.
    QList<picker::Thumbnail> got;
    connect(loader, &picker::ThumbnailLoader::delivered, [&got](const QList<picker::Thumbnail> &b) { got += b; });
    loader->start(dir.path(), {"a.gif", "b.gif"}, QSize(8, 8));
    QVERIFY(QTest::qWaitFor([loader] { return loader->finished(); }, 5000));
    QCOMPARE(got.size(), 2);
    QVERIFY(!got[0].image.isNull());

    // Its end leaves the stuck worker behind instead of waiting for it: the
    // worker is still at the gate when the loader is gone.
    delete loader;
    QCOMPARE(gate->available(), 0);
    QCOMPARE(stuck->load(), 1);
    // Once the file answers, the abandoned worker ends and delivers to no one.
    gate->release(2);
    QTest::qWait(100);
}

QTEST_MAIN(TestHostile)
#include "test_hostile.moc"
