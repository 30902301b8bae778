// GIFs made to hurt a decoder: frames off the canvas, enormous frames,
// tens of thousands of frames, a huge canvas restored frame after frame. The
// decoder must stay within its work and memory limits and still show what a
// browser shows.
#include <QTest>

#include "HostileFiles.h"
#include "anigif/AniGif.h"
#include "anigif/GifDecoder.h"

using namespace anigif;
using hostile::RawFrame;

namespace {

const QList<QRgb> Palette = {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 255, 0)};
constexpr quint8 Red = 1, Blue = 2, Green = 3;

RawFrame frame(QRect rect, quint8 fill, int disposal = 1)
{
    RawFrame f;
    f.rect = rect;
    f.fill = fill;
    f.disposal = disposal;
    return f;
}

QRgb at(const DecodedGif &gif, int frame, int x, int y) { return gif.frames[frame].pixel(x, y); }

} // namespace

class TestHostileGif : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void framesWhollyOffTheCanvasAreKeptWithoutDecoding();
    void framesReachingPastTheCanvasAreDrawnClipped();
    void aHugeFrameDecodesOnlyTheRowsOnTheCanvas();
    void workBeyondTheCanvasEndsTheDecodingAsACutOff();
    void thousandsOfFramesStopAtTheControlsCount();
    void aHugeCanvasRestoredEveryFrameStaysWithinTheMemoryCap();
};

void TestHostileGif::initTestCase()
{
    // A decoder that ignored its limits would fail here instead of eating the machine.
    hostile::capAddressSpace(qint64(3) << 30);
}

void TestHostileGif::framesWhollyOffTheCanvasAreKeptWithoutDecoding()
{
    // 20 frames of 16384 x 16384 beside a 1 x 1 canvas: a few MB of file,
    // billions of pixels for a decoder that decodes what cannot show.
    QList<RawFrame> frames{frame({0, 0, 1, 1}, Red)};
    for (int i = 0; i < 20; ++i)
        frames << frame({1, 1, 16384, 16384}, Blue);
    const QByteArray data = hostile::rawGif({1, 1}, Palette, frames);
    QVERIFY(data.size() < (qint64(8) << 20));

    DecodedGif gif;
    QVERIFY(decodeGif(data, &gif));
    QCOMPARE(gif.frames.size(), 21);
    QVERIFY(!gif.truncated);
    QCOMPARE(gif.decodedPixels, 1);
    for (const QImage &f : gif.frames)
        QCOMPARE(f.pixel(0, 0), Palette[Red]);
}

void TestHostileGif::framesReachingPastTheCanvasAreDrawnClipped()
{
    // As browsers show it: the part on the canvas is drawn, the animation goes on.
    RawFrame past = frame({50, 50, 100, 100}, 0);
    past.transparent = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            past.pixels.append(char(x < 10 ? 0 : Blue));   // a transparent stripe on the left
    const QByteArray data = hostile::rawGif({100, 100}, Palette,
                                            {frame({0, 0, 100, 100}, Red), past, frame({0, 0, 10, 10}, Green)});
    DecodedGif gif;
    QVERIFY(decodeGif(data, &gif));
    QVERIFY(!gif.truncated);
    QCOMPARE(gif.frames.size(), 3);
    QCOMPARE(at(gif, 1, 55, 55), Palette[Red]);     // under the transparent stripe
    QCOMPARE(at(gif, 1, 75, 99), Palette[Blue]);
    QCOMPARE(at(gif, 1, 99, 60), Palette[Blue]);
    QCOMPARE(at(gif, 1, 40, 40), Palette[Red]);
    QCOMPARE(at(gif, 2, 5, 5), Palette[Green]);
    QCOMPARE(at(gif, 2, 80, 80), Palette[Blue]);
}

void TestHostileGif::aHugeFrameDecodesOnlyTheRowsOnTheCanvas()
{
    // The rest of the frame is skipped in its compressed form, and the frame
    // after it is read from the right place.
    const QByteArray data = hostile::rawGif(
        {64, 64}, Palette, {frame({0, 0, 16384, 16384}, Blue), frame({0, 0, 8, 8}, Green)});
    DecodedGif gif;
    QVERIFY(decodeGif(data, &gif));
    QVERIFY(!gif.truncated);
    QCOMPARE(gif.frames.size(), 2);
    QCOMPARE(gif.decodedPixels, 16384 * 64 + 8 * 8);
    QCOMPARE(at(gif, 0, 63, 63), Palette[Blue]);
    QCOMPARE(at(gif, 1, 0, 0), Palette[Green]);
    QCOMPARE(at(gif, 1, 63, 63), Palette[Blue]);
}

void TestHostileGif::workBeyondTheCanvasEndsTheDecodingAsACutOff()
{
    // A 1-pixel-wide canvas with a frame 16384 wide on every row: each row
    // costs 16384 times what can show. The frames before stay.
    const QByteArray data = hostile::rawGif(
        {1, 4096}, Palette, {frame({0, 0, 1, 4096}, Red), frame({0, 0, 16384, 4096}, Blue)});
    DecodedGif gif;
    QVERIFY(decodeGif(data, &gif));
    QVERIFY(gif.truncated);
    QCOMPARE(gif.frames.size(), 1);
    QVERIFY(gif.decodedPixels <= DecodedPixelsSlack + 2 * 4096);
}

void TestHostileGif::thousandsOfFramesStopAtTheControlsCount()
{
    QList<RawFrame> frames;
    for (int i = 0; i < MaxGifFrames + 1000; ++i)
        frames << frame({0, 0, 2, 2}, quint8(1 + i % 3));
    DecodedGif gif;
    double grownMiB = hostile::peakGrowthMiB([&] { QVERIFY(decodeGif(hostile::rawGif({2, 2}, Palette, frames), &gif)); });
    QCOMPARE(gif.frames.size(), MaxGifFrames);
    QVERIFY(gif.truncated);
    QCOMPARE(at(gif, MaxGifFrames - 1, 1, 1), Palette[1 + (MaxGifFrames - 1) % 3]);
    if (grownMiB >= 0)
        QVERIFY2(grownMiB < 64, qPrintable(QString("peak grew %1 MiB").arg(grownMiB)));

    // The control shows the last frame it kept like any other.
    AniGif control;
    control.setGif(std::move(gif));
    QCOMPARE(control.FrameCount(), MaxGifFrames);
    control.setCurrentFrame(MaxGifFrames - 1);
    QCOMPARE(control.CurrentFrame(), MaxGifFrames - 1);
}

void TestHostileGif::aHugeCanvasRestoredEveryFrameStaysWithinTheMemoryCap()
{
    const qint64 capMiB = MaxComposedBytes >> 20;
    // 8192 x 8192 is 256 MiB a frame: with the canvas beside it, no frame fits.
    // A 51-byte file once took 806 MiB before anything refused it.
    const QByteArray tiny = hostile::rawGif({8192, 8192}, {qRgb(0, 0, 0), qRgb(255, 0, 0)},
                                            {frame({0, 0, 1, 1}, 1, 3)});
    QVERIFY(tiny.size() < 64);
    DecodedGif gif;
    bool decoded = true;
    double grownMiB = hostile::peakGrowthMiB([&] { decoded = decodeGif(tiny, &gif); });
    QVERIFY(!decoded);
    QVERIFY(!gif.outOfMemory);
    if (grownMiB >= 0)
        QVERIFY2(grownMiB < 16, qPrintable(QString("peak grew %1 MiB").arg(grownMiB)));

    // 4096 x 4096 is 64 MiB: canvas, saved canvas and one frame fit; the
    // next frame would pass the cap, and the GIF is refused before.
    QList<RawFrame> frames;
    for (int i = 0; i < 3; ++i)
        frames << frame({i, i, 4096 - i, 4096 - i}, quint8(1 + i), 3);
    const QByteArray restored = hostile::rawGif({4096, 4096}, Palette, frames);
    grownMiB = hostile::peakGrowthMiB([&] { decoded = decodeGif(restored, &gif); });
    QVERIFY(!decoded);
    if (grownMiB >= 0)
        QVERIFY2(grownMiB < capMiB + 16, qPrintable(QString("peak grew %1 MiB").arg(grownMiB)));

    frames.resize(1);
    QVERIFY(decodeGif(hostile::rawGif({4096, 4096}, Palette, frames), &gif));
    QCOMPARE(gif.frames.size(), 1);
    QCOMPARE(at(gif, 0, 4095, 4095), Palette[1]);
}

QTEST_MAIN(TestHostileGif)
#include "test_hostile_gif.moc"
