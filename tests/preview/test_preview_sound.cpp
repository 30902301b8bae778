// The preview heard through a PulseAudio of the test's own with a null sink whose monitor is recorded
// (skipped where there is none): clicks under the white slides must be heard in step, for minutes.

#include <QElapsedTimer>
#include <QProcess>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include "controls/Button.h"
#include "controls/SpinControl.h"
#include "preview/frmView.h"
#include "slides/SlideSource.h"

namespace {

constexpr int Slides = 48, Every = 24, Rate = 12;  // slides 1 and 25 white, with a click
// 95 seconds of preview: the null sink here stands still for tens of milliseconds once its stream has
// played 2^24 bytes (87 s), and the slides must wait for the sound then too.
constexpr int PlayMs = 95 * 1000;
QElapsedTimer wall;

struct FlashSlides : slides::SlideSource {
    int slideCount() const override { return Slides; }
    QImage slide(int i) const override  // notes when the preview takes a white slide to show it
    {
        QImage img(slides::SlideWidth, slides::SlideHeight, QImage::Format_RGB888);
        img.fill((i - 1) % Every ? Qt::darkGray : Qt::white);
        if ((i - 1) % Every == 0)
            whiteAt.push_back(wall.nsecsElapsed() / 1000);
        return img;
    }
    mutable std::vector<qint64> whiteAt;
};

} // namespace

class PreviewSoundTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_runtime;
    bool m_server = false;
private slots:
    void initTestCase()
    {
        // Started before Qt first looks for sound devices, which it does once.
        wall.start();
        if (QStandardPaths::findExecutable("pulseaudio").isEmpty() || QStandardPaths::findExecutable("parec").isEmpty())
            return;
        QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const char *name : {"XDG_RUNTIME_DIR", "HOME"})
            qputenv(name, m_runtime.path().toUtf8());
        qunsetenv("PULSE_SERVER");
        m_server = QProcess::execute("pulseaudio", {"--daemonize=yes", "--exit-idle-time=-1", "-n",
                                                    "--load=module-null-sink sink_name=vsink",
                                                    "--load=module-native-protocol-unix"}) == 0;
    }
    void cleanupTestCase()
    {
        if (m_server)
            QProcess::execute("pulseaudio", {"--kill"});
    }

    void clicksAreHeardWithTheirWhiteSlidesWithoutDrift()
    {
        if (!m_server || !sound::Player::available())
            QSKIP("no PulseAudio to play to on this machine");
        FlashSlides source;
        frmView view(&source, [](QWidget *, const controls::Message &) { return controls::MsgResult::Ok; });
        view.soundForPreview = [](int fps) {
            auto pcm = std::make_shared<sound::Pcm>();  // a 5 ms click where each white slide begins
            pcm->samples.assign(size_t(sound::frameStart(Slides, fps) * sound::Channels), 0);
            for (int s = 0; s < Slides; s += Every)
                std::fill_n(pcm->samples.begin() + sound::frameStart(s, fps) * sound::Channels, sound::Rate / 100, 30000);
            return pcm;
        };
        view.UpDown1->setValue(Rate);
        QProcess rec;
        QByteArray recorded;
        qint64 recordingAt = -1;  // when its first bytes came, which can only be after they were heard
        connect(&rec, &QProcess::readyReadStandardOutput, this, [&] {
            recordingAt = recordingAt < 0 ? wall.nsecsElapsed() / 1000 : recordingAt;
            recorded += rec.readAllStandardOutput();
        });
        rec.start("parec", {"-d", "vsink.monitor", "--format=s16le", "--rate=48000", "--channels=1", "--latency-msec=5"});
        QTRY_VERIFY_WITH_TIMEOUT(recordingAt >= 0, 10000);
        view.show();
        QTRY_COMPARE(view.Slider1->value(), 1);
        view.Command2->click();
        QVERIFY(view.playingSound());
        QTest::qWait(PlayMs);
        view.Command2->click();
        QVERIFY(!view.playingSound());
        // The last pieces of what was played reach the recording before it stops.
        QTest::qWait(300);
        rec.terminate();
        rec.waitForFinished();

        std::vector<qint64> clickAt;  // a loud sample after 50 ms of quiet, in microseconds into the recording
        const auto *pcm = reinterpret_cast<const qint16 *>(recorded.constData());
        for (qint64 i = 0, lastLoud = -sound::Rate; i < recorded.size() / 2; ++i)
            if (std::abs(int(pcm[i])) > 8000) {
                if (i - lastLoud > sound::Rate / 20)
                    clickAt.push_back(i * 1000000 / sound::Rate);
                lastLoud = i;
            }
        const std::vector<qint64> &white = source.whiteAt;
        QVERIFY(white.size() + 1 >= PlayMs / 1000 * Rate / Every && clickAt.size() + 1 >= white.size() && clickAt.size() <= white.size() + 1);

        // Every click keeps the usual distance from its white slide (the sound's way out to the sink, the
        // median over all of them) within a slide's time, all but one within a third of it, and the distance
        // does not creep from the first half to the second; the first is heard within a slide too.
        const size_t pairs = std::min(clickAt.size(), white.size());
        std::vector<qint64> distances;
        for (size_t k = 0; k < pairs; ++k)
            distances.push_back(clickAt[k] - white[k]);
        std::nth_element(distances.begin(), distances.begin() + distances.size() / 2, distances.end());
        const qint64 slideUs = 1000000 / Rate, base = distances[distances.size() / 2];
        qint64 worst = 0;
        double creep = 0;
        int late = 0;  // after the first, a third of a slide off: only the one met by a stall of the sound
        for (size_t k = 0; k < pairs; ++k) {
            worst = std::max(worst, std::abs(clickAt[k] - white[k] - base));
            creep += double(clickAt[k] - white[k] - base) * (k < pairs / 2 ? -1 : 1) / double(pairs / 2);
            late += k > 0 && std::abs(clickAt[k] - white[k] - base) > slideUs / 3;
        }
        qInfo("%zu clicks, worst %lld ms off, %d a third of a slide off, creep %.1f ms", pairs, worst / 1000, late,
              creep / 1000);
        QVERIFY(worst < slideUs);
        QVERIFY(late <= 1);
        QVERIFY(std::abs(creep) < slideUs / 4.0);
        QVERIFY(std::abs(clickAt[0] - (white[0] - recordingAt)) < slideUs + 100000);
    }
};

QTEST_MAIN(PreviewSoundTest)
#include "test_preview_sound.moc"
