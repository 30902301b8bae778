// Sounds on slides: the buffer window's menu and dropping a file give a slide its sound and mark it; they follow the slides they start at through every change and its undo, and the
// journal gives them back, bytes and volume, after a crash.

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "TestCommon.h"
#include "slides/Journal.h"
#include "slides/SlideBuffer.h"
#include "slides/ThumbLayout.h"
#include "slides/frmBuffer.h"
#include "controls/Button.h"
#include "slides/frmVoice.h"
#include "sound/Microphone.h"
#include "sound/PcmCache.h"
#include "sound/Player.h"

using namespace slides;

namespace {

// Each slide's sound as a letter (its clip's name) and volume, "-" for none: "- a100 - b150".
QString marks(const SlideBuffer &b)
{
    QStringList out;
    for (int i = 1; i <= b.count(); ++i) {
        const SlideSound s = b.store().sound(i);
        out << (s ? s.clip->name + QString::number(s.volume) : QStringLiteral("-"));
    }
    return out.join(QLatin1Char(' '));
}

const auto clipA = SoundClip::make(QByteArray("RIFF a sound", 12), QStringLiteral("a"));
const auto clipB = SoundClip::make(QByteArray(3000, 'b'), QStringLiteral("b"));

} // namespace

class TestSounds : public QObject {
    Q_OBJECT
private slots:
    void soundsFollowTheirSlidesAndUndo();
    void theJournalGivesTheSoundsBack();
    void theMenuAndADropGiveASoundAndMarkTheSlide();
    void decodedSoundsAreKeptWithinTheirBound();
    void aRecordedVoiceBecomesTheSlidesSoundAndIsListenedTo();
};

// A microphone that hears a tenth of a second of a loud tone as soon as it starts.
struct TenthOfASecond : sound::Microphone {
    bool start(QString &) override
    {
        QTimer::singleShot(0, this, [this] { emit heard(QByteArray(sound::Rate / 10 * sound::Channels * 2, 'p')); });
        return true;
    }
    void stop() override {}
};

void TestSounds::aRecordedVoiceBecomesTheSlidesSoundAndIsListenedTo()
{
    AppState state;
    QStringList told;
    state.message = [&](QWidget *, const controls::Message &m) { return told << m.text, controls::MsgResult::Ok; };
    frmBuffer w(state);
    for (int t = 0; t < 3; ++t)
        QVERIFY(w.append(testcommon::stageSlide(t)));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.openMicrophone = [] { return std::make_unique<TenthOfASecond>(); };
    const auto act = [&](const char *name) { w.contextMenu()->findChild<QAction *>(QLatin1String(name))->trigger(); };
    // The window as the person uses it: "Запись", a moment of speaking, "Стоп", "ОК"; then "Отмена".
    bool keep = true;
    const auto speak = [&] {
        auto *voice = qobject_cast<frmVoice *>(QApplication::activeModalWidget());
        QVERIFY(voice);
        voice->Command1->click();
        QTRY_VERIFY(voice->take().frames() > 0);
        QVERIFY(voice->Level->value() > 0); // the meter follows what is heard
        voice->Command1->click();
        QCOMPARE(voice->Level->value(), 0);
        (keep ? voice->Command2 : voice->Command3)->click();
    };
    for (const auto &[n, kept] : {std::pair{2, true}, {3, true}, {3, false}}) {
        w.choose(n, Qt::NoModifier);
        keep = kept;
        QTimer::singleShot(0, this, speak);
        act("Voice");
    }
    // Named in turn; the third take was thrown away by "Отмена".
    QCOMPARE(marks(w.slides()), QStringLiteral("- Голос 1.wav100 Голос 2.wav100"));
    const sound::Decoded back = sound::decode(w.slides().store().sound(2).clip->bytes, "", sound::Rate);
    QCOMPARE(back.pcm.frames(), sound::Rate / 10);
    QVERIFY(w.slides().undo());
    QCOMPARE(marks(w.slides()), QStringLiteral("- Голос 1.wav100 -"));

    // Listening: stopped by a second "Прослушать" and by hiding the buffer; without a sound output, told once.
    w.choose(2, Qt::NoModifier);
    act("Listen");
    act("Listen");
    QVERIFY(!w.listening());
    QCOMPARE(told.filter(QStringLiteral("Звук недоступен")).size(), sound::Player::available() ? 0 : 1);
    act("Listen");
    w.hide();
    QVERIFY(!w.listening());
}

void TestSounds::decodedSoundsAreKeptWithinTheirBound()
{
    const QByteArray one = testcommon::squareWav(48000), two = testcommon::squareWav(24000, 500);
    sound::PcmCache cache(250000); // room for one of them: a second of stereo is 192,000 bytes
    QVERIFY(!cache.get("one", one, "one", 96000)); // asking never waits
    QCOMPARE(cache.wait("one", one, "one", 96000)->pcm.frames(), 48000);
    QCOMPARE(cache.get("one", one, "one", 96000)->pcm.frames(), 48000); // kept
    QCOMPARE(cache.wait("two", two, "two", 96000)->pcm.frames(), 24000);
    QCOMPARE(cache.heldBytes(), 24000 * 4); // the first went to make room
    QVERIFY(!cache.get("one", one, "one", 96000));
    // Cut short, it is decoded again when more of it is wanted.
    QCOMPARE(cache.wait("two", two, "two", 1000)->pcm.frames(), 24000);
    QVERIFY(cache.wait("three", one, "three", 4800)->cut);
    QCOMPARE(cache.wait("three", one, "three", 96000)->pcm.frames(), 48000);
}

void TestSounds::theMenuAndADropGiveASoundAndMarkTheSlide()
{
    QTemporaryDir dir;
    AppState state;
    QStringList told;
    state.message = [&](QWidget *, const controls::Message &m) { return told << m.text, controls::MsgResult::Ok; };
    frmBuffer w(state);
    for (int t = 0; t < 3; ++t)
        QVERIFY(w.append(testcommon::stageSlide(0))); // alike, so that only the mark tells them apart
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const auto act = [&](const char *name) { w.contextMenu()->findChild<QAction *>(QLatin1String(name))->trigger(); };
    const auto thumb = [&](int n) { return w.Picture1->grab(slides::layout::thumbRect(n)).toImage(); };

    const QString wav = testcommon::writeBytes(dir.path(), QStringLiteral("звук.wav"), testcommon::squareWav(4800));
    QString answer = testcommon::writeBytes(dir.path(), QStringLiteral("не звук.mp3"), "just words, no sound");
    w.askSound = [&](QWidget *, const QString &) { return answer; };
    w.choose(2, Qt::NoModifier);
    act("AddSound");
    QCOMPARE(told.size(), 1); // refused, and said why
    QVERIFY(!w.slides().store().sound(2));
    answer = wav;
    act("AddSound");
    QVERIFY(thumb(2) != thumb(1) && thumb(3) == thumb(1));

    w.askVolume = [](QWidget *, int start) { return start == 100 ? 30 : -1; };
    act("Volume");
    QCOMPARE(w.slides().store().sound(2).volume, 30);
    act("RemoveSound");
    QCOMPARE(thumb(2), thumb(1));
    QVERIFY(w.slides().undo());
    QVERIFY(thumb(2) != thumb(1));

    // A file dropped on slide 3.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(wav)});
    const QPoint at = slides::layout::thumbRect(3).center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.Picture1, &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.Picture1, &drop);
    QCOMPARE(marks(w.slides()), QStringLiteral("- звук.wav30 звук.wav100"));

    // Copied and pasted after slide 1, the slide brings its sound; undoing the paste takes it again.
    w.choose(3, Qt::NoModifier);
    QVERIFY(w.CopyChosen());
    w.choose(1, Qt::NoModifier);
    w.Paste();
    QCOMPARE(marks(w.slides()), QStringLiteral("- звук.wav100 звук.wav30 звук.wav100"));
    QVERIFY(w.slides().undo());
    QCOMPARE(marks(w.slides()), QStringLiteral("- звук.wav30 звук.wav100"));
}

void TestSounds::soundsFollowTheirSlidesAndUndo()
{
    SlideBuffer b;
    for (int t = 0; t < 6; ++t)
        QVERIFY(b.record(testcommon::stageSlide(t)));
    QVERIFY(b.setSound(2, clipA));
    QVERIFY(b.setSound(5, clipB));
    QVERIFY(b.setVolume({5}, 150));
    QVERIFY(!b.setVolume({1, 3}, 50)); // no sound there: nothing to change
    const QString start = QStringLiteral("- a100 - - b150 -");
    QCOMPARE(marks(b), start);
    struct Case {
        const char *what;
        std::function<bool(SlideBuffer &)> change;
        QString after;
    };
    const std::vector<Case> cases = {
        {"delete", [](SlideBuffer &s) { return s.remove({2, 3}); }, "- - b150 -"},
        {"duplicate", [](SlideBuffer &s) { return s.duplicate({5}); }, "- a100 - - b150 b150 -"},
        {"move", [](SlideBuffer &s) { return s.move({5}, 1); }, "b150 - a100 - - -"},
        {"clear", [](SlideBuffer &s) { return s.clear(); }, ""},
        {"remove sound", [](SlideBuffer &s) { return s.removeSound({1, 2, 5}); }, "- - - - - -"},
        {"volume", [](SlideBuffer &s) { return s.setVolume({2, 5}, 0); }, "- a0 - - b0 -"},
        {"another sound", [](SlideBuffer &s) { return s.setSound(2, clipB); }, "- b100 - - b150 -"},
        {"replace the picture", [](SlideBuffer &s) { return s.replace(5, testcommon::stageSlide(40)); },
         "- a100 - - b150 -"},
    };
    for (const Case &c : cases) {
        QVERIFY2(c.change(b), c.what);
        QCOMPARE(marks(b), c.after);
        QVERIFY2(b.undo(), c.what);
        QCOMPARE(marks(b), start);
        QVERIFY2(b.redo(), c.what);
        QCOMPARE(marks(b), c.after);
        QVERIFY(b.undo());
    }
    // The clip is shared, never copied, by every slide and step that holds it.
    QCOMPARE(b.store().sound(2).clip.get(), clipA.get());
}

void TestSounds::theJournalGivesTheSoundsBack()
{
    QTemporaryDir dir;
    SlideBuffer b;
    QStringList warnings;
    b.setJournal(dir.filePath(QStringLiteral("a")), [&](const QString &why) { warnings << why; });
    for (int t = 0; t < 5; ++t)
        QVERIFY(b.record(testcommon::stageSlide(t)));
    QVERIFY(b.setSound(1, clipA));
    QVERIFY(b.setSound(3, clipB));
    QVERIFY(b.setSound(4, clipB));
    QVERIFY(b.setVolume({3}, 200));
    QVERIFY(b.remove({1}));
    QVERIFY(b.undo());
    QVERIFY(b.removeSound({4}));
    // Slides added with their sounds (as pasting does), one of them larger than a journal record holds.
    const auto big = SoundClip::make(QByteArray(journal::SoundPiece + 1000, 'g'), QStringLiteral("g"));
    {
        SlideStore added;
        QVERIFY(added.append(testcommon::stageSlide(9)) && added.append(testcommon::stageSlide(10)));
        QVERIFY(added.setSound(2, {big, 70}));
        QVERIFY(b.addSeries(std::move(added)));
    }
    QVERIFY(b.flushJournal(5000));
    QVERIFY(warnings.isEmpty());
    // What a program started after a crash brings back.
    const auto replayed = [&](const QString &path, SlideBuffer &again) {
        QTemporaryDir other;
        QVERIFY(QFile::copy(path, other.filePath(QStringLiteral("journal-1-1.vlj"))));
        again.setJournal(other.path(), {});
        QVERIFY(again.findLeftOver().unsaved > 0);
    };
    {
        SlideBuffer again;
        replayed(b.journalPath(), again);
        QCOMPARE(marks(again), QStringLiteral("a100 - b200 - - - g70"));
        QCOMPARE(again.store().sound(1).clip->bytes, clipA->bytes);
        QCOMPARE(again.store().sound(7).clip->bytes, big->bytes);
        // The history came back with them.
        QVERIFY(again.undo());
        QVERIFY(again.undo());
        QCOMPARE(marks(again), QStringLiteral("a100 - b200 b100 -"));
    }
    // After a save the next journal begins with the slides held, their sounds among them.
    b.saved();
    QVERIFY(b.duplicate({3}));
    QVERIFY(b.flushJournal(5000));
    SlideBuffer again;
    replayed(b.journalPath(), again);
    QCOMPARE(marks(again), QStringLiteral("a100 - b200 b200 - - - g70"));
    QCOMPARE(again.store().sound(4).clip->bytes, clipB->bytes);
}

QTEST_MAIN(TestSounds)
#include "test_sounds.moc"
