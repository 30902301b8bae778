// "Завершение работы": the warning about slides recorded and not saved, the
// slide buffer offered modally, and the end of the program on every path.

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "Program.h"
#include "slides/frmBuffer.h"

using testcommon::Program;

namespace {

// Runs `act` on the slide buffer once it shows modally; `seen` tells whether it did.
void whenBufferShows(Program &p, bool &seen, std::function<void(frmBuffer *)> act)
{
    auto *poll = new QTimer(p.main.get());
    QObject::connect(poll, &QTimer::timeout, poll, [&p, &seen, poll, act] {
        frmBuffer *b = p.main->findChild<frmBuffer *>();
        if (b && b->isVisible() && QApplication::activeModalWidget() == b) {
            seen = true;
            poll->deleteLater();
            act(b);
        }
    });
    poll->start(10);
}

void record(Program &p, int slides)
{
    for (int i = 0; i < slides; ++i)
        p.main->Command2_Click();
}

} // namespace

class ExitTest : public QObject {
    Q_OBJECT
private slots:
    void emptyBufferEndsAtOnceWhateverTheUnsavedFlag();
    void recordedThenClearedEndsWithoutAWarning();
    void slidesNotRecordedWithTheRecordButtonEndWithoutAWarning();
    void savedSlidesEndWithoutAWarning();
    void cancelAtTheWarningEndsTheProgram();
    void okShowsTheBufferModallyThenEndsEvenWhenNothingWasSaved();
};

void ExitTest::emptyBufferEndsAtOnceWhateverTheUnsavedFlag()
{
    for (bool unsaved : {false, true}) {
        Program p;
        p.state.SlidesUnsaved = unsaved;
        p.main->Command14_Click();
        QVERIFY(p.messages.isEmpty());
        QCOMPARE(p.ended, 1);
    }
}

void ExitTest::recordedThenClearedEndsWithoutAWarning()
{
    Program p;
    record(p, 2);
    QVERIFY(p.state.SlidesUnsaved);
    p.main->Command1_Click(); // "Очистка"
    p.main->Command14_Click();
    QVERIFY(p.messages.isEmpty());
    QCOMPARE(p.ended, 1);
}

void ExitTest::slidesNotRecordedWithTheRecordButtonEndWithoutAWarning()
{
    Program p;
    // As the "Синхро" steps and "Шаг" record: the slide routine alone leaves the flag down.
    p.main->SaveBuffer();
    p.main->SaveBuffer();
    QCOMPARE(p.main->Buffer()->ImageCount(), 3);
    QVERIFY(!p.state.SlidesUnsaved);
    p.main->Command14_Click();
    QVERIFY(p.messages.isEmpty());
    QCOMPARE(p.ended, 1);
}

void ExitTest::savedSlidesEndWithoutAWarning()
{
    Program p;
    record(p, 2);
    p.state.SlidesUnsaved = false; // what a successful save leaves behind
    p.main->Command14_Click();
    QVERIFY(p.messages.isEmpty());
    QCOMPARE(p.ended, 1);
}

void ExitTest::cancelAtTheWarningEndsTheProgram()
{
    Program p;
    record(p, 1);
    p.answers << controls::MsgResult::Cancel;
    bool bufferShown = false;
    whenBufferShows(p, bufferShown, [](frmBuffer *b) { b->Command1_Click(); });
    p.main->Command14_Click();
    QCOMPARE(p.messages.size(), 1);
    const controls::Message &m = p.messages[0];
    QCOMPARE(m.text, QStringLiteral("Буфер не пустой, сохраните слайды."));
    QCOMPARE(m.title, QStringLiteral("Внимание..."));
    QCOMPARE(m.icon, controls::MsgIcon::None);
    QCOMPARE(m.buttons, controls::MsgButtons::OkCancel);
    QVERIFY(!bufferShown);
    QCOMPARE(p.ended, 1);
}

void ExitTest::okShowsTheBufferModallyThenEndsEvenWhenNothingWasSaved()
{
    Program p;
    record(p, 3);
    p.answers << controls::MsgResult::Ok;
    bool bufferShown = false;
    int endedWhileShown = -1;
    whenBufferShows(p, bufferShown, [&](frmBuffer *b) {
        endedWhileShown = p.ended;
        b->Command1_Click(); // "Закрыть" without saving
    });
    p.main->Command14_Click();
    QVERIFY(bufferShown);
    QCOMPARE(endedWhileShown, 0); // the program waits for the buffer to be closed
    QCOMPARE(p.messages.size(), 1);
    QCOMPARE(p.ended, 1);
    QVERIFY(p.state.SlidesUnsaved);
    QCOMPARE(p.main->Buffer()->ImageCount(), 4);
}

QTEST_MAIN(ExitTest)
#include "test_exit.moc"
