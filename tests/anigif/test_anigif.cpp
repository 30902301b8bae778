#include <QImageReader>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "TestCommon.h"
#include "anigif/AniGif.h"
#include "anigif/GifDecoder.h"
#include "anigif/GifWriter.h"
#include "controls/Twips.h"

using namespace anigif;

namespace {

const QRgb Red = qRgb(255, 0, 0), Green = qRgb(0, 255, 0), Blue = qRgb(0, 0, 255),
           Yellow = qRgb(255, 255, 0), Clear = 0;

GifFrame frame(const QImage &image, QPoint offset = {}, Disposal disposal = Disposal::None, int delayCs = 10)
{
    GifFrame f;
    f.image = image;
    f.offset = offset;
    f.disposal = disposal;
    f.delayCs = delayCs;
    return f;
}

QImage fill(QSize size, QRgb colour) { return testcommon::solid(size, QColor::fromRgba(colour)); }

// Left half one colour, right half another.
QImage halves(QSize size, QRgb left, QRgb right)
{
    QImage image = fill(size, left);
    for (int y = 0; y < size.height(); ++y)
        for (int x = size.width() / 2; x < size.width(); ++x)
            image.setPixel(x, y, right);
    return image;
}

GifDocument document(QSize screen, const QList<GifFrame> &frames)
{
    GifDocument doc;
    doc.screen = screen;
    doc.frames = frames;
    return doc;
}

// Every pixel of a composed frame: `inside` within rect, `outside` elsewhere.
bool frameIs(const QImage &image, const QRect &rect, QRgb inside, QRgb outside)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != (rect.contains(x, y) ? inside : outside))
                return qWarning("pixel %d,%d is %08x", x, y, image.pixel(x, y)), false;
    return true;
}

} // namespace

class TestAniGif : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;

    QString write(const GifDocument &doc)
    {
        const QString path = m_dir.filePath(QStringLiteral("g%1.gif").arg(m_files++));
        return writeGif(path, doc).isEmpty() ? path : QString();
    }

private slots:
    void writerOutputReadsInQt()
    {
        QImageReader reader(testcommon::writeSimpleGif(m_dir.path(), "simple.gif", QSize(8, 6), 3));
        QCOMPARE(reader.imageCount(), 3);
        QCOMPARE(reader.loopCount(), -1); // looping forever
        for (int i = 0; i < 3; ++i)
            QCOMPARE(reader.read().pixel(3, 3), testcommon::frameColour(i).rgb());

        GifDocument once = document({4, 4}, {frame(fill({4, 4}, Red)), frame(fill({4, 4}, Blue))});
        once.loopCount = -1;
        QCOMPARE(QImageReader(write(once)).loopCount(), 0);

        // Antialiased drawings have too many colours and must be quantized.
        QImage gradient(64, 64, QImage::Format_ARGB32);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                gradient.setPixel(x, y, qRgb(x * 4, y * 4, (x + y) * 2));
        gradient.setPixel(0, 0, Clear);
        DecodedGif decoded;
        QVERIFY(decodeGif(encodeGif(document({64, 64}, {frame(gradient)})), &decoded));
        const QImage back = decoded.frames[0];
        QCOMPARE(back.pixel(0, 0), Clear);
        int worst = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = (y == 0); x < 64; ++x) {
                const QRgb a = gradient.pixel(x, y), b = back.pixel(x, y);
                QCOMPARE(qAlpha(b), 255);
                worst = std::max({worst, qAbs(qRed(a) - qRed(b)), qAbs(qGreen(a) - qGreen(b)),
                                  qAbs(qBlue(a) - qBlue(b))});
            }
        QVERIFY2(worst <= 24, qPrintable(QString::number(worst)));
    }

    void keepDisposalAndTransparencyShowPreviousContent()
    {
        AniGif gif;
        QVERIFY(gif.LoadFile(write(document({10, 10}, {frame(fill({10, 10}, Red), {}, Disposal(0)),
                                                       frame(halves({4, 4}, Blue, Clear), {2, 2}),
                                                       frame(fill({2, 2}, Green), {8, 8})}))));
        QCOMPARE(gif.FrameCount(), 3);
        QVERIFY(frameIs(gif.frameImage(0), {}, 0, Red));
        QVERIFY(frameIs(gif.frameImage(1), {2, 2, 2, 4}, Blue, Red));
        const QImage last = gif.frameImage(2);
        QCOMPARE(last.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(last.pixel(3, 3), Blue);
        QCOMPARE(last.pixel(9, 9), Green);
    }

    void backgroundDisposalLeavesNoTrails()
    {
        const QRgb colours[] = {Red, Green, Blue};
        GifDocument doc = document({60, 60}, {});
        for (int i = 0; i < 4; ++i) // the fourth frame laps back over the first spot
            doc.frames.append(frame(fill({20, 20}, colours[i % 3]), {20 * (i % 3), 20 * (i % 3)}, Disposal::Background));
        AniGif gif;
        QVERIFY(gif.LoadFile(write(doc)));
        QCOMPARE(gif.FrameCount(), 4);
        for (int i = 0; i < 4; ++i)
            QVERIFY2(frameIs(gif.frameImage(i), {20 * (i % 3), 20 * (i % 3), 20, 20}, colours[i % 3], Clear),
                     qPrintable(QString::number(i)));
    }

    void previousDisposalRestoresCanvas()
    {
        // On the first frame "previous" is the empty canvas: transparent, not black.
        AniGif gif;
        QVERIFY(gif.LoadFile(write(document({10, 10}, {frame(fill({10, 10}, Red), {}, Disposal::Previous),
                                                       frame(fill({2, 2}, Blue), {4, 4})}))));
        QVERIFY(frameIs(gif.frameImage(0), {}, 0, Red));
        QVERIFY(frameIs(gif.frameImage(1), {4, 4, 2, 2}, Blue, Clear));

        // Mid-sequence, the spot gets back everything earlier frames drew there.
        QVERIFY(gif.LoadFile(write(document({20, 20}, {frame(fill({20, 20}, Green)),
                                                       frame(fill({5, 5}, Yellow)),
                                                       frame(fill({10, 10}, Red), {}, Disposal::Previous),
                                                       frame(fill({5, 5}, Blue), {15, 15})}))));
        QVERIFY(frameIs(gif.frameImage(2), {0, 0, 10, 10}, Red, Green));
        const QImage after = gif.frameImage(3);
        QCOMPARE(after.pixel(2, 2), Yellow);
        QCOMPARE(after.pixel(7, 7), Green);
        QCOMPARE(after.pixel(17, 17), Blue);
    }

    void localColourTables()
    {
        GifFrame own = frame(halves({6, 6}, Red, Yellow));
        own.localPalette = {Red, Yellow};
        GifFrame ownWithHoles = frame(halves({6, 6}, Clear, Red));
        ownWithHoles.localPalette = {Red};
        GifDocument doc = document({6, 6}, {own, frame(fill({3, 3}, Green)), ownWithHoles});
        doc.globalPalette = {Blue, Green};
        AniGif gif;
        QVERIFY(gif.LoadFile(write(doc)));
        QVERIFY(frameIs(gif.frameImage(0), {3, 0, 3, 6}, Yellow, Red));
        QCOMPARE(gif.frameImage(1).pixel(1, 1), Green);
        QCOMPARE(gif.frameImage(1).pixel(4, 1), Yellow);
        QCOMPARE(gif.frameImage(2).pixel(1, 1), Green); // transparent over the earlier frame
        QCOMPARE(gif.frameImage(2).pixel(1, 4), Red);
    }

    void interlacedFrames()
    {
        // 13 rows reach every interlace pass with a ragged last group.
        QImage rows(5, 13, QImage::Format_ARGB32);
        for (int y = 0; y < rows.height(); ++y)
            for (int x = 0; x < rows.width(); ++x)
                rows.setPixel(x, y, qRgb(y * 19, 255 - y * 19, y * 7));
        GifFrame whole = frame(rows), part = frame(rows.copy(0, 0, 5, 6), {3, 10});
        whole.interlaced = part.interlaced = true;
        const QString path = write(document({8, 16}, {whole, part}));
        AniGif gif;
        QVERIFY(gif.LoadFile(path));
        for (int y = 0; y < 13; ++y)
            QCOMPARE(gif.frameImage(0).pixel(2, y), rows.pixel(2, y));
        for (int y = 0; y < 6; ++y)
            QCOMPARE(gif.frameImage(1).pixel(4, 10 + y), rows.pixel(2, y));
        // Qt's reader must agree, so writer and reader cannot share one
        // mistake about row order.
        const QImage qt = QImageReader(path).read();
        for (int y = 0; y < 13; ++y)
            QCOMPARE(qt.pixel(2, y), rows.pixel(2, y));
    }

    void oneAndManyFrames()
    {
        AniGif gif;
        QSignalSpy changed(&gif, &AniGif::FrameChanged);
        QVERIFY(gif.LoadFile(testcommon::writeSimpleGif(m_dir.path(), "one.gif", {4, 4}, 1, 2)));
        QCOMPARE(gif.FrameCount(), 1);
        gif.setPlaying(true);
        QTest::qWait(250);
        QCOMPARE(gif.CurrentFrame(), 0);
        QCOMPARE(changed.count(), 0);

        gif.setPlaying(false);
        QVERIFY(gif.LoadFile(testcommon::writeSimpleGif(m_dir.path(), "many.gif", {4, 4}, 40)));
        QCOMPARE(gif.FrameCount(), 40);
        QCOMPARE(gif.frameImage(39).pixel(1, 1), testcommon::frameColour(39).rgb());
    }

    void steppingEmitsFrameChanged()
    {
        AniGif gif;
        QVERIFY(gif.LoadFile(testcommon::writeSimpleGif(m_dir.path(), "step.gif", {6, 6}, 5)));
        QSignalSpy changed(&gif, &AniGif::FrameChanged);
        gif.setCurrentFrame(3);
        QCOMPARE(gif.CurrentFrame(), 3);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.takeFirst().at(0).toInt(), 0); // no index property yet
        QCOMPARE(gif.grab().toImage().pixel(2, 2), testcommon::frameColour(3).rgb());

        gif.setProperty("index", 7);
        gif.setCurrentFrame(4);
        QCOMPARE(changed.takeFirst().at(0).toInt(), 7);
        for (int ignored : {4, -1, 5, 99})
            gif.setCurrentFrame(ignored);
        QCOMPARE(gif.CurrentFrame(), 4);
        QCOMPARE(changed.count(), 0);
    }

    void playingFollowsFrameDelays()
    {
        AniGif gif;
        QVERIFY(gif.LoadFile(write(document({4, 4}, {frame(fill({4, 4}, Red), {}, Disposal::None, 2),
                                                     frame(fill({4, 4}, Green), {}, Disposal::None, 300),
                                                     frame(fill({4, 4}, Blue), {}, Disposal::None, 0),
                                                     frame(fill({4, 4}, Yellow), {}, Disposal::None, 1)}))));
        QVERIFY(!gif.Playing()); // loading alone does not start playback
        QCOMPARE(gif.frameDelayMs(0), 20);
        QCOMPARE(gif.frameDelayMs(1), 3000);
        QCOMPARE(gif.frameDelayMs(2), 100); // 0 and 1 hundredth play as browsers do
        QCOMPARE(gif.frameDelayMs(3), 100);

        QList<int> seen;
        connect(&gif, &AniGif::FrameChanged, this, [&] { seen.append(gif.CurrentFrame()); });
        gif.setPlaying(true);
        QTRY_COMPARE_WITH_TIMEOUT(gif.CurrentFrame(), 1, 2000);
        QTest::qWait(300); // the long frame holds
        QCOMPARE(gif.CurrentFrame(), 1);

        // Jumping while playing goes on from there and wraps at the end.
        gif.setCurrentFrame(2);
        QTRY_COMPARE_WITH_TIMEOUT(gif.CurrentFrame(), 1, 3000);
        QCOMPARE(seen, (QList<int>{1, 2, 3, 0, 1}));

        gif.setPlaying(false);
        gif.setCurrentFrame(3);
        const qsizetype count = seen.size();
        QTest::qWait(300);
        QCOMPARE(gif.CurrentFrame(), 3);
        QCOMPARE(seen.size(), count);

        // Playing set before a load runs the new GIF.
        gif.setPlaying(true);
        QVERIFY(gif.LoadFile(testcommon::writeSimpleGif(m_dir.path(), "fast.gif", {4, 4}, 3, 2)));
        QCOMPARE(gif.CurrentFrame(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= count + 4, 3000);
    }

    void sizingAndDrawing()
    {
        const QString path = write(document({10, 10}, {frame(halves({10, 10}, Red, Clear))}));
        QWidget parent;
        parent.setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, QColor::fromRgb(Green));
        parent.setPalette(palette);
        parent.resize(100, 100);

        AniGif gif(&parent);
        twips::setGeometry(&gif, 157, 300, 600, 600);
        QVERIFY(gif.LoadFile(path));
        QCOMPARE(gif.size(), QSize(10, 10));
        QCOMPARE(twips::width(&gif), 150.0);
        QCOMPARE(twips::left(&gif), 157.0); // sizing keeps the exact twips position
        // The GIF's transparent part shows the parent.
        QImage shot = parent.grab().toImage();
        QCOMPARE(shot.pixel(gif.x() + 2, gif.y() + 5), Red);
        QCOMPARE(shot.pixel(gif.x() + 7, gif.y() + 5), Green);

        AniGif fixed(&parent);
        fixed.setAutoSize(false);
        fixed.setGeometry(40, 40, 40, 40);
        fixed.setSizeMode(2);
        QVERIFY(fixed.LoadFile(path));
        QCOMPARE(fixed.size(), QSize(40, 40));
        shot = parent.grab().toImage();
        QCOMPARE(shot.pixel(55, 70), Red);
        QCOMPARE(shot.pixel(70, 70), Green);
        for (int mode : {0, 1}) {
            fixed.setSizeMode(mode);
            shot = parent.grab().toImage();
            QCOMPARE(shot.pixel(42, 42), Red);
            QCOMPARE(shot.pixel(55, 70), Green);
        }
    }

    void brokenInputLeavesControlEmpty()
    {
        const QByteArray good = encodeGif(document({12, 12}, {frame(fill({12, 12}, Red)),
                                                              frame(halves({6, 6}, Blue, Green), {3, 3}),
                                                              frame(fill({12, 12}, Yellow))}));
        DecodedGif full;
        QVERIFY(decodeGif(good, &full));
        QCOMPARE(full.frames.size(), 3);

        QByteArray zeroScreen = good, hugeScreen = good;
        zeroScreen[6] = zeroScreen[7] = 0;
        hugeScreen[7] = char(0x4e); // over 19968 pixels wide
        const QStringList bad = {
            testcommon::writeBytes(m_dir.path(), "zero.gif", QByteArray()),
            testcommon::writeBytes(m_dir.path(), "text.gif", "This is not a picture.\n"),
            testcommon::writeBytes(m_dir.path(), "header.gif", "GIF89a"),
            testcommon::writeBytes(m_dir.path(), "zeroscreen.gif", zeroScreen),
            testcommon::writeBytes(m_dir.path(), "hugescreen.gif", hugeScreen),
            m_dir.filePath("missing.gif"),
        };
        const QString goodPath = testcommon::writeBytes(m_dir.path(), "good.gif", good);
        AniGif gif;
        QSignalSpy changed(&gif, &AniGif::FrameChanged);
        gif.setPlaying(true);
        for (const QString &path : bad) {
            QVERIFY(gif.LoadFile(goodPath));
            QVERIFY2(!gif.LoadFile(path), qPrintable(path));
            QCOMPARE(gif.FrameCount(), 0);
            QVERIFY(gif.gifSize().isEmpty());
            gif.setCurrentFrame(1);
            gif.grab(); // painting an empty control must be harmless
        }
        QTest::qWait(150); // an emptied control does not go on playing
        QCOMPARE(gif.CurrentFrame(), 0);
        QCOMPARE(changed.count(), 0);

        // A cut anywhere gives either nothing or the whole frames before it.
        for (qsizetype cut = 0; cut < good.size(); ++cut) {
            const bool ok = gif.loadData(good.left(cut));
            QCOMPARE(gif.FrameCount() > 0, ok);
            for (int i = 0; i < gif.FrameCount(); ++i)
                QCOMPARE(gif.frameImage(i), full.frames[i]);
        }
        QVERIFY(gif.loadData(good.chopped(1))); // only the trailer missing
        QCOMPARE(gif.FrameCount(), 3);

        // Damaged bytes must never crash or read out of bounds.
        QRandomGenerator random(20240611);
        for (int round = 0; round < 300; ++round) {
            QByteArray damaged = good;
            for (int n = 0; n < 4; ++n)
                damaged[random.bounded(int(damaged.size()))] = char(random.bounded(256));
            const bool ok = gif.loadData(damaged);
            QCOMPARE(gif.FrameCount() > 0, ok);
        }

        // Frames partly or wholly off the screen are clipped.
        QVERIFY(gif.LoadFile(write(document({10, 10}, {frame(fill({5, 5}, Red), {8, 8}),
                                                       frame(fill({5, 5}, Blue), {300, 2})}))));
        QCOMPARE(gif.FrameCount(), 2);
        QCOMPARE(gif.gifSize(), QSize(10, 10));
        QVERIFY(frameIs(gif.frameImage(0), {8, 8, 2, 2}, Red, Clear));
        QCOMPARE(gif.frameImage(1), gif.frameImage(0));
    }
};

QTEST_MAIN(TestAniGif)
#include "test_anigif.moc"
