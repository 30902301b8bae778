// The GIF writer's LZW coding: frames whose pixels partly show already read
// back exactly, and gifsicle's optimiser finds little left to take off.

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

#include "ExportTestKit.h"
#include "GifFrames.h"
#include "TestCommon.h"
#include "export/FrameSource.h"
#include "export/GifLzw.h"

using namespace exporting;

namespace {

// A palette whose colours tell their index back: the frames read back
// through giflib compare as indexes.
QRgb colourOf(int index) { return qRgb(index, 255 - index, (index * 37) & 255); }


} // namespace

class TestGifCoding : public QObject {
    Q_OBJECT
private slots:
    void framesThatPartlyShowReadBackExactly_data();
    void framesThatPartlyShowReadBackExactly();
    void gifsicleFindsLittleToTakeOff();
    void recordsComeBackInOrder();
};

void TestGifCoding::framesThatPartlyShowReadBackExactly_data()
{
    QTest::addColumn<int>("colours");   // indexes drawn from 0 .. colours - 1
    QTest::addColumn<int>("showing");   // per cent of the second frame's pixels already on screen
    QTest::addColumn<int>("runLength"); // how long runs of one index are
    QTest::newRow("nothing shows") << 200 << 0 << 1;
    QTest::newRow("everything shows") << 6 << 100 << 30;
    QTest::newRow("flat runs, most show") << 6 << 90 << 40;
    QTest::newRow("noise, half shows, full tables") << 255 << 50 << 1;
    QTest::newRow("short runs, a few show") << 40 << 20 << 3;
    QTest::newRow("two colours, most show") << 2 << 95 << 7;
}

void TestGifCoding::framesThatPartlyShowReadBackExactly()
{
    QFETCH(int, colours);
    QFETCH(int, showing);
    QFETCH(int, runLength);
    constexpr int W = 120, H = 90, Transparent = 255;
    std::mt19937 random(uint32_t(colours * 1000 + showing));
    const auto runs = [&](size_t n) {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i)
            v[i] = i % size_t(runLength) ? v[i - 1] : uint8_t(random() % uint32_t(colours));
        return v;
    };
    QByteArray file("GIF89a");
    const auto put16 = [&file](int v) { file.append(char(v & 0xff)).append(char(v >> 8)); };
    put16(W);
    put16(H);
    file.append(char(0xf7)).append(char(0)).append(char(0));
    for (int i = 0; i < 256; ++i)
        file.append(char(qRed(colourOf(i)))).append(char(qGreen(colourOf(i)))).append(char(qBlue(colourOf(i))));

    giflzw::FrameJob first;
    first.rect = QRect(0, 0, W, H);
    first.indexes = runs(size_t(W) * H);
    std::vector<uint8_t> canvas = first.indexes;
    // The second frame covers part of the first; a pixel that shows already
    // holds the index under it.
    giflzw::FrameJob second;
    second.rect = QRect(13, 7, 91, 70);
    second.transparent = Transparent;
    second.indexes = runs(size_t(second.rect.width()) * second.rect.height());
    second.showsAlready.resize(second.indexes.size());
    for (int y = 0, at = 0; y < second.rect.height(); ++y)
        for (int x = 0; x < second.rect.width(); ++x, ++at) {
            uint8_t &held = canvas[size_t(second.rect.top() + y) * W + second.rect.left() + x];
            if (int(random() % 100) < showing)
                second.indexes[size_t(at)] = held;
            second.showsAlready[size_t(at)] = second.indexes[size_t(at)] == held;
            held = second.indexes[size_t(at)];
        }
    for (const giflzw::FrameJob *job : {&first, &second}) {
        const std::vector<uint8_t> record = giflzw::frameRecord(*job);
        file.append(reinterpret_cast<const char *>(record.data()), qsizetype(record.size()));
    }
    file.append(char(0x3b));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("coded.gif"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    out.close();
    int mismatches = -1;
    const testcommon::GifInfo info = testcommon::readGifFrames(path, [&](int i, const QImage &frame, int) {
        if (i != 2)
            return;
        mismatches = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                mismatches += (frame.pixel(x, y) | 0xff000000u) != colourOf(canvas[size_t(y) * W + x]);
    });
    QVERIFY2(info.error.isEmpty(), qPrintable(info.error));
    QCOMPARE(info.frames, 2);
    QCOMPARE(mismatches, 0);
}

void TestGifCoding::gifsicleFindsLittleToTakeOff()
{
    if (QStandardPaths::findExecutable(QStringLiteral("gifsicle")).isEmpty())
        QSKIP("gifsicle is not installed");
    slides::SlideStore store;
    for (int i = 1; i <= 60; ++i)
        store.append(testcommon::flatSlide(i));
    QTemporaryDir dir;
    const QString ours = dir.filePath(QStringLiteral("ours.gif")), theirs = dir.filePath(QStringLiteral("O3.gif"));
    StoreFrames frames(store);
    kit::CancelAt never(-1);
    QCOMPARE(runExport(frames, Format::Gif, 12, ours, never).status, Outcome::Written);
    QCOMPARE(QProcess::execute(QStringLiteral("gifsicle"), {QStringLiteral("-O3"), ours, QStringLiteral("-o"), theirs}), 0);
    const double shrink = 1 - double(QFileInfo(theirs).size()) / double(QFileInfo(ours).size());
    QVERIFY2(shrink <= 0.02, qPrintable(QStringLiteral("gifsicle -O3 takes off %1 %").arg(shrink * 100, 0, 'f', 1)));
}

// Records come back in the order the frames were given, whether the worker
// or the caller, waiting for the oldest, coded them.
void TestGifCoding::recordsComeBackInOrder()
{
    std::mt19937 random(7);
    std::vector<giflzw::FrameJob> jobs(40);
    for (size_t k = 0; k < jobs.size(); ++k) {
        jobs[k].rect = QRect(0, 0, 60 + int(k % 7) * 40, 50);
        jobs[k].indexes.resize(size_t(jobs[k].rect.width()) * 50);
        for (uint8_t &v : jobs[k].indexes)
            v = uint8_t(random() % (k % 3 ? 200 : 4));
    }
    giflzw::Coders coders(1);
    for (const giflzw::FrameJob &job : jobs)
        coders.submit(job);
    std::vector<uint8_t> record;
    bool failed = true;
    for (size_t k = 0; k < jobs.size(); ++k) {
        QVERIFY(coders.take(record, true, failed));
        QVERIFY(!failed);
        QVERIFY2(record == giflzw::frameRecord(jobs[k]), qPrintable(QStringLiteral("frame %1").arg(k + 1)));
    }
    QVERIFY(!coders.take(record, true, failed));
}

QTEST_MAIN(TestGifCoding)
#include "test_gif_coding.moc"
