// The preview player's promises: its pause table and rate steps, playing in
// order with a wrap and no blank, stopping after the slide in progress,
// jumping, closing and opening again, and the empty buffer.

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <vector>

#include "controls/Button.h"
#include "controls/PictureBox.h"
#include "controls/SpinControl.h"
#include "preview/Playback.h"
#include "preview/frmView.h"
#include "slides/SlideSource.h"

namespace {

QColor colourOf(int i)
{
    return QColor::fromHsv((i * 47) % 360, 255, 200);
}

// Slides of distinct colours that remember which slides the player fetched, in order.
class FakeSlides : public slides::SlideSource {
public:
    explicit FakeSlides(int count) { resize(count); }
    void resize(int count)
    {
        m_slides.clear();
        for (int i = 1; i <= count; ++i) {
            QImage img(slides::SlideWidth, slides::SlideHeight, QImage::Format_RGB888);
            img.fill(colourOf(i));
            m_slides.push_back(img);
        }
    }
    int slideCount() const override { return int(m_slides.size()); }
    QImage slide(int i) const override
    {
        fetched.push_back(i);
        return i >= 1 && i <= slideCount() ? m_slides[size_t(i - 1)] : QImage();
    }
    mutable std::vector<int> fetched;

private:
    std::vector<QImage> m_slides;
};

struct Preview {
    FakeSlides source;
    QList<controls::Message> messages;
    frmView view;

    explicit Preview(int slides)
        : source(slides), view(&source, [this](QWidget *, const controls::Message &m) {
              messages << m;
              return controls::MsgResult::Ok;
          })
    {
    }
    ~Preview() { view.Command1_Click(); }

    // Shows the window and lets its set-up run, as a "Просмотр" click does.
    void open()
    {
        view.show();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    // The slide in the display, told by its colour; 0 when the display is blank.
    int shown() const
    {
        const QImage &p = view.Picture1->picture();
        if (p.isNull())
            return 0;
        for (int i = 1; i <= source.slideCount(); ++i)
            if (p.pixel(0, 0) == colourOf(i).rgb())
                return i;
        return -1;
    }
    void start() { view.Command2->click(); }
    void stopAndWait()
    {
        if (view.Command2->text() == QStringLiteral("Стоп"))
            view.Command2->click();
        QTRY_VERIFY(!view.playing());
    }
    // Plays without pauses until at least n slides have been fetched since the start.
    void playAtLeast(size_t n)
    {
        const size_t before = source.fetched.size();
        start();
        QTRY_VERIFY(source.fetched.size() >= before + n);
        stopAndWait();
    }
    std::vector<int> fetchedSince(size_t from) const
    {
        return std::vector<int>(source.fetched.begin() + long(from), source.fetched.end());
    }
};

} // namespace

class PreviewTest : public QObject {
    Q_OBJECT
private slots:
    // No sound server is reachable in this test, whatever the machine has: the sound output is missing.
    void initTestCase() { qputenv("PULSE_SERVER", "unix:/nonexistent/vellumo-no-sound"); }
    void pauseTableGivesItsPausesAndNoPauseForAnyOtherRate();
    void rateStepsReachTheTableAndTheLabelAlwaysShowsTheRate();
    void scheduleKeepsTheNominalRateAndCountsAfreshAfterAStall();

    void windowHasItsCaptionsAndFixedSize();
    void openingSetsUpTheSliderWithoutShowingASlide();
    void noSlideShowsTheMessageAndHides();
    void noSlideEndsAModalOpening();
    void noSlideAsksOnceWhileARealMessageBoxTakesTheActivation();
    void oneSlidePlaysOverAndOver();
    void playbackWrapsFromTheLastSlideToTheFirstWithoutABlank();
    void stopFinishesTheSlideInProgressAndStartContinuesWithTheNext();
    void startAgainDuringTheLastPauseKeepsOnePlayback();
    void jumpShowsTheChosenSlideAndAfterZeroStartShowsSlideOne();
    void jumpDuringPlaybackGoesOnAfterTheChosenSlide();
    void slideSetByTheProgramIsNoJump();
    void closeResetsAndTheNextOpeningStartsAtSlideOne();
    void closeBoxDuringPlaybackEndsItAndALaterOpeningWorks();
    void withoutSoundOutputASoundedCartoonPlaysSilentlyAndSaysSoOnce();
};

void PreviewTest::pauseTableGivesItsPausesAndNoPauseForAnyOtherRate()
{
    const QList<QPair<int, int>> table{{1, 1000}, {4, 250}, {8, 125}, {12, 83}, {16, 62}, {20, 50}, {24, 42}};
    for (const auto &[rate, pause] : table)
        QVERIFY2(preview::pauseForRate(rate) == pause, qPrintable(QStringLiteral("rate %1").arg(rate)));
    for (int rate : {5, 9, 13, 17, 21, 0, 2, 3, 25, -1})
        QVERIFY2(preview::pauseForRate(rate) == 0, qPrintable(QStringLiteral("rate %1 paused").arg(rate)));
}

void PreviewTest::rateStepsReachTheTableAndTheLabelAlwaysShowsTheRate()
{
    Preview p(2);
    controls::SpinControl *spin = p.view.UpDown1;
    QCOMPARE(spin->value(), 12);
    QCOMPARE(p.view.Label1->text(), QStringLiteral("12"));

    auto walk = [&](bool up, const QList<int> &expected) {
        for (int value : expected) {
            up ? spin->stepUp() : spin->stepDown();
            QCOMPARE(spin->value(), value);
            QCOMPARE(p.view.Label1->text(), QString::number(value));
        }
    };
    walk(true, {16, 20, 24, 24});
    walk(false, {20, 16, 12, 8, 4, 1, 1});
    walk(true, {5, 9, 13, 17, 21, 24});
    // The arrow keys step it too, and the label follows them as well.
    spin->setFocus();
    QTest::keyClick(spin, Qt::Key_Down);
    QCOMPARE(p.view.Label1->text(), QStringLiteral("20"));
}

void PreviewTest::scheduleKeepsTheNominalRateAndCountsAfreshAfterAStall()
{
    preview::FrameSchedule s;
    s.start(1000);
    qint64 now = 1000;
    // Each slide takes 30 ms to draw: the waits shrink so that slides stay 83 ms apart.
    for (int i = 0; i < 100; ++i) {
        now += 30;
        const qint64 wait = s.waitAfterSlide(now, 83);
        QCOMPARE(wait, 53);
        now += wait;
    }
    QCOMPARE(now, 1000 + 100 * 83);

    // A slide drawn 20 ms late is made up for by a shorter pause, not passed on.
    s.start(0);
    QCOMPARE(s.waitAfterSlide(20, 50), 30);
    QCOMPARE(s.waitAfterSlide(50, 50), 50);
    QCOMPARE(s.due(), 100);

    s.start(0);
    // 500 ms late at 42 ms a slide: the slide gets its full pause and the missed ones are not replayed at once.
    QCOMPARE(s.waitAfterSlide(500, 42), 42);
    QCOMPARE(s.waitAfterSlide(542, 42), 42);
    // Without a pause there is never a wait, and nothing to catch up.
    s.start(0);
    QCOMPARE(s.waitAfterSlide(0, 0), 0);
    QCOMPARE(s.waitAfterSlide(7, 0), 0);
}

void PreviewTest::windowHasItsCaptionsAndFixedSize()
{
    Preview p(2);
    frmView &v = p.view;
    QCOMPARE(v.windowTitle(), QStringLiteral("Предварительный просмотр"));
    QCOMPARE(v.minimumSize(), QSize(412, 439));
    QCOMPARE(v.maximumSize(), QSize(412, 439));
    QCOMPARE(v.Command2->text(), QStringLiteral("Старт"));
    QCOMPARE(v.Command1->text(), QStringLiteral("Закрыть"));
    QCOMPARE(v.Label2->text(), QStringLiteral("Кадров в секунду"));
}

void PreviewTest::openingSetsUpTheSliderWithoutShowingASlide()
{
    Preview p(5);
    p.open();
    QVERIFY(p.view.isVisible());
    QCOMPARE(p.view.Slider1->minimum(), 0);
    QCOMPARE(p.view.Slider1->maximum(), 5);
    QCOMPARE(p.view.Slider1->value(), 1);
    QCOMPARE(p.view.PlayPosition, 0);
    QCOMPARE(p.shown(), 0);
    QVERIFY(p.source.fetched.empty());
    QVERIFY(p.messages.isEmpty());
}

void PreviewTest::noSlideShowsTheMessageAndHides()
{
    Preview p(0);
    p.open();
    QTRY_VERIFY(!p.view.isVisible());
    QCOMPARE(p.messages.size(), 1);
    QCOMPARE(p.messages[0].text, QStringLiteral("Слишком мало кадров"));
    QCOMPARE(p.messages[0].title, QString());
    QCOMPARE(p.messages[0].icon, controls::MsgIcon::Error);
    QCOMPARE(p.messages[0].buttons, controls::MsgButtons::Ok);
    // Slides recorded afterwards can be played at the next opening.
    p.source.resize(2);
    p.open();
    QVERIFY(p.view.isVisible());
    QCOMPARE(p.view.Slider1->maximum(), 2);
    QCOMPARE(p.messages.size(), 1);
}

void PreviewTest::noSlideEndsAModalOpening()
{
    Preview p(0);
    // A safety net so that a failure shows as a failed test, not a hang.
    bool rescued = false;
    QTimer::singleShot(5000, &p.view, [&] {
        rescued = true;
        p.view.hide();
    });
    p.view.exec();
    QCOMPARE(p.messages.size(), 1);
    QVERIFY2(!rescued, "the modal opening did not end after the message");
}

void PreviewTest::noSlideAsksOnceWhileARealMessageBoxTakesTheActivation()
{
    // A real box runs its own event loop and hands the activation back to the
    // preview while open: that once asked the question again.
    FakeSlides empty(0);
    int asked = 0;
    frmView view(&empty, [&](QWidget *parent, const controls::Message &m) {
        ++asked;
        return controls::showMessageBox(parent, m);
    });
    QTimer answer;
    connect(&answer, &QTimer::timeout, &view, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->accept();
    });
    answer.start(50);
    view.exec();
    QTest::qWait(200);
    QCOMPARE(asked, 1);
    QVERIFY(!view.isVisible());
}

void PreviewTest::oneSlidePlaysOverAndOver()
{
    Preview p(1);
    p.open();
    QCOMPARE(p.view.Slider1->maximum(), 1);
    QCOMPARE(p.view.Slider1->value(), 1);
    p.view.UpDown1->setValue(21);
    p.playAtLeast(6);
    for (int i : p.source.fetched)
        QCOMPARE(i, 1);
    QCOMPARE(p.shown(), 1);
    QCOMPARE(p.view.PlayPosition, 1);
}

void PreviewTest::playbackWrapsFromTheLastSlideToTheFirstWithoutABlank()
{
    Preview p(3);
    p.open();
    p.view.UpDown1->setValue(5);
    int blanks = 0;
    // Every repaint of the display during the playback must show a slide.
    QObject watcher;
    p.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &watcher, [&] {
        if (p.view.playing() && p.shown() == 0)
            ++blanks;
    });
    poll.start(0);
    QTRY_VERIFY(p.source.fetched.size() >= 8);
    p.stopAndWait();
    poll.stop();
    const std::vector<int> expected{1, 2, 3, 1, 2, 3, 1, 2};
    QCOMPARE(std::vector<int>(p.source.fetched.begin(), p.source.fetched.begin() + 8), expected);
    QCOMPARE(blanks, 0);
}

void PreviewTest::stopFinishesTheSlideInProgressAndStartContinuesWithTheNext()
{
    Preview p(5);
    p.open();
    p.view.UpDown1->setValue(24);
    p.start();
    QCOMPARE(p.view.Command2->text(), QStringLiteral("Стоп"));
    QVERIFY(p.view.Slider1->isEnabled());
    QTRY_VERIFY(p.source.fetched.size() >= 3);
    p.view.Command2->click();
    // The caption turns at once; the slide in progress keeps its pause and shows no successor.
    QCOMPARE(p.view.Command2->text(), QStringLiteral("Старт"));
    const size_t atStop = p.source.fetched.size();
    const int last = p.source.fetched.back();
    QTRY_VERIFY(!p.view.playing());
    QCOMPARE(p.source.fetched.size(), atStop);
    QCOMPARE(p.view.PlayPosition, last);
    QCOMPARE(p.view.Slider1->value(), last);
    QCOMPARE(p.shown(), last);
    // A stop leaves the slider usable.
    QVERIFY(p.view.Slider1->isEnabled());

    p.start();
    QTRY_VERIFY(p.source.fetched.size() > atStop);
    QCOMPARE(p.source.fetched[atStop], last % 5 + 1);
    p.stopAndWait();
}

void PreviewTest::startAgainDuringTheLastPauseKeepsOnePlayback()
{
    Preview p(4);
    p.open();
    p.view.UpDown1->setValue(1); // a whole second per slide
    p.start();
    QCOMPARE(p.source.fetched, std::vector<int>{1});
    p.view.Command2->click(); // "Стоп" within slide 1's pause
    p.view.Command2->click(); // "Старт" before that pause ended
    QCOMPARE(p.view.Command2->text(), QStringLiteral("Стоп"));
    QVERIFY(p.view.playing());
    // Still one slide at a time: slide 2 comes after slide 1's pause, not at once.
    QCOMPARE(p.source.fetched, std::vector<int>{1});
    QTRY_COMPARE(p.source.fetched.size(), size_t(2));
    QCOMPARE(p.source.fetched, (std::vector<int>{1, 2}));
    p.stopAndWait();
}

void PreviewTest::jumpShowsTheChosenSlideAndAfterZeroStartShowsSlideOne()
{
    Preview p(4);
    p.open();
    p.playAtLeast(1);
    QSlider *s = p.view.Slider1;
    s->setFocus();
    QTest::keyClick(s, Qt::Key_End);
    QCOMPARE(p.view.PlayPosition, 4);
    QCOMPARE(p.shown(), 4);
    QTest::keyClick(s, Qt::Key_Left);
    QCOMPARE(p.view.PlayPosition, 3);
    QCOMPARE(p.shown(), 3);
    QTest::keyClick(s, Qt::Key_Home);
    QCOMPARE(p.view.PlayPosition, 0);
    QCOMPARE(p.shown(), 0);
    const size_t from = p.source.fetched.size();
    p.playAtLeast(1);
    QCOMPARE(p.source.fetched[from], 1);
}

void PreviewTest::jumpDuringPlaybackGoesOnAfterTheChosenSlide()
{
    Preview p(6);
    p.open();
    p.view.UpDown1->setValue(1);
    p.start();
    QCOMPARE(p.source.fetched, std::vector<int>{1});
    // Within slide 1's pause the user drags the slider to slide 3.
    p.view.Slider1->setSliderDown(true);
    p.view.Slider1->setSliderPosition(3);
    p.view.Slider1->setSliderDown(false);
    QCOMPARE(p.view.PlayPosition, 3);
    QCOMPARE(p.shown(), 3);
    QTRY_COMPARE(p.source.fetched.size(), size_t(3));
    QCOMPARE(p.source.fetched, (std::vector<int>{1, 3, 4}));
    p.stopAndWait();
}

void PreviewTest::slideSetByTheProgramIsNoJump()
{
    Preview p(4);
    p.open();
    p.view.Slider1->setValue(3);
    QCOMPARE(p.view.PlayPosition, 0);
    QCOMPARE(p.shown(), 0);
    QVERIFY(p.source.fetched.empty());
}

void PreviewTest::closeResetsAndTheNextOpeningStartsAtSlideOne()
{
    Preview p(4);
    p.open();
    p.view.UpDown1->setValue(24);
    p.start();
    QTRY_VERIFY(p.source.fetched.size() >= 2);
    p.view.Command1->click();
    frmView &v = p.view;
    QVERIFY(!v.isVisible());
    QVERIFY(!v.playing());
    QVERIFY(v.StopRequested);
    QCOMPARE(v.Command2->text(), QStringLiteral("Старт"));
    QCOMPARE(p.shown(), 0);
    QCOMPARE(v.Slider1->value(), 0);
    QVERIFY(!v.Slider1->isEnabled());
    QCOMPARE(v.PlayPosition, 0);
    const size_t atClose = p.source.fetched.size();
    QTest::qWait(100);
    QCOMPARE(p.source.fetched.size(), atClose);

    // The rate survives; the display stays blank until the first slide is drawn.
    p.open();
    QCOMPARE(v.UpDown1->value(), 24);
    QCOMPARE(p.shown(), 0);
    QCOMPARE(v.Slider1->value(), 1);
    p.playAtLeast(1);
    QCOMPARE(p.source.fetched[atClose], 1);
}

void PreviewTest::closeBoxDuringPlaybackEndsItAndALaterOpeningWorks()
{
    Preview p(3);
    p.open();
    p.view.UpDown1->setValue(5);
    p.start();
    QTRY_VERIFY(p.source.fetched.size() >= 2);
    p.view.close();
    QVERIFY(!p.view.isVisible());
    QVERIFY(!p.view.playing());
    QCOMPARE(p.view.Command2->text(), QStringLiteral("Старт"));
    const size_t atClose = p.source.fetched.size();
    QTest::qWait(50);
    QCOMPARE(p.source.fetched.size(), atClose);

    p.open();
    QVERIFY(p.view.isVisible());
    p.playAtLeast(2);
    QCOMPARE(p.fetchedSince(atClose)[0], 1);
    QCOMPARE(p.fetchedSince(atClose)[1], 2);
}

void PreviewTest::withoutSoundOutputASoundedCartoonPlaysSilentlyAndSaysSoOnce()
{
    Preview p(3);
    int asked = 0;
    p.view.soundForPreview = [&](int) {
        ++asked;
        auto pcm = std::make_shared<sound::Pcm>();
        pcm->samples.assign(size_t(sound::frameStart(3, 12) * sound::Channels), 1000);
        return pcm;
    };
    p.open();
    p.playAtLeast(4);
    QCOMPARE(std::vector<int>(p.source.fetched.begin(), p.source.fetched.begin() + 4), (std::vector<int>{1, 2, 3, 1}));
    p.playAtLeast(1);
    QVERIFY(asked >= 2 && !p.view.playingSound());
    QCOMPARE(p.messages.size(), 1);
    QVERIFY(p.messages[0].text.startsWith(QStringLiteral("Звук недоступен")));
    QCOMPARE(p.messages[0].icon, controls::MsgIcon::Information);
}

QTEST_MAIN(PreviewTest)
#include "test_preview.moc"
