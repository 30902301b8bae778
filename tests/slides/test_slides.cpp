// The slide subsystem on its own: slides kept exactly, thumbnails laid out
// eight to a row with every row reachable, BMP files that other programs
// read, and the save command with its confirmation and its failures.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <functional>

#ifdef Q_OS_UNIX
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <sys/resource.h>
#include <zlib.h>

#include "TestCommon.h"
#include "app/AppState.h"
#include "controls/Button.h"
#include "controls/SystemError.h"
#include "controls/PictureBox.h"
#include "controls/Twips.h"
#include "slides/SlideBuffer.h"
#include "slides/SlideFiles.h"
#include "slides/SlidePacking.h"
#include "slides/SeriesReader.h"
#include "slides/SlideStore.h"
#include "slides/StageCapture.h"
#include "slides/ThumbLayout.h"
#include "slides/frmBar.h"
#include "slides/frmBuffer.h"
#include "slides/frmLoad.h"

using namespace slides;
using testcommon::samePixels;
using testcommon::whenShown;

namespace {

// A stage-like picture: a gradient background with two squares that move with `t`.
QImage scene(int t)
{
    QImage img(SlideWidth, SlideHeight, QImage::Format_RGB32);
    for (int y = 0; y < SlideHeight; ++y) {
        auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < SlideWidth; ++x)
            row[x] = qRgb((x * 7 + y) & 255, (y * 3) & 255, (x ^ y) & 255);
    }
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 30; ++x) {
            img.setPixel((t * 5 + x) % SlideWidth, 100 + y, qRgb(200, t & 255, 30));
            img.setPixel(SlideWidth - 1 - (t * 3 + x) % SlideWidth, 250 + y % 60, qRgb(10, 250, t * 7 & 255));
        }
    return img;
}

QImage noise(quint32 variant)
{
    QImage img(SlideWidth, SlideHeight, QImage::Format_RGB32);
    QRandomGenerator rng(variant);
    for (int y = 0; y < SlideHeight; ++y) {
        auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < SlideWidth; ++x)
            row[x] = 0xff000000u | (rng.generate() & 0xffffffu);
    }
    return img;
}



// Makes the folder refuse deletions: by its permissions, or, for a superuser
// whom permissions do not stop, by the immutable attribute. False when neither works.
bool deletionBlocked(const QString &folder)
{
    QFile probe(folder + QStringLiteral("/.probe"));
    const bool created = probe.open(QIODevice::WriteOnly);
    probe.close();
    if (created)
        QFile::remove(probe.fileName());
    return !created;
}

void unlockFolder(const QString &folder)
{
    QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), folder});
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool lockFolder(const QString &folder)
{
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    if (deletionBlocked(folder))
        return true;
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder}) == 0 && deletionBlocked(folder))
        return true;
    unlockFolder(folder);
    return false;
}

struct Fixture {
    QTemporaryDir dir;
    AppState state;
    QList<controls::Message> messages;
    std::unique_ptr<frmBuffer> buffer;

    Fixture()
    {
        state.programFolder = dir.path();
        state.AnimationsFolder = dir.path() + QStringLiteral("/Animations/");
        QDir().mkpath(state.AnimationsFolder);
        state.message = [this](QWidget *, const controls::Message &m) {
            messages << m;
            return controls::MsgResult::Ok;
        };
        buffer = std::make_unique<frmBuffer>(state);
    }
    void record(int n, int from = 0)
    {
        for (int i = 0; i < n; ++i)
            QVERIFY(buffer->append(scene(from + i)));
    }
    QString file(const QString &name) const { return state.AnimationsFolder + name; }
    QStringList files() const { return QDir(state.AnimationsFolder).entryList(QDir::Files | QDir::Hidden); }
};

} // namespace

class TestSlides : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // ---- the store ----
    void everySlideReadsBackExactlyWhateverTheContent();
    void readingInAnyOrderGivesTheSameSlides();
    void aSlideOfTheWrongSizeIsRefusedAndNothingChanges();
    void aSlideThatDoesNotFitLeavesTheEarlierOnesIntact();
    void aTypicalSceneIsHeldInAFewKilobytesPerSlide();
    void aLongPanIsStillPackedAndReadsBackExactly();
    void packedBytesFromOutsideNeverReachPastTheStore();
    void packingIsUnchangedOverVariedSlides();

    // ---- names and files ----
    void slideFilesAreNumberedWithAtLeastThreeDigits();
    void aBmpFileIsUncompressed24BitBottomUp();
    void aWrittenFileReadsBackPixelEqual();
    void anIndependentReaderSeesTheSameFile();
    void filesWrittenInOrderAreTheirSlidesAcrossKeysAndJumps();
    void aFolderStandingUnderTheNameFailsAndLeavesNoTemporaryFile();
    void aFileCutShortByAFullDiskLeavesTheOldFileWhole();

    // ---- the stage drawn into a slide ----
    void captureDrawsTheStageAtScaleOneWhereverItIs();

    // ---- thumbnails ----
    void thumbnailsSitEightToARow();
    void thumbnailsOfABurstEqualThoseMadeOneByOne();
    void theCanvasGrowsSoThatTheNewestRowIsWhole();
    void theScrollBarBringsTheNewestRowIntoView();
    void onlyTheRowsInViewArePainted();

    // ---- the buffer window ----
    void theTotalIsShownWhenTheWindowOpens();
    void closingTheWindowAnyWayKeepsTheSlides();
    void clearEmptiesTheBufferButKeepsTheCanvas();

    // ---- saving ----
    void savingWritesEveryFileWithProgressAndClearsTheFlag();
    void savingAgainAsksBeforeReplacingTheOldFiles();
    void anUnrelatedFileIsDeletedWithTheOldSlides();
    void closingTheOldSlidesWindowCancelsTheWholeSave();
    void anEmptyBufferIsToldAfterTheOldSlidesCheck();
    void aSlideThatCannotBeWrittenIsReportedNotHidden();
    void aFolderThatCannotBeMadeIsReported();
    void oldSlidesThatCannotBeDeletedStopTheSave();
    void aMissingFolderIsMadeWhenSavingStarts();
    void aFailedSaveSaysWhichFolderAndWhy();
    void theStripIsWorkedFromTheKeyboard();
};

void TestSlides::everySlideReadsBackExactlyWhateverTheContent()
{
    SlideStore store;
    QList<QImage> kept;
    // Small moves, a noise frame that forces a key, back to small moves, and a pan-like shift.
    for (int i = 0; i < 40; ++i)
        kept << scene(i);
    kept << noise(1) << noise(2);
    for (int i = 0; i < 20; ++i)
        kept << scene(100 + i);
    for (int i = 0; i < 10; ++i)
        kept << scene(i).copy(i * 10, 0, SlideWidth, SlideHeight);
    // The same picture several times over: a difference of nothing.
    for (int i = 0; i < 3; ++i)
        kept << scene(7);
    kept << QImage(scene(8).convertToFormat(QImage::Format_RGB888));
    // The same pictures given in the file's own byte order are packed to the same bytes.
    SlideStore fromBgr;
    for (const QImage &img : kept) {
        QVERIFY(store.append(img));
        QVERIFY(fromBgr.append(img.convertToFormat(QImage::Format_BGR888)));
        quint8 f1 = 0, f2 = 0;
        QCOMPARE(store.packedView(store.count(), f1), fromBgr.packedView(fromBgr.count(), f2));
        QCOMPARE(f1, f2);
    }
    QCOMPARE(store.count(), kept.size());
    for (int i = 0; i < kept.size(); ++i)
        QVERIFY2(samePixels(store.slide(i + 1), kept[i]), qPrintable(QStringLiteral("slide %1 differs").arg(i + 1)));
    QVERIFY(store.slide(0).isNull());
    QVERIFY(store.slide(kept.size() + 1).isNull());
}

void TestSlides::readingInAnyOrderGivesTheSameSlides()
{
    SlideStore store;
    for (int i = 0; i < 50; ++i)
        QVERIFY(store.append(i % 17 == 0 ? noise(i) : scene(i)));
    QRandomGenerator rng(7);
    for (int k = 0; k < 100; ++k) {
        const int i = int(rng.bounded(50));
        QVERIFY(samePixels(store.slide(i + 1), i % 17 == 0 ? noise(i) : scene(i)));
    }
}

void TestSlides::aSlideOfTheWrongSizeIsRefusedAndNothingChanges()
{
    SlideStore store;
    QVERIFY(store.append(scene(0)));
    QVERIFY(!store.append(QImage(400, 350, QImage::Format_RGB32)));
    QVERIFY(!store.append(QImage()));
    QCOMPARE(store.count(), 1);
    QVERIFY(samePixels(store.slide(1), scene(0)));
}

void TestSlides::aSlideThatDoesNotFitLeavesTheEarlierOnesIntact()
{
    SlideStore store;
    for (int i = 0; i < 5; ++i)
        QVERIFY(store.append(scene(i)));
    store.setByteLimit(store.packedBytes());
    QVERIFY(!store.append(noise(3)));
    QCOMPARE(store.count(), 5);
    for (int i = 0; i < 5; ++i)
        QVERIFY(samePixels(store.slide(i + 1), scene(i)));
    store.setByteLimit(-1);
    QVERIFY(store.append(scene(5)));
    QVERIFY(samePixels(store.slide(6), scene(5)));
}

void TestSlides::aTypicalSceneIsHeldInAFewKilobytesPerSlide()
{
    SlideStore store;
    for (int i = 0; i < 200; ++i)
        QVERIFY(store.append(scene(i)));
    // Raw, 200 slides would take 80 MB.
    QVERIFY2(store.packedBytes() < 200 * 40 * 1024,
             qPrintable(QStringLiteral("%1 bytes for 200 slides").arg(store.packedBytes())));
}

void TestSlides::packingIsUnchangedOverVariedSlides()
{
    // Changes 14 to 18 bytes apart (either side of where a run is cut), far apart, in blocks and at the
    // slide's very end: every slide told against the one before is packed to the bytes always written.
    QRandomGenerator rng(28);
    QImage now = scene(0);
    SlideStore store;
    quint64 all = 0;
    for (int i = 0; i < 300; ++i) {
        const int spots = i == 0 ? 0 : 1 + int(rng.bounded(i % 3 ? 12 : 200));
        for (int k = 0, at = int(rng.bounded(SlideStore::RawBytes)); k < spots; ++k) {
            at = i % 10 == 9 ? SlideStore::RawBytes - 1 - k * 17
                             : (at + (k % 4 ? 14 + int(rng.bounded(5)) : int(rng.bounded(4000)))) % SlideStore::RawBytes;
            now.bits()[at / 3 / SlideWidth * now.bytesPerLine() + at / 3 % SlideWidth * 4 + at % 3] ^= uchar(1 + k % 255);
        }
        if (i % 37 == 1)
            QPainter(&now).fillRect(int(rng.bounded(300)), int(rng.bounded(250)), 90, 80, QColor::fromRgb(rng.generate()));
        quint8 flags = 0;
        QVERIFY(store.append(now));
        const QByteArrayView packed = store.packedView(i + 1, flags);
        all = flags & SlideStore::Key ? all : SlideStore::checksum(packed, all);
    }
    QCOMPARE(all, Q_UINT64_C(0x8b219c08daf144d5));

    // Told from the pictures as recorded, in either 32-bit form and whatever their alpha bytes hold, the
    // runs are those of the slides' bytes.
    for (int i = 0; i < 40; ++i) {
        QImage a = scene(i).convertToFormat(i % 2 ? QImage::Format_ARGB32 : QImage::Format_RGB32), b = a.copy();
        for (int k = 0, spots = 1 + int(rng.bounded(60)); k < spots; ++k) {
            const int x = int(rng.bounded(SlideWidth)), y = int(rng.bounded(SlideHeight));
            auto *px = reinterpret_cast<QRgb *>(b.scanLine(y)) + x;
            *px ^= (k % 5 == 0 ? 0xff000000u : 0u) | (1u << (8 * (k % 3)));
            if (i % 2 && k % 7 == 0)
                px[x + 1 < SlideWidth ? 1 : 0] ^= 0x7f000000u; // alpha alone, which a slide drops
        }
        QByteArray rawA(SlideStore::RawBytes, '\0'), rawB(SlideStore::RawBytes, '\0'), runs, told;
        for (int y = 0; y < SlideHeight; ++y)
            for (int x = 0; x < SlideWidth; ++x)
                for (int c = 0; c < 3; ++c) {
                    rawA[y * SlideStore::RowBytes + 3 * x + c] = char(a.pixel(x, y) >> (8 * c));
                    rawB[y * SlideStore::RowBytes + 3 * x + c] = char(b.pixel(x, y) >> (8 * c));
                }
        slides::packing::encodeDifference(rawB.constData(), SlideStore::RowBytes, rawA.constData(), runs);
        const auto px = [](const QImage &img) { return reinterpret_cast<const QRgb *>(img.constBits()); };
        QVERIFY(slides::packing::encodePictureDifference(px(b), b.bytesPerLine() / 4, px(a), a.bytesPerLine() / 4,
                                                         told, SlideStore::RawBytes));
        QCOMPARE(told, runs);
        QCOMPARE(slides::packing::encodePictureDifference(px(b), SlideWidth, px(a), SlideWidth, told, runs.size() - 1),
                 runs.isEmpty());
    }

    // Rows given after slides recorded as pictures are told against the newest picture.
    SlideStore mixed;
    QImage a = scene(3), b = a.copy(), c;
    QPainter(&b).fillRect(10, 10, 30, 30, Qt::red);
    c = b.copy();
    QPainter(&c).fillRect(200, 100, 20, 20, Qt::blue);
    const QImage rows = c.convertToFormat(QImage::Format_BGR888);
    QVERIFY(mixed.append(a) && mixed.append(b) &&
            mixed.appendRows(reinterpret_cast<const char *>(rows.constBits()), rows.bytesPerLine()));
    QVERIFY(samePixels(mixed.slide(2), b) && samePixels(mixed.slide(3), c));
}

void TestSlides::aLongPanIsStillPackedAndReadsBackExactly()
{
    // Panning changes every pixel from slide to slide: each slide is a key of its own,
    // and those keys must be packed, or a long pan would take 400 KB a slide.
    SlideStore store;
    QList<QImage> kept;
    for (int i = 0; i < 60; ++i)
        kept << scene(0).copy(i * 3, 0, SlideWidth, SlideHeight);
    for (const QImage &img : kept)
        QVERIFY(store.append(img));
    QVERIFY2(store.packedBytes() < 60 * SlideStore::RawBytes * 3 / 4,
             qPrintable(QStringLiteral("%1 bytes for 60 panned slides").arg(store.packedBytes())));
    for (int i = 59; i >= 0; i -= 7)
        QVERIFY(samePixels(store.slide(i + 1), kept[i]));
}

// Packed bytes come from journals and saved files, which may be damaged or made to harm.
void TestSlides::packedBytesFromOutsideNeverReachPastTheStore()
{
    const auto claim = [](qint64 size, QByteArray stream) {
        stream.prepend(4, '\0');
        qToBigEndian(quint32(size), stream.data());
        return stream;
    };
    // A block filled to its last byte, then an empty difference (a second record with nothing moved):
    // its entry must lie in a block that exists.
    SlideStore edge;
    QVERIFY(edge.appendPacked(SlideStore::Key | SlideStore::Compressed,
                              claim(SlideStore::RawBytes, QByteArray((8 << 20) - 4, 'x'))));
    QVERIFY(edge.appendPacked(0, {}));
    quint8 flags = 0;
    QCOMPARE(edge.packedView(2, flags).size(), 0);
    const std::vector<SlideStore::PackedShare> shares = edge.shareAll();
    QVERIFY(shares.size() == 2 && shares[1].block);

    // A key that claims a slide's size but inflates to 256 MiB is refused without being inflated.
    QByteArray bomb(1 << 20, Qt::Uninitialized);
    {
        z_stream z{};
        QCOMPARE(deflateInit(&z, 9), Z_OK);
        const QByteArray zeros(1 << 20, '\0');
        qsizetype made = 0;
        for (int chunk = 0; chunk < 256; ++chunk) {
            z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
            z.avail_in = uInt(zeros.size());
            do {
                z.next_out = reinterpret_cast<Bytef *>(bomb.data() + made);
                z.avail_out = uInt(bomb.size() - made);
                deflate(&z, chunk == 255 ? Z_FINISH : Z_NO_FLUSH);
                made = bomb.size() - z.avail_out;
            } while (z.avail_in > 0);
        }
        deflateEnd(&z);
        bomb.truncate(made);
    }
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    SlideStore bombed;
    QVERIFY(bombed.appendPacked(SlideStore::Key | SlideStore::Compressed, claim(SlideStore::RawBytes, bomb)));
    QVERIFY(bombed.slide(1).isNull());
    getrusage(RUSAGE_SELF, &after);
    QVERIFY2(after.ru_maxrss - before.ru_maxrss < 64 * 1024, qPrintable(QString::number(after.ru_maxrss)));
    // One that claims any other size is not taken at all.
    QVERIFY(!bombed.appendPacked(SlideStore::Key | SlideStore::Compressed, claim(410832, bomb)));

    // A BMP header whose rows times their length pass 64 bits is left out of a series.
    QByteArray bmp(54, '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    qToLittleEndian(quint32(54), bmp.data() + 10);
    qToLittleEndian(quint32(40), bmp.data() + 14);
    qToLittleEndian(qint32(0x7fffffff), bmp.data() + 18);
    qToLittleEndian(qint32(0x7fffffff), bmp.data() + 22);
    qToLittleEndian(quint16(0xffff), bmp.data() + 28);
    QCOMPARE(slides::addSlide(bmp, bombed), slides::Added::LeftOut);
}

void TestSlides::slideFilesAreNumberedWithAtLeastThreeDigits()
{
    QCOMPARE(slideFileName(1), QStringLiteral("001.bmp"));
    QCOMPARE(slideFileName(7), QStringLiteral("007.bmp"));
    QCOMPARE(slideFileName(99), QStringLiteral("099.bmp"));
    QCOMPARE(slideFileName(100), QStringLiteral("100.bmp"));
    QCOMPARE(slideFileName(1000), QStringLiteral("1000.bmp"));
    QCOMPARE(slideFileName(12345), QStringLiteral("12345.bmp"));
}

void TestSlides::aBmpFileIsUncompressed24BitBottomUp()
{
    QImage img(SlideWidth, SlideHeight, QImage::Format_RGB32);
    img.fill(qRgb(0, 0, 0));
    img.setPixel(0, 0, qRgb(10, 20, 30));             // top-left: the last row in the file
    img.setPixel(0, SlideHeight - 1, qRgb(40, 50, 60)); // bottom-left: the first row
    const QByteArray b = bmpBytes(img);
    QCOMPARE(b.size(), 411102);
    auto u32 = [&](int at) { return qFromLittleEndian<quint32>(b.constData() + at); };
    auto u16 = [&](int at) { return qFromLittleEndian<quint16>(b.constData() + at); };
    QCOMPARE(b.left(2), QByteArray("BM"));
    QCOMPARE(u32(2), 411102u);
    QCOMPARE(u32(10), 54u);
    QCOMPARE(u32(14), 40u);
    QCOMPARE(u32(18), 396u);
    QCOMPARE(u32(22), 346u);
    QCOMPARE(u16(26), quint16(1));
    QCOMPARE(u16(28), quint16(24));
    QCOMPARE(u32(30), 0u);
    const char *px = b.constData() + 54;
    QCOMPARE(QByteArray(px, 3), QByteArray("\x3c\x32\x28", 3));                          // 60, 50, 40 as B, G, R
    QCOMPARE(QByteArray(px + 1188 * (SlideHeight - 1), 3), QByteArray("\x1e\x14\x0a", 3)); // 30, 20, 10
}

void TestSlides::aWrittenFileReadsBackPixelEqual()
{
    QTemporaryDir dir;
    SlideStore store;
    QVERIFY(store.append(noise(9)));
    QVERIFY(store.append(noise(10)));
    // A program folder with Cyrillic letters and spaces in its name, as a Russian user's may have.
    const QString folder = dir.filePath(QStringLiteral("Мои мультики/Animations/"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeBmp(folder + QStringLiteral("001.bmp"), store.slide(1)));
    QCOMPARE(writeSlideFiles(folder, store, [](int) {}), 2);
    for (int i = 1; i <= 2; ++i) {
        const QImage back(folder + slideFileName(i), "BMP");
        QCOMPARE(back.size(), QSize(SlideWidth, SlideHeight));
        QVERIFY(samePixels(back, noise(quint32(8 + i))));
    }
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
             (QStringList{QStringLiteral("001.bmp"), QStringLiteral("002.bmp")}));
}

void TestSlides::anIndependentReaderSeesTheSameFile()
{
    const QString identify = QStandardPaths::findExecutable(QStringLiteral("identify"), {QStringLiteral("/usr/bin")});
    if (identify.isEmpty())
        QSKIP("ImageMagick's identify is not installed");
    QTemporaryDir dir;
    QImage img = scene(3);
    img.setPixel(5, 7, qRgb(1, 2, 3));
    const QString path = dir.filePath(QStringLiteral("007.bmp"));
    QVERIFY(writeBmp(path, img));
    QProcess p;
    p.start(identify, {QStringLiteral("-format"), QStringLiteral("%m %w %h %[compression] %[pixel:p{5,7}]"), path});
    QVERIFY(p.waitForFinished(30000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    QVERIFY2(out.startsWith(QStringLiteral("BMP3 396 346 None")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("srgb(1,2,3)")), qPrintable(out));
}

void TestSlides::filesWrittenInOrderAreTheirSlidesAcrossKeysAndJumps()
{
    // Files are written by applying each slide's difference to the rows of the
    // one before, bottom-up: moves, forced keys and runs crossing rows must all land.
    QTemporaryDir dir;
    SlideStore store;
    QList<QImage> kept;
    for (int i = 0; i < 70; ++i)
        kept << (i == 33 || i == 34 ? noise(quint32(i)) : scene(i));
    for (const QImage &img : kept)
        QVERIFY(store.append(img));
    QVERIFY(store.keyCount() >= 3);
    // Reading a slide out of order in between must not disturb the files' own sequence.
    QVERIFY(samePixels(store.slide(50), kept[49]));
    const QString folder = dir.path() + QLatin1Char('/');
    int reported = 0;
    QCOMPARE(writeSlideFiles(folder, store, [&](int) { ++reported; }), 70);
    QCOMPARE(reported, 70);
    for (int i = 1; i <= 70; ++i) {
        const QImage back(folder + slideFileName(i), "BMP");
        QVERIFY2(samePixels(back, kept[i - 1]), qPrintable(slideFileName(i) + QStringLiteral(" differs")));
    }
}

void TestSlides::aFolderStandingUnderTheNameFailsAndLeavesNoTemporaryFile()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("001.bmp")));
    QVERIFY(!writeBmp(dir.filePath(QStringLiteral("001.bmp")), scene(0)));
    QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QVERIFY(!writeBmp(dir.filePath(QStringLiteral("missing/001.bmp")), scene(0)));
}

void TestSlides::aFileCutShortByAFullDiskLeavesTheOldFileWhole()
{
#ifdef Q_OS_UNIX
    // A limit on file size stands in for a full disk: writes stop part way with an error.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("001.bmp"));
    const QByteArray old("the frame saved last time");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    SlideStore store;
    QVERIFY(store.append(scene(1)));
    QVERIFY(store.append(scene(2)));

    testcommon::FileSizeLimit limit(100000);
    QVERIFY(limit.ok());
    const bool one = writeBmp(path, scene(0));
    const int many = writeSlideFiles(dir.path() + QLatin1Char('/'), store, [](int) {});
    limit.lift();

    QVERIFY(!one);
    QCOMPARE(many, 0);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("001.bmp")});
#else
    QSKIP("needs a file size limit");
#endif
}

void TestSlides::captureDrawsTheStageAtScaleOneWhereverItIs()
{
    QWidget stage;
    stage.setFixedSize(SlideWidth, SlideHeight);
    QPalette pal;
    pal.setColor(QPalette::Window, Qt::white);
    stage.setPalette(pal);
    stage.setAutoFillBackground(true);
    QWidget red(&stage);
    red.setGeometry(100, 50, 20, 10);
    pal.setColor(QPalette::Window, Qt::red);
    red.setPalette(pal);
    red.setAutoFillBackground(true);
    // Mostly off the screen: a copy of screen pixels would lose the stage here.
    stage.move(-5000, -5000);
    stage.show();
    QCoreApplication::processEvents();

    const QImage shot = captureStage(&stage);
    QCOMPARE(shot.size(), QSize(SlideWidth, SlideHeight));
    QCOMPARE(shot.devicePixelRatio(), 1.0);
    QCOMPARE(shot.pixel(0, 0), qRgb(255, 255, 255));
    QCOMPARE(shot.pixel(100, 50), qRgb(255, 0, 0));
    QCOMPARE(shot.pixel(119, 59), qRgb(255, 0, 0));
    QCOMPARE(shot.pixel(120, 59), qRgb(255, 255, 255));
    QCOMPARE(shot.pixel(SlideWidth - 1, SlideHeight - 1), qRgb(255, 255, 255));
}

void TestSlides::thumbnailsSitEightToARow()
{
    using layout::thumbPosition;
    QCOMPARE(thumbPosition(1), QPoint(225, 120));
    QCOMPARE(thumbPosition(2), QPoint(1450, 120));
    QCOMPARE(thumbPosition(8), QPoint(225 + 7 * 1225, 120));
    QCOMPARE(thumbPosition(9), QPoint(225, 1165));
    QCOMPARE(thumbPosition(17), QPoint(225, 2210));
    QCOMPARE(thumbPosition(49), QPoint(225, 120 + 6 * 1045));
    // Every row fits in the window: the eighth thumbnail ends inside the canvas.
    QVERIFY(thumbPosition(8).x() + layout::ThumbWidth <= layout::CanvasWidth);
}

void TestSlides::thumbnailsOfABurstEqualThoseMadeOneByOne()
{
    // A burst leaves its thumbnails to be made after; asking for each at once makes it on the spot; undo
    // and redo bring back slides whose thumbnails are made from the kept slide.
    Fixture burst, single;
    for (int i = 0; i < 500; ++i) {
        const QImage slide = i % 50 == 7 ? noise(quint32(i)) : scene(i);
        QVERIFY(burst.buffer->append(slide));
        QVERIFY(single.buffer->append(slide));
        QVERIFY(!single.buffer->slides().thumb(i + 1).isNull());
    }
    SlideBuffer &slides = single.buffer->slides();
    QVERIFY(slides.remove({3, 250, 499}));
    slides.history().undo();
    for (int i = 1; i <= 500; ++i) {
        const QImage thumb = burst.buffer->slides().thumb(i);
        QCOMPARE(thumb.size(), QSize(75, 63));
        QVERIFY2(thumb == slides.thumb(i), qPrintable(QString::number(i)));
    }
}

void TestSlides::theCanvasGrowsSoThatTheNewestRowIsWhole()
{
    int h = layout::CanvasStartHeight;
    for (int n = 1; n <= 48; ++n)
        h = layout::canvasHeightFor(h, n);
    QCOMPARE(h, 6615);
    for (int n = 49; n <= 5000; ++n) {
        h = layout::canvasHeightFor(h, n);
        QVERIFY2(layout::thumbPosition(n).y() + 1000 <= h, qPrintable(QString::number(n)));
    }
    QCOMPARE(layout::canvasHeightFor(6615, 49), 7615);
    QCOMPARE(layout::canvasHeightFor(7615, 50), 7615);
}

void TestSlides::theScrollBarBringsTheNewestRowIntoView()
{
    Fixture f;
    f.buffer->show();
    f.record(300);
    QScrollBar *bar = f.buffer->VScroll1;
    QCOMPARE(bar->minimum(), 0);
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    // The newest thumbnail, in the viewport's own coordinates, lies wholly inside it.
    const QPoint at = layout::thumbPosition(300);
    const QRect thumb = twips::toPixels(QRectF(at.x(), at.y(), layout::ThumbWidth, layout::ThumbHeight));
    QWidget *viewport = f.buffer->Picture2->client();
    const QRect inViewport(f.buffer->Picture1->mapTo(viewport, thumb.topLeft()), thumb.size());
    QVERIFY2(viewport->rect().contains(inViewport),
             qPrintable(QStringLiteral("thumbnail at %1,%2 in a viewport of %3 x %4")
                            .arg(inViewport.x()).arg(inViewport.y()).arg(viewport->width()).arg(viewport->height())));
    // And back at the top, the first row shows again.
    bar->setValue(bar->minimum());
    QCOMPARE(f.buffer->Picture1->y(), 0);
}

void TestSlides::onlyTheRowsInViewArePainted()
{
    const auto span = layout::slidesInBand(0, 6660, 10000);
    QCOMPARE(span.first, 1);
    QCOMPARE(span.last, 7 * 8); // rows at 120 .. 6390 meet the band
    const auto deep = layout::slidesInBand(120 + 1000 * 1045, 120 + 1000 * 1045 + 6660, 10000);
    QCOMPARE(deep.first, 1000 * 8 + 1);
    QVERIFY(deep.last - deep.first < 8 * 8);
    const auto empty = layout::slidesInBand(0, 6660, 0);
    QVERIFY(empty.first > empty.last);
}

void TestSlides::theTotalIsShownWhenTheWindowOpens()
{
    Fixture f;
    f.buffer->show();
    QCOMPARE(f.buffer->Label1->text(), QStringLiteral("Всего слайдов: 0"));
    f.buffer->hide();
    f.record(12);
    f.buffer->show();
    QCOMPARE(f.buffer->Label1->text(), QStringLiteral("Всего слайдов: 12"));
    QCOMPARE(f.buffer->ImageCount(), 13);
}

void TestSlides::closingTheWindowAnyWayKeepsTheSlides()
{
    Fixture f;
    f.record(3);
    f.buffer->show();
    f.buffer->VScroll1->setValue(0);
    QTest::mouseClick(f.buffer->Command1, Qt::LeftButton);
    QVERIFY(!f.buffer->isVisible());
    f.buffer->show();
    QVERIFY(f.buffer->close());
    QVERIFY(!f.buffer->isVisible());
    f.buffer->show();
    QTest::keyClick(f.buffer.get(), Qt::Key_Escape);
    QVERIFY(!f.buffer->isVisible());
    QCOMPARE(f.buffer->slideCount(), 3);
    QVERIFY(samePixels(f.buffer->slide(2), scene(1)));
}

void TestSlides::clearEmptiesTheBufferButKeepsTheCanvas()
{
    Fixture f;
    f.record(60);
    const int height = f.buffer->canvasHeight();
    QVERIFY(height > layout::CanvasStartHeight);
    f.buffer->clear();
    QCOMPARE(f.buffer->ImageCount(), 1);
    QVERIFY(f.buffer->slide(1).isNull());
    QCOMPARE(f.buffer->canvasHeight(), height);
    QVERIFY(f.buffer->append(scene(5)));
    QVERIFY(samePixels(f.buffer->slide(1), scene(5)));
}

void TestSlides::savingWritesEveryFileWithProgressAndClearsTheFlag()
{
    Fixture f;
    f.record(12);
    f.state.SlidesUnsaved = true;
    controls::ProgressBar *bar = f.buffer->Bar()->ProgressBar1;
    QList<int> values;
    connect(bar, &controls::ProgressBar::valueChanged, [&](int v) { values << v; });
    int max = 0;
    connect(bar, &controls::ProgressBar::valueChanged, [&] { max = bar->maximum(); });
    QTest::mouseClick(f.buffer->Command2, Qt::LeftButton);

    QStringList expected;
    for (int i = 1; i <= 12; ++i)
        expected << slideFileName(i);
    QCOMPARE(f.files(), expected);
    for (int i = 1; i <= 12; ++i)
        QVERIFY(samePixels(QImage(f.file(slideFileName(i))), scene(i - 1)));
    QCOMPARE(max, 13);
    QVERIFY(values.size() >= 2);
    QCOMPARE(values[values.size() - 2], 12);
    QCOMPARE(values.last(), 0);
    QVERIFY(!f.buffer->Bar()->isVisible());
    QCOMPARE(f.messages.size(), 1);
    // The second line says where the files went.
    QCOMPARE(f.messages[0].text, QStringLiteral("Все слайды сохранены\nПапка: %1")
                                     .arg(QDir::toNativeSeparators(QDir::cleanPath(f.state.AnimationsFolder))));
    QCOMPARE(f.messages[0].icon, controls::MsgIcon::Information);
    QVERIFY(f.messages[0].title.isEmpty());
    QVERIFY(!f.state.SlidesUnsaved);
}

void TestSlides::savingAgainAsksBeforeReplacingTheOldFiles()
{
    // The old files go to the trash (the test's own, under test mode), where an unlucky "Ok" can be undone.
    const QString trashFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    QDir(trashFolder).removeRecursively();
    const QDir trash(trashFolder + "/files");
    Fixture f;
    f.record(12);
    f.buffer->Command2_Click();
    f.buffer->clear();
    f.record(3, 50);
    bool asked = false;
    whenShown<frmLoad>([&](frmLoad *d) {
        asked = true;
        QCOMPARE(d->windowTitle(), QStringLiteral("  Vellumo"));
        QCOMPARE(d->Command1->text(), QStringLiteral("&Ok"));
        QTest::mouseClick(d->Command1, Qt::LeftButton);
    });
    f.buffer->Command2_Click();
    QVERIFY(asked);
    // The twelve old frames are gone: nothing of the old take mixes into the new one.
    QCOMPARE(f.files(), (QStringList{"001.bmp", "002.bmp", "003.bmp"}));
    QVERIFY(samePixels(QImage(f.file("003.bmp")), scene(52)));
    QVERIFY(f.messages.last().text.startsWith(QStringLiteral("Все слайды сохранены\n")));
    QCOMPARE(trash.entryList(QDir::Files).size(), 12);
    QVERIFY(samePixels(QImage(trash.filePath(QStringLiteral("012.bmp"))), scene(11)));
}

void TestSlides::anUnrelatedFileIsDeletedWithTheOldSlides()
{
    Fixture f;
    f.record(2);
    QFile note(f.file("notes.txt"));
    QVERIFY(note.open(QIODevice::WriteOnly));
    note.close();
    QVERIFY(QDir(f.state.AnimationsFolder).mkdir("keep"));
    whenShown<frmLoad>([](frmLoad *d) { d->Command1->click(); });
    f.buffer->Command2_Click();
    QCOMPARE(f.files(), (QStringList{"001.bmp", "002.bmp"}));
    QVERIFY(QDir(f.file("keep")).exists());
}

void TestSlides::closingTheOldSlidesWindowCancelsTheWholeSave()
{
    for (int way = 0; way < 2; ++way) {
        Fixture f;
        f.record(4);
        f.state.SlidesUnsaved = true;
        QFile old(f.file("001.bmp"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old frame");
        old.close();
        whenShown<frmLoad>([way](frmLoad *d) {
            if (way == 0)
                d->close();
            else
                QTest::keyClick(d, Qt::Key_Escape);
        });
        f.buffer->Command2_Click();
        QCOMPARE(f.files(), QStringList{"001.bmp"});
        QFile check(f.file("001.bmp"));
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray("old frame"));
        QVERIFY(f.messages.isEmpty());
        QVERIFY(f.state.SlidesUnsaved);
    }
}

void TestSlides::anEmptyBufferIsToldAfterTheOldSlidesCheck()
{
    Fixture f;
    f.buffer->Command2_Click();
    QCOMPARE(f.messages.size(), 1);
    QCOMPARE(f.messages[0].text, QStringLiteral("Нет слайдов для сохранения"));
    QVERIFY(f.messages[0].title.isEmpty());
    QCOMPARE(f.messages[0].buttons, controls::MsgButtons::Ok);

    QFile old(f.file("005.bmp"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.close();
    f.state.SlidesUnsaved = true;
    bool asked = false;
    whenShown<frmLoad>([&](frmLoad *d) {
        asked = true;
        d->Command1->click();
    });
    f.buffer->Command2_Click();
    QVERIFY(asked);
    QVERIFY(f.files().isEmpty());
    QCOMPARE(f.messages.size(), 2);
    QCOMPARE(f.messages[1].text, QStringLiteral("Нет слайдов для сохранения"));
    QVERIFY(f.state.SlidesUnsaved);
}

void TestSlides::aSlideThatCannotBeWrittenIsReportedNotHidden()
{
    Fixture f;
    f.record(12);
    f.state.SlidesUnsaved = true;
    QVERIFY(QDir(f.state.AnimationsFolder).mkdir("001.bmp"));
    f.buffer->Command2_Click();
    QCOMPARE(f.messages.size(), 1);
    QCOMPARE(f.messages[0].text, QStringLiteral("Не удалось сохранить все слайды: сохранено 11 из 12.\n%1: Это каталог.")
                                     .arg(QDir(f.state.AnimationsFolder).absolutePath()));
    QCOMPARE(f.messages[0].icon, controls::MsgIcon::Error);
    QVERIFY(f.messages[0].title.isEmpty());
    QVERIFY(f.state.SlidesUnsaved);
    QCOMPARE(f.files().size(), 11); // 002 .. 012, no temporary leftovers
    QVERIFY(!f.files().contains("001.bmp"));
}

void TestSlides::aFolderThatCannotBeMadeIsReported()
{
    Fixture f;
    f.record(3);
    f.state.SlidesUnsaved = true;
    QFile blocker(f.dir.filePath("Blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    f.state.AnimationsFolder = f.dir.filePath("Blocked") + "/";
    f.buffer->Command2_Click();
    QCOMPARE(f.messages.size(), 1);
    QCOMPARE(f.messages[0].text.section('\n', 0, 0),
             QStringLiteral("Не удалось сохранить все слайды: сохранено 0 из 3."));
    QCOMPARE(f.messages[0].text.section('\n', 1), f.dir.filePath("Blocked") + QStringLiteral(": Это не каталог."));
    QCOMPARE(f.messages[0].icon, controls::MsgIcon::Error);
    QVERIFY(f.state.SlidesUnsaved);
}

void TestSlides::oldSlidesThatCannotBeDeletedStopTheSave()
{
    Fixture f;
    f.record(2);
    QFile old(f.file("001.bmp"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    const QString folder = QDir(f.state.AnimationsFolder).absolutePath();
    if (!lockFolder(folder))
        QSKIP("no way to stop this user from deleting files here");
    whenShown<frmLoad>([](frmLoad *d) { d->Command1->click(); });
    f.buffer->Command2_Click();
    unlockFolder(folder);
    QCOMPARE(f.messages.size(), 1);
    QCOMPARE(f.messages[0].text, QStringLiteral("Не удалось удалить старые слайды."));
    QCOMPARE(f.messages[0].icon, controls::MsgIcon::Error);
    QVERIFY(f.messages[0].title.isEmpty());
    QCOMPARE(f.files(), QStringList{"001.bmp"});
}

void TestSlides::aMissingFolderIsMadeWhenSavingStarts()
{
    Fixture f;
    f.record(2);
    QVERIFY(QDir(f.state.AnimationsFolder).removeRecursively());
    f.buffer->Command2_Click();
    QCOMPARE(f.files(), (QStringList{"001.bmp", "002.bmp"}));
    QVERIFY(f.messages.last().text.startsWith(QStringLiteral("Все слайды сохранены\n")));
}

// The first line says how many; the second names the folder and the system's
// reason, so that a child or a teacher knows what to put right.
void TestSlides::aFailedSaveSaysWhichFolderAndWhy()
{
    const auto secondLine = [](const QString &text) { return text.section('\n', 1); };
    // A disk that fills up: a small file system of its own, where this user may make one.
    {
        Fixture f;
        f.record(3);
        const QString mount = f.dir.filePath("small");
        QDir().mkpath(mount);
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=600k", "tmpfs", mount}) == 0) {
            f.state.AnimationsFolder = mount + "/Animations/";
            f.buffer->Command2_Click();
            QProcess::execute("umount", {mount});
            QCOMPARE(f.messages.size(), 1);
            QCOMPARE(f.messages[0].text.section('\n', 0, 0),
                     QStringLiteral("Не удалось сохранить все слайды: сохранено 1 из 3."));
            QCOMPARE(secondLine(f.messages[0].text), mount + "/Animations: Нет места на устройстве.");
        } else {
            qInfo("no small file system could be mounted: the full disk is not tried");
        }
    }
    // A folder this user may not write into. Root may write anywhere, so a
    // child process gives up root first and reports what the system said.
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("Animations/");
        QVERIFY(QDir().mkpath(folder));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
        SlideStore store;
        QVERIFY(store.append(scene(1)));
        const pid_t child = fork();
        if (child == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(100);
            int error = 0;
            const int written = writeSlideFiles(folder, store, [](int) {}, &error);
            _exit(written == 0 ? error : 101);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), EACCES);
        QCOMPARE(controls::systemReason(WEXITSTATUS(status)), QStringLiteral("Отказано в доступе"));
    }
}

void TestSlides::theStripIsWorkedFromTheKeyboard()
{
    Fixture f;
    frmBuffer &b = *f.buffer;
    f.record(20); // rows of 8, 8 and 4
    b.show();
    QVERIFY(QTest::qWaitForWindowExposed(&b));
    // Each key in turn, and what is chosen then.
    const std::vector<std::pair<QKeyCombination, QList<int>>> steps{
        {Qt::Key_Right, {1}}, {Qt::Key_Left, {1}}, {Qt::Key_Down, {9}}, {Qt::Key_Up, {1}}, {Qt::Key_Up, {1}},
        {Qt::Key_End, {20}}, {Qt::Key_Up, {12}}, {Qt::Key_Right, {13}}, {Qt::Key_Down, {20}}, {Qt::Key_Down, {20}},
        {Qt::SHIFT | Qt::Key_Left, {19, 20}}, {Qt::SHIFT | Qt::Key_Up, {11, 12, 13, 14, 15, 16, 17, 18, 19, 20}},
        {Qt::SHIFT | Qt::Key_Right, {12, 13, 14, 15, 16, 17, 18, 19, 20}}, {Qt::Key_Home, {1}}};
    for (const auto &[key, chosen] : steps) {
        QTest::keyClick(b.Picture2, key.key(), key.keyboardModifiers());
        QCOMPARE(QList<int>(b.chosen().begin(), b.chosen().end()), chosen);
    }

    // The menu key and Shift+F10 open the menu at the chosen slide; with no stage to take, nothing is replaced.
    b.choose(3, Qt::NoModifier);
    QMenu *menu = b.contextMenu();
    const auto action = [menu](const char *name) { return menu->findChild<QAction *>(QLatin1String(name)); };
    for (const QKeyCombination k : {QKeyCombination(Qt::Key_Menu), Qt::SHIFT | Qt::Key_F10}) {
        QTest::keyClick(b.Picture2, k.key(), k.keyboardModifiers());
        QTRY_VERIFY(menu->isVisible());
        QVERIFY((menu->pos() - b.Picture1->mapToGlobal(layout::thumbRect(3).center())).manhattanLength() < 60);
        QVERIFY(!action("RecordAtEnd")->isEnabled() && !action("Replace")->isEnabled());
        menu->hide();
    }
    action("RecordAfter")->trigger();
    // The onion skin shows the slide that recording goes after.
    QVERIFY(samePixels(b.lastSlide(), scene(2)));
    b.captureStage = [] { return scene(700); };
    QTest::keyClick(b.Picture2, Qt::Key_Menu);
    QVERIFY(action("RecordAtEnd")->isEnabled() && action("Replace")->isEnabled());
    action("Replace")->trigger();
    QVERIFY(f.state.SlidesUnsaved && samePixels(b.slide(3), scene(700)) && samePixels(b.lastSlide(), scene(700)));
}

QTEST_MAIN(TestSlides)
#include "test_slides.moc"
