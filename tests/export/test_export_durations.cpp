// One cartoon whose slides last 1, 3, 1 and 2 frames, checked four ways: preview timing, GIF delays, the
// frames of a video, and the BMP save's numbering, read back as separate slides.
#include <QElapsedTimer>
#include <QTest>
extern "C" {
#include <libavformat/avformat.h>
}

#include "ExportTestKit.h"
#include "GifFrames.h"
#include "controls/Button.h"
#include "controls/SpinControl.h"
#include "export/FrameSource.h"
#include "export/ScaledFrames.h"
#include "preview/frmView.h"
#include "slides/SeriesReader.h"
#include "slides/SlideFiles.h"

using namespace exporting;

// The store as the preview reads it, noting when each slide was fetched.
struct Timed : slides::SlideSource {
    const slides::SlideStore &s;
    QElapsedTimer clock;
    mutable std::vector<std::pair<int, qint64>> at;
    explicit Timed(const slides::SlideStore &store) : s(store) { clock.start(); }
    int slideCount() const override { return s.count(); }
    QImage slide(int i) const override { return at.push_back({i, clock.elapsed()}), s.slide(i); }
    int slideDuration(int i) const override { return s.duration(i); }
};

class TestExportDurations : public QObject {
    Q_OBJECT
private slots:
    void oneCartoonCheckedFourWays()
    {
        const std::vector<int> lasts{1, 3, 1, 2};
        slides::SlideStore store;
        kit::fill(store, 4);
        for (int i = 1; i <= 4; ++i)
            QVERIFY(store.setDuration(i, lasts[size_t(i - 1)]));
        Timed timed(store); // the preview at 8 a second: 125 ms a frame time
        frmView view(&timed, [](QWidget *, const controls::Message &) { return controls::MsgResult::Ok; });
        view.show();
        view.UpDown1->setValue(8);
        timed.at.clear();
        view.Command2->click();
        QTRY_VERIFY(timed.at.size() >= 5);
        view.Command1_Click();
        for (size_t k = 0; k < 4; ++k) {
            const qint64 gap = timed.at[k + 1].second - timed.at[k].second, due = 125 * lasts[k];
            QVERIFY2(timed.at[k].first == int(k + 1) && gap >= due - 10 && gap < due + 100, qPrintable(QString::number(gap)));
        }

        QTemporaryDir dir;
        kit::CancelAt never(-1);
        StoreFrames frames(store);
        ScaledFrames doubled(frames, 2); // as the export window sends them
        const QString gif = dir.filePath("a.gif"), video = dir.filePath("a.mp4"), bmp = dir.filePath("bmp/");
        QCOMPARE(runExport(doubled, Format::Gif, 10, gif, never).status, Outcome::Written);
        std::vector<int> delays;
        testcommon::readGifFrames(gif, [&](int, const QImage &, int cs) { delays.push_back(cs); });
        QCOMPARE(delays, (std::vector<int>{10, 30, 10, 20}));

        QCOMPARE(runExport(frames, Format::Mp4, 10, video, never).status, Outcome::Written);
        AVFormatContext *in = nullptr;
        QCOMPARE(avformat_open_input(&in, QFile::encodeName(video).constData(), nullptr, nullptr), 0);
        int packets = 0;
        AVPacket *pkt = av_packet_alloc();
        while (av_read_frame(in, pkt) >= 0) {
            ++packets;
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        avformat_close_input(&in);
        QCOMPARE(packets, 7);

        QVERIFY(QDir().mkpath(bmp));
        QCOMPARE(slides::writeSlideFiles(bmp, store, [](int) {}), 4);
        std::atomic<bool> cancel{false};
        const slides::Series back = slides::readSeries(bmp, cancel);
        QCOMPARE(back.count(), 7);
        const std::vector<int> from{1, 2, 2, 2, 3, 4, 4};
        for (int k = 1; k <= 7; ++k)
            QVERIFY(back.slides.slide(k) == store.slide(from[size_t(k - 1)]) && back.slides.duration(k) == 1);
    }
};

QTEST_MAIN(TestExportDurations)
#include "test_export_durations.moc"
