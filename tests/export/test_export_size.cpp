// Sizes for sharing: frames made larger by whole pixels, and the file size
// the export window promises before writing.

#include <QTemporaryDir>
#include <QtTest>

#include "ExportTestKit.h"
#include "GifFrames.h"
#include "export/ScaledFrames.h"
#include "export/SizeEstimate.h"

using namespace exporting;

namespace {

// The three scenes estimates are held to: characters over a photo-like
// background, the stage panning over a wider picture, and flat colours.
QImage scene(const QString &kind, int i)
{
    if (kind == QLatin1String("pan")) {
        QImage image(slides::SlideWidth, slides::SlideHeight, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int u = x + 3 * i; // three pixels a slide
                row[x] = qRgb((u * 3 + y) % 256, (u / 2 + y * 2) % 256, 128 + (u * y / 50) % 90);
            }
        }
        return image;
    }
    return kit::cartoon(i, kind == QLatin1String("typical"));
}

QImage doubled(const QImage &slide, int f)
{
    return slide.convertToFormat(QImage::Format_RGB32).scaled(slide.size() * f, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

} // namespace

class TestExportSize : public QObject {
    Q_OBJECT
private slots:
    void largerSizesArePixelBlocks();
    void estimateIsNearTheFile_data();
    void estimateIsNearTheFile();
    void sizesReadAsAFileManagerShowsThem();
};

void TestExportSize::largerSizesArePixelBlocks()
{
    // Flat colours: the GIF is exact, so every pixel of ×2 and ×3 is checked.
    slides::SlideStore store;
    kit::fill(store, 6);
    QTemporaryDir dir;
    for (int f : {2, 3}) {
        StoreFrames frames(store);
        ScaledFrames scaled(frames, f);
        kit::CancelAt never(-1);
        const QString path = dir.filePath(QStringLiteral("x%1.gif").arg(f));
        QCOMPARE(runExport(scaled, Format::Gif, 12, path, never).status, Outcome::Written);
        int wrong = 0;
        const testcommon::GifInfo info = testcommon::readGifFrames(path, [&](int i, const QImage &frame, int) {
            if (frame != doubled(kit::cartoon(i), f))
                ++wrong;
        });
        QCOMPARE(info.frames, 6);
        QCOMPARE(wrong, 0);
    }
}

void TestExportSize::estimateIsNearTheFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("scale");
    for (const char *kind : {"typical", "pan", "flat"}) {
        QTest::addRow("%s gif", kind) << kind << int(Format::Gif) << 1;
        QTest::addRow("%s mp4", kind) << kind << int(Format::Mp4) << 1;
        QTest::addRow("%s webm", kind) << kind << int(Format::WebM) << 1;
    }
    QTest::addRow("typical mp4 ×2") << "typical" << int(Format::Mp4) << 2;
}

void TestExportSize::estimateIsNearTheFile()
{
    QFETCH(QString, kind);
    QFETCH(int, format);
    QFETCH(int, scale);
    // More slides than the estimate reads, so it must carry its runs over.
    constexpr int Slides = 72;
    slides::SlideStore store;
    for (int i = 1; i <= Slides; ++i)
        store.append(scene(kind, i));
    StoreFrames frames(store);
    SizeSample sample;
    QVERIFY(takeSample(frames, sample, {}));
    QVERIFY(!sample.whole());
    const qint64 estimate = estimateSize(sample, Format(format), 12, scale, {});

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("real") + suffixFor(Format(format)));
    ScaledFrames scaled(frames, scale);
    kit::CancelAt never(-1);
    QCOMPARE(runExport(scaled, Format(format), 12, path, never).status, Outcome::Written);
    const qint64 real = QFileInfo(path).size();
    const double ratio = double(estimate) / double(real);
    qInfo("estimate %lld, file %lld, ratio %.3f", estimate, real, ratio);
    QVERIFY2(ratio >= 0.75 && ratio <= 1.25, qPrintable(QString::number(ratio)));
}

void TestExportSize::sizesReadAsAFileManagerShowsThem()
{
    const std::pair<qint64, const char *> cases[] = {
        {512, "≈ 512 байт"},      {64'300, "≈ 64 КБ"},    {1'234'567, "≈ 1,2 МБ"},
        {45'600'000, "≈ 46 МБ"}, {999'600, "≈ 1,0 МБ"}, {2'500'000'000, "≈ 2,5 ГБ"},
    };
    for (const auto &[bytes, text] : cases)
        QCOMPARE(approximateSize(bytes), QString::fromUtf8(text));
}

QTEST_GUILESS_MAIN(TestExportSize)
#include "test_export_size.moc"
