// "Просмотр" on the main window: the preview opens modally over it, plays
// the slide buffer's slides and gives the main window back when it hides.

#include <QApplication>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "Program.h"
#include "TestCommon.h"
#include "controls/Button.h"
#include "controls/SpinControl.h"
#include "preview/frmView.h"
#include "slides/frmBuffer.h"

using testcommon::Program;

namespace {

// Calls `act` on the preview once it shows modally, and again on every tick
// until `act` returns true; a safety net hides it if that never happens.
void whilePreviewShows(Program &p, bool &gaveUp, std::function<bool(frmView *)> act)
{
    auto *poll = new QTimer(p.main.get());
    auto *net = new QTimer(p.main.get());
    net->setSingleShot(true);
    QObject::connect(poll, &QTimer::timeout, poll, [&p, poll, net, act] {
        frmView *v = p.main->findChild<frmView *>();
        if (v && v->isVisible() && QApplication::activeModalWidget() == v && act(v)) {
            poll->deleteLater();
            net->deleteLater();
        }
    });
    QObject::connect(net, &QTimer::timeout, net, [&p, &gaveUp, poll] {
        gaveUp = true;
        poll->deleteLater();
        if (frmView *v = p.main->findChild<frmView *>())
            v->hide();
    });
    poll->start(5);
    net->start(10000);
}

} // namespace

class PreviewOpenTest : public QObject {
    Q_OBJECT
private slots:
    void previewPlaysTheBufferModallyAndCloseGivesTheMainWindowBack();
    void closeBoxWhilePlayingEndsThePlaybackAndTheNextOpeningStartsAtSlideOne();
    void emptyBufferGivesTheMessageAndReturns();
    void thePreviewHearsTheSoundsTheBufferDecodedAndKeepsItsMix();
};

void PreviewOpenTest::thePreviewHearsTheSoundsTheBufferDecodedAndKeepsItsMix()
{
    Program p(false);
    for (int i = 0; i < 24; ++i)
        p.main->Command2_Click();
    frmBuffer *b = p.main->Buffer();
    const auto clip = slides::SoundClip::make(testcommon::squareWav(sound::Rate * 3), QStringLiteral("a.wav"));
    QVERIFY(b->slides().setSound(13, clip));
    // Not decoded yet: the preview plays without it, never waiting for it.
    const auto mix = [&](int rate) { return p.main->View()->soundForPreview(rate); };
    QVERIFY(!mix(12));
    QTRY_VERIFY(b->decodedSound(*clip));
    const auto first = mix(12);
    QVERIFY(first);
    QCOMPARE(first->frames(), 2 * sound::Rate);                             // the cartoon's length
    QCOMPARE(first->samples[size_t(sound::Rate - 1) * sound::Channels], 0); // slide 13 starts at 1 s
    QVERIFY(first->samples[size_t(sound::Rate) * sound::Channels] != 0);
    QCOMPARE(mix(12), first); // started again: mixed once
    QVERIFY(b->slides().setVolume({13}, 50));
    QVERIFY(mix(12) != first);
    QCOMPARE(mix(24)->frames(), sound::Rate);
}

void PreviewOpenTest::previewPlaysTheBufferModallyAndCloseGivesTheMainWindowBack()
{
    Program p;
    for (int i = 0; i < 3; ++i)
        p.main->Command2_Click();
    bool gaveUp = false;
    int maximum = -1;
    int played = 0;
    int lastPosition = 0;
    bool wrapped = false;
    whilePreviewShows(p, gaveUp, [&](frmView *v) {
        if (!v->playing() && played == 0) {
            maximum = v->Slider1->maximum();
            v->UpDown1->setValue(5);
            v->Command2->click();
        }
        if (v->PlayPosition != lastPosition) {
            wrapped = wrapped || (lastPosition == 3 && v->PlayPosition == 1);
            lastPosition = v->PlayPosition;
            ++played;
        }
        if (!wrapped)
            return false;
        v->Command1->click();
        return true;
    });
    p.main->Command8->click();
    QVERIFY(!gaveUp);
    QCOMPARE(maximum, 3);
    QVERIFY(wrapped);
    frmView *v = p.main->View();
    QVERIFY(!v->isVisible());
    QCOMPARE(v->PlayPosition, 0);
    QVERIFY(!v->playing());
    QVERIFY(p.messages.isEmpty());
    // Playing never changes the buffer.
    QCOMPARE(p.main->Buffer()->ImageCount(), 4);
    QCOMPARE(p.ended, 0);
}

void PreviewOpenTest::closeBoxWhilePlayingEndsThePlaybackAndTheNextOpeningStartsAtSlideOne()
{
    Program p;
    for (int i = 0; i < 3; ++i)
        p.main->Command2_Click();
    bool gaveUp = false;
    whilePreviewShows(p, gaveUp, [&](frmView *v) {
        if (!v->playing()) {
            v->UpDown1->setValue(5);
            v->Command2->click();
            return false;
        }
        if (v->PlayPosition < 2)
            return false;
        v->close();
        return true;
    });
    p.main->Command8_Click();
    QVERIFY(!gaveUp);
    frmView *v = p.main->View();
    QVERIFY(!v->playing());

    int firstShown = -1;
    whilePreviewShows(p, gaveUp, [&](frmView *view) {
        if (!view->playing() && firstShown < 0) {
            view->UpDown1->setValue(1);
            view->Command2->click();
            firstShown = view->PlayPosition;
        }
        view->Command1->click();
        return true;
    });
    p.main->Command8_Click();
    QVERIFY(!gaveUp);
    QCOMPARE(firstShown, 1);
    QCOMPARE(p.main->View(), v); // the same window, only hidden and shown
}

void PreviewOpenTest::emptyBufferGivesTheMessageAndReturns()
{
    Program p;
    bool gaveUp = false;
    whilePreviewShows(p, gaveUp, [](frmView *) { return false; });
    p.main->Command8_Click();
    QVERIFY(!gaveUp);
    QCOMPARE(p.messages.size(), 1);
    QCOMPARE(p.messages[0].text, QStringLiteral("Слишком мало кадров"));
    QVERIFY(!p.main->View()->isVisible());
    QCOMPARE(p.ended, 0);
}

QTEST_MAIN(PreviewOpenTest)
#include "test_preview_open.moc"
