// Recording from the main window: "ЗАПИСЬ" turns the stage into a slide and
// counts it, "Очистка" empties the buffer, "Сохранение" opens it, and the
// unsaved-slides flag moves only where it should.

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include "Program.h"
#include "controls/NumberFormat.h"
#include "slides/StageCapture.h"
#include "slides/frmBuffer.h"

using testcommon::Program;

namespace {

bool samePixels(const QImage &a, const QImage &b)
{
    return a.size() == b.size() && a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

QString countLabel(Program &p) { return p.main->Label3.at(1)->text(); }

} // namespace

class TestRecording : public QObject {
    Q_OBJECT
private slots:
    void theFirstRecordingCountsAndEnablesClearThenPreview();
    void aSlideIsTheStageExactlyAsShown();
    void theCounterKeepsThreeDigitsAndGrowsBeyond();
    void theRecordButtonSetsTheUnsavedFlagEvenAfterASave();
    void aRecordingThroughTheRoutineAloneLeavesTheFlag();
    void clearReturnsToTheStateBeforeTheFirstRecording();
    void aSlideThatCannotBeStoredIsReportedAndNothingIsLost();
    void theBufferOpensModallyAndClosingKeepsTheSlides();
    void savingFromTheBufferClearsTheFlagAndAFailedSaveKeepsIt();
};

void TestRecording::theFirstRecordingCountsAndEnablesClearThenPreview()
{
    Program p;
    QCOMPARE(countLabel(p), QStringLiteral("000"));
    QVERIFY(!p.main->Command1->isEnabled());
    QTest::mouseClick(p.main->Command2, Qt::LeftButton);
    QCOMPARE(countLabel(p), QStringLiteral("001"));
    QCOMPARE(p.main->SlideCount, 1);
    QVERIFY(p.main->Command1->isEnabled());
    QVERIFY(!p.main->Command8->isEnabled());
    QTest::mouseClick(p.main->Command2, Qt::LeftButton);
    QCOMPARE(countLabel(p), QStringLiteral("002"));
    QVERIFY(p.main->Command8->isEnabled());
    QCOMPARE(p.main->Buffer()->ImageCount(), 3);
    QVERIFY(!p.main->Buffer()->isVisible());
}

void TestRecording::aSlideIsTheStageExactlyAsShown()
{
    Program p;
    // A background of one colour fills the stage; its edge and the frame must not leak in.
    QImage back(600, 500, QImage::Format_RGB32);
    back.fill(qRgb(12, 200, 90));
    p.main->Picture3->setPicture(back);
    p.main->AniGIF2->hide();
    QCoreApplication::processEvents();
    p.main->SaveBuffer();
    const QImage slide = p.main->Buffer()->slide(1);
    QCOMPARE(slide.size(), QSize(396, 346));
    QCOMPARE(QColor(slide.pixel(200, 170)), QColor(12, 200, 90));
    QVERIFY(samePixels(slide, slides::captureStage(p.main->Picture7->client())));
    // A later slide does not change an earlier one.
    back.fill(qRgb(250, 10, 10));
    p.main->Picture3->setPicture(back);
    p.main->SaveBuffer();
    QCOMPARE(QColor(p.main->Buffer()->slide(1).pixel(200, 170)), QColor(12, 200, 90));
    QCOMPARE(QColor(p.main->Buffer()->slide(2).pixel(200, 170)), QColor(250, 10, 10));
    // A quick run: every slide, its thumbnail (made later, off the window's thread) and the capture box
    // keep their own picture.
    for (int k = 0; k < 10; ++k) {
        back.fill(qRgb(20 * k, 255 - 20 * k, 7));
        p.main->Picture3->setPicture(back);
        p.main->SaveBuffer();
    }
    for (int k = 0; k < 10; ++k) {
        QCOMPARE(QColor(p.main->Buffer()->slide(3 + k).pixel(200, 170)), QColor(20 * k, 255 - 20 * k, 7));
        QCOMPARE(QColor(p.main->Buffer()->slides().thumb(3 + k).pixel(37, 31)), QColor(20 * k, 255 - 20 * k, 7));
    }
    QVERIFY(samePixels(p.main->Picture4->picture(), p.main->Buffer()->slide(12)));
}

void TestRecording::theCounterKeepsThreeDigitsAndGrowsBeyond()
{
    Program p(false);
    for (int i = 1; i <= 1000; ++i) {
        p.main->SaveBuffer();
        if (i == 25)
            QCOMPARE(countLabel(p), QStringLiteral("025"));
    }
    QCOMPARE(countLabel(p), QStringLiteral("1000"));
    QCOMPARE(p.main->Buffer()->slideCount(), 1000);
}

void TestRecording::theRecordButtonSetsTheUnsavedFlagEvenAfterASave()
{
    Program p;
    p.main->Command2_Click();
    QVERIFY(p.state.SlidesUnsaved);
    p.main->Buffer()->Command2_Click();
    QVERIFY(!p.state.SlidesUnsaved);
    p.main->Command2_Click();
    QVERIFY(p.state.SlidesUnsaved);
}

void TestRecording::aRecordingThroughTheRoutineAloneLeavesTheFlag()
{
    // "Шаг" and "Синхро" record through the routine itself, never through the button.
    Program p;
    p.main->SaveBuffer();
    p.main->SaveBuffer();
    QVERIFY(!p.state.SlidesUnsaved);
    QCOMPARE(p.main->SlideCount, 2);
}

void TestRecording::clearReturnsToTheStateBeforeTheFirstRecording()
{
    Program p;
    for (int i = 0; i < 20; ++i)
        p.main->Command2_Click();
    QTest::mouseClick(p.main->Command1, Qt::LeftButton);
    QCOMPARE(p.main->Buffer()->ImageCount(), 1);
    QCOMPARE(countLabel(p), QStringLiteral("000"));
    QVERIFY(!p.main->Command1->isEnabled());
    QVERIFY(!p.main->Command8->isEnabled());
    QCOMPARE(p.main->SlideCount, 0);
    QVERIFY(p.state.SlidesUnsaved);
    QVERIFY(p.messages.isEmpty());
    QVERIFY(QDir(p.state.AnimationsFolder).entryList(QDir::Files).isEmpty());
    p.main->SaveBuffer();
    QCOMPARE(countLabel(p), QStringLiteral("001"));
    QCOMPARE(p.main->Buffer()->slideCount(), 1);
}

void TestRecording::aSlideThatCannotBeStoredIsReportedAndNothingIsLost()
{
    Program p;
    p.main->SaveBuffer();
    p.main->SaveBuffer();
    const QImage first = p.main->Buffer()->slide(1);
    frmBuffer *buffer = p.main->Buffer();
    // The stage changes, so the next slide needs room that is not there.
    QImage back(600, 500, QImage::Format_RGB32);
    for (int y = 0; y < back.height(); ++y)
        for (int x = 0; x < back.width(); ++x)
            back.setPixel(x, y, qRgb(x * 31 % 256, y * 17 % 256, (x * y) % 256));
    p.main->Picture3->setPicture(back);
    buffer->store().setByteLimit(buffer->store().packedBytes());
    p.main->Command2_Click();
    QCOMPARE(p.messages.size(), 1);
    QCOMPARE(p.messages[0].text, QStringLiteral("Не удалось сохранить слайд: недостаточно памяти."));
    QCOMPARE(p.messages[0].icon, controls::MsgIcon::Error);
    QVERIFY(p.messages[0].title.isEmpty());
    QCOMPARE(p.main->SlideCount, 2);
    QCOMPARE(countLabel(p), QStringLiteral("002"));
    QCOMPARE(buffer->ImageCount(), 3);
    QVERIFY(samePixels(buffer->slide(1), first));
    QCOMPARE(p.ended, 0);
    QVERIFY2(!p.state.SlidesUnsaved, "a failed recording is nothing to warn about at the exit");
    buffer->store().setByteLimit(-1);
    p.main->SaveBuffer();
    QCOMPARE(countLabel(p), QStringLiteral("003"));
}

void TestRecording::theBufferOpensModallyAndClosingKeepsTheSlides()
{
    Program p;
    p.main->Command2_Click();
    p.main->Command2_Click();
    QString total;
    bool modal = false;
    QTimer::singleShot(50, [&] {
        frmBuffer *b = p.main->Buffer();
        modal = b->isVisible() && QApplication::activeModalWidget() == b;
        total = b->Label1->text();
        b->Command1->click();
    });
    p.main->Command15_Click();
    QVERIFY(modal);
    QCOMPARE(total, QStringLiteral("Всего слайдов: 2"));
    QVERIFY(!p.main->Buffer()->isVisible());
    QCOMPARE(p.main->Buffer()->slideCount(), 2);
    QCOMPARE(p.main->SlideCount, 2);
}

void TestRecording::savingFromTheBufferClearsTheFlagAndAFailedSaveKeepsIt()
{
    Program p;
    for (int i = 0; i < 3; ++i)
        p.main->Command2_Click();
    QVERIFY(QDir(p.state.AnimationsFolder).mkdir(QStringLiteral("002.bmp")));
    p.main->Buffer()->Command2_Click();
    QCOMPARE(p.messages.last().text.section('\n', 0, 0),
             QStringLiteral("Не удалось сохранить все слайды: сохранено 2 из 3."));
    QVERIFY(p.state.SlidesUnsaved);

    QVERIFY(QDir(p.state.AnimationsFolder).rmdir(QStringLiteral("002.bmp")));
    QTimer::singleShot(20, [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("frmLoad") && w->isVisible())
                if (auto *ok = w->findChild<QPushButton *>(QStringLiteral("Command1")))
                    ok->click();
    });
    p.main->Buffer()->Command2_Click();
    QCOMPARE(p.messages.last().text.section('\n', 0, 0), QStringLiteral("Все слайды сохранены"));
    QVERIFY(!p.state.SlidesUnsaved);
    for (int i = 1; i <= 3; ++i)
        QVERIFY(samePixels(QImage(p.state.AnimationsFolder + numfmt::count3(i) + ".bmp"), p.main->Buffer()->slide(i)));
}

QTEST_MAIN(TestRecording)
#include "test_recording.moc"
