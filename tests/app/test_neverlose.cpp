// Never losing a slide, as the user meets it: undo and redo from the
// keyboard under a Russian layout, choosing and deleting slides in the
// buffer, and the question at start that brings back slides of a run that
// ended without saving them.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include "Program.h"
#include "controls/Button.h"
#include "controls/PictureBox.h"
#include "controls/SpinControl.h"
#include "preview/frmView.h"
#include "slides/Journal.h"
#include "slides/SlideFiles.h"
#include "slides/ThumbLayout.h"
#include "slides/frmBuffer.h"

using testcommon::Program;
using controls::MsgResult;

namespace {

// The key events a Russian layout gives for Ctrl with the keys of Z and Y:
// Cyrillic text and key, the Latin key's place on the keyboard.
void russianKey(QWidget *to, bool z, Qt::KeyboardModifiers mods = Qt::ControlModifier)
{
    const int key = z ? 0x042f : 0x041d; // "Я", "Н"
    const quint32 scan = z ? 52 : 29;
    const quint32 sym = z ? 0x6d1 : 0x6ce;
    const QString text = z ? QStringLiteral("я") : QStringLiteral("н");
    QKeyEvent press(QEvent::KeyPress, key, mods, scan, sym, 0, text);
    QApplication::sendEvent(to, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, scan, sym, 0, text);
    QApplication::sendEvent(to, &release);
}

QString count(Program &p) { return p.main->Label3.at(1)->text(); }

// Records `n` slides with "ЗАПИСЬ", the background moved before each so every slide differs.
void recordDifferent(Program &p, int n)
{
    for (int i = 0; i < n; ++i) {
        p.main->UpDown3->setValue(p.main->UpDown3->value() + 100);
        QCoreApplication::processEvents();
        p.main->Command2_Click();
    }
}

std::vector<QImage> slidesOf(frmBuffer *b)
{
    std::vector<QImage> out;
    for (int i = 1; i <= b->slideCount(); ++i)
        out.push_back(b->slide(i));
    return out;
}

void clickThumb(frmBuffer *b, int n, Qt::KeyboardModifiers mods = {}, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mouseClick(b->Picture1, button, mods, slides::layout::thumbRect(n).center());
}

// The journals in `folder`, once no program holds them any more.
bool journalsFree(const QString &folder)
{
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*.vlj")}, QDir::Files)) {
        const int fd = ::open(QFile::encodeName(folder + QLatin1Char('/') + name).constData(), O_RDONLY);
        const bool locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (fd >= 0)
            ::close(fd);
        if (locked)
            return false;
    }
    return true;
}

QStringList journals(const QString &folder) { return QDir(folder).entryList({QStringLiteral("*.vlj")}, QDir::Files); }

} // namespace

class NeverLoseTest : public QObject {
    Q_OBJECT
private slots:
    void undoAndRedoKeysWorkUnderARussianLayout();
    void aClearIsUndoneWithEverySlide();
    void chosenSlidesAreDeletedAndTheRestCloseRanks();
    void duplicatingFromTheContextMenu();
    void deletingEverySlideDisablesClearAndPreview();
    void deletingBeforeThePreviewWasEverOpened();
    void slidesOfARunClosedWithTheCloseBoxAreOfferedAtStart();
    void theQuestionNamesWhatYesBringsBack();
    void answeringNoRemovesTheJournalAndSavingLeavesNone();
    void aNewerJournalOrAnUnwritableFolderIsToldOnce();
    void aJournalRemovedWhileRecordingIsWrittenAgain();
};

void NeverLoseTest::undoAndRedoKeysWorkUnderARussianLayout()
{
    Program p;
    recordDifferent(p, 3);
    const QImage third = p.main->Buffer()->slide(3);
    QCOMPARE(count(p), QStringLiteral("003"));
    // The step box has the focus: it must not take "я" for a search.
    p.main->Combo1->setFocus();
    russianKey(p.main->Combo1, true);
    QCOMPARE(count(p), QStringLiteral("002"));
    QCOMPARE(p.main->SlideCount, 2);
    QVERIFY(p.main->Command8->isEnabled());
    russianKey(p.main->List1, true);
    QCOMPARE(count(p), QStringLiteral("001"));
    QVERIFY(!p.main->Command8->isEnabled());
    QVERIFY(p.main->Command1->isEnabled());
    russianKey(p.main->Combo1, true, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(count(p), QStringLiteral("002"));
    russianKey(p.main->Command2, false);
    QCOMPARE(count(p), QStringLiteral("003"));
    QCOMPARE(p.main->Buffer()->slide(3), third);
    // The Latin layout's keys, through Qt's own key handling.
    QTest::keyClick(p.main->Command15, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(count(p), QStringLiteral("002"));
    QTest::keyClick(p.main->Command15, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(count(p), QStringLiteral("003"));
    // Undo past the start of the history stops at nothing.
    for (int k = 0; k < 5; ++k)
        russianKey(p.main->Combo1, true);
    QCOMPARE(count(p), QStringLiteral("000"));
    QVERIFY(!p.main->Command1->isEnabled());
    QVERIFY(!p.main->Command8->isEnabled());
    // A plain "я" typed into the step box is no undo.
    russianKey(p.main->Combo1, true, Qt::NoModifier);
    russianKey(p.main->Combo1, false);
    QCOMPARE(count(p), QStringLiteral("001"));
}

void NeverLoseTest::aClearIsUndoneWithEverySlide()
{
    Program p;
    recordDifferent(p, 20);
    const std::vector<QImage> before = slidesOf(p.main->Buffer());
    p.main->Command1->click();
    QCOMPARE(count(p), QStringLiteral("000"));
    QVERIFY(!p.main->Command1->isEnabled());
    QTest::keyClick(p.main.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(count(p), QStringLiteral("020"));
    QVERIFY(p.main->Command1->isEnabled());
    QVERIFY(p.main->Command8->isEnabled());
    QVERIFY(slidesOf(p.main->Buffer()) == before);
    // The redo clears again.
    QTest::keyClick(p.main.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(p.main->Buffer()->slideCount(), 0);
}

void NeverLoseTest::chosenSlidesAreDeletedAndTheRestCloseRanks()
{
    Program p;
    recordDifferent(p, 10);
    p.state.SlidesUnsaved = false;
    frmBuffer *b = p.main->Buffer();
    const std::vector<QImage> before = slidesOf(b);
    b->show();
    QVERIFY(QTest::qWaitForWindowExposed(b));
    clickThumb(b, 2);
    clickThumb(b, 4, Qt::ShiftModifier);
    clickThumb(b, 9, Qt::ControlModifier);
    clickThumb(b, 10, Qt::ControlModifier);
    clickThumb(b, 10, Qt::ControlModifier);
    QCOMPARE(b->chosen(), (std::set<int>{2, 3, 4, 9}));
    // The chosen wear a clear frame in the gap around their thumbnails; the others do not.
    const QImage canvas = b->Picture1->grab().toImage();
    const QRect second = slides::layout::thumbRect(2), first = slides::layout::thumbRect(1);
    QCOMPARE(canvas.pixelColor(second.left() - 2, second.center().y()), QColor(255, 255, 0));
    QCOMPARE(canvas.pixelColor(first.left() - 2, first.center().y()), QColor(Qt::black));

    QTest::keyClick(b->Command1, Qt::Key_Delete);
    QCOMPARE(b->slideCount(), 6);
    QCOMPARE(b->Label1->text(), QStringLiteral("Всего слайдов: 6"));
    QCOMPARE(count(p), QStringLiteral("006"));
    QVERIFY(p.state.SlidesUnsaved);
    const std::vector<int> left{1, 5, 6, 7, 8, 10};
    for (size_t k = 0; k < left.size(); ++k)
        QCOMPARE(b->slide(int(k + 1)), before[size_t(left[k] - 1)]);
    // The thumbnails close ranks: the second place now shows the old fifth slide.
    const QImage after = b->Picture1->grab().toImage();
    QCOMPARE(after.copy(second), b->slides().thumb(2).convertToFormat(after.format()));

    // Undo in the buffer window brings them back in their places, redo takes them again.
    russianKey(b->Command2, true);
    QVERIFY(slidesOf(b) == before);
    QCOMPARE(count(p), QStringLiteral("010"));
    russianKey(b->Command2, false);
    QCOMPARE(count(p), QStringLiteral("006"));

    // Saving numbers the files without gaps.
    b->Command2_Click();
    QCOMPARE(QDir(p.state.AnimationsFolder).entryList(QDir::Files),
             (QStringList{"001.bmp", "002.bmp", "003.bmp", "004.bmp", "005.bmp", "006.bmp"}));
    QCOMPARE(QImage(p.state.AnimationsFolder + QStringLiteral("002.bmp")).convertToFormat(QImage::Format_BGR888),
             before[4]);
    b->hide();
}

void NeverLoseTest::duplicatingFromTheContextMenu()
{
    Program p;
    recordDifferent(p, 5);
    frmBuffer *b = p.main->Buffer();
    const std::vector<QImage> before = slidesOf(b);
    b->show();
    QVERIFY(QTest::qWaitForWindowExposed(b));
    clickThumb(b, 1);
    // A right click on a slide not chosen chooses it alone and offers the menu.
    clickThumb(b, 3, {}, Qt::RightButton);
    QCOMPARE(b->chosen(), std::set<int>{3});
    QMenu *menu = b->contextMenu();
    QTRY_VERIFY(menu->isVisible());
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << a->text();
    QCOMPARE(texts, (QStringList{QStringLiteral("Удалить"), QStringLiteral("Дублировать"),
                                 QStringLiteral("Длительность…"), QString(),
                                 QStringLiteral("Записывать после этого слайда"), QStringLiteral("Записывать в конец"),
                                 QStringLiteral("Заменить слайд"), QString(), QStringLiteral("Вырезать"),
                                 QStringLiteral("Копировать"), QStringLiteral("Вставить"), QString(),
                                 QStringLiteral("Добавить звук…"), QStringLiteral("Записать голос…"),
                                 QStringLiteral("Прослушать"), QStringLiteral("Громкость…"),
                                 QStringLiteral("Убрать звук")}));
    menu->actions().at(1)->trigger();
    menu->hide();
    QCOMPARE(b->slideCount(), 6);
    QCOMPARE(b->slide(4), before[2]);
    QCOMPARE(b->slide(5), before[3]);
    QCOMPARE(count(p), QStringLiteral("006"));
    // The copy is chosen: "Удалить" from the menu takes it away again.
    QCOMPARE(b->chosen(), std::set<int>{4});
    menu->actions().at(0)->trigger();
    QVERIFY(slidesOf(b) == before);
    b->hide();
}

void NeverLoseTest::deletingEverySlideDisablesClearAndPreview()
{
    Program p;
    recordDifferent(p, 12);
    frmBuffer *b = p.main->Buffer();
    b->choose(1, {});
    b->choose(12, Qt::ShiftModifier);
    b->DeleteChosen();
    QCOMPARE(b->slideCount(), 0);
    QCOMPARE(count(p), QStringLiteral("000"));
    QVERIFY(!p.main->Command1->isEnabled());
    QVERIFY(!p.main->Command8->isEnabled());
    b->show();
    QCOMPARE(b->Label1->text(), QStringLiteral("Всего слайдов: 0"));
    b->hide();
    // Exit with the buffer empty ends at once, whatever SlidesUnsaved holds.
    p.main->Command14_Click();
    QVERIFY(p.messages.isEmpty());
    QCOMPARE(p.ended, 1);
}

void NeverLoseTest::deletingBeforeThePreviewWasEverOpened()
{
    Program p;
    recordDifferent(p, 5);
    frmBuffer *b = p.main->Buffer();
    const std::vector<QImage> before = slidesOf(b);
    b->choose(2, {});
    b->choose(4, Qt::ControlModifier);
    b->DeleteChosen();
    frmView *v = p.main->View();
    v->show();
    QTRY_COMPARE(v->Slider1->maximum(), 3);
    const std::vector<int> left{1, 3, 5};
    for (int k = 1; k <= 3; ++k) {
        v->Slider1->setSliderPosition(k);
        v->Slider1_Scroll();
        QCOMPARE(v->Picture1->picture(), before[size_t(left[size_t(k - 1)] - 1)]);
    }
    v->Command1_Click();
}

void NeverLoseTest::slidesOfARunClosedWithTheCloseBoxAreOfferedAtStart()
{
    QTemporaryDir state;
    std::vector<QImage> before;
    {
        Program first(state.path(), {});
        recordDifferent(first, 3);
        // A slide of the "Синхро" kind counts as unsaved too, though it leaves SlidesUnsaved alone.
        first.main->SaveBuffer();
        before = slidesOf(first.main->Buffer());
        first.main->close();
        QCOMPARE(first.ended, 1);
        QVERIFY(first.messages.isEmpty());
        QCOMPARE(journals(state.path()).size(), 1);
    }
    QTRY_VERIFY(journalsFree(state.path()));
    Program second(state.path(), {MsgResult::Yes});
    QCOMPARE(second.messages.size(), 1);
    QCOMPARE(second.messages[0].text, QStringLiteral("Найдено несохранённых слайдов с прошлого раза: 4. Восстановить?"));
    QCOMPARE(second.messages[0].buttons, controls::MsgButtons::YesNo);
    QVERIFY(slidesOf(second.main->Buffer()) == before);
    QCOMPARE(count(second), QStringLiteral("004"));
    QCOMPARE(second.main->SlideCount, 4);
    QVERIFY(second.main->Command1->isEnabled());
    QVERIFY(second.main->Command8->isEnabled());
    QVERIFY(second.state.SlidesUnsaved);
    // The journal is now the second program's own: recording goes on into it.
    recordDifferent(second, 1);
    QCOMPARE(journals(state.path()).size(), 1);
    // A third program started meanwhile is not offered what the second holds.
    Program third(state.path(), {});
    QVERIFY(third.messages.isEmpty());
    QCOMPARE(third.main->Buffer()->slideCount(), 0);
}

void NeverLoseTest::theQuestionNamesWhatYesBringsBack()
{
    // Two slides saved, one more recorded: "Да" brings back all three, one of them never saved.
    QTemporaryDir state;
    {
        Program first(state.path(), {});
        recordDifferent(first, 2);
        first.main->Buffer()->Command2_Click();
        recordDifferent(first, 1);
        first.main->close();
    }
    QTRY_VERIFY(journalsFree(state.path()));
    Program second(state.path(), {MsgResult::Yes});
    QCOMPARE(second.messages.size(), 1);
    QCOMPARE(second.messages[0].text,
             QStringLiteral("Найдено слайдов с прошлого раза: 3, из них не сохранено: 1. Восстановить?"));
    QCOMPARE(second.main->Buffer()->slideCount(), 3);
}

void NeverLoseTest::answeringNoRemovesTheJournalAndSavingLeavesNone()
{
    QTemporaryDir state;
    {
        Program first(state.path(), {});
        recordDifferent(first, 2);
        // Exit without saving after the warning: the slides are offered at the next start.
        first.answers = {MsgResult::Cancel};
        first.main->Command14_Click();
        QCOMPARE(first.ended, 1);
    }
    QTRY_VERIFY(journalsFree(state.path()));
    {
        Program second(state.path(), {MsgResult::No});
        QCOMPARE(second.messages.size(), 1);
        QCOMPARE(second.main->Buffer()->slideCount(), 0);
        QCOMPARE(count(second), QStringLiteral("000"));
        QVERIFY(journals(state.path()).isEmpty());
        // Recorded and saved: the journal stays after the save, the end leaves none.
        recordDifferent(second, 2);
        QCOMPARE(journals(state.path()).size(), 1);
        second.main->Buffer()->Command2_Click();
        QCOMPARE(journals(state.path()).size(), 1);
        QVERIFY(!second.main->Buffer()->slides().undo());
        second.main->Command14_Click();
        QVERIFY(journals(state.path()).isEmpty());
    }
    Program third(state.path(), {});
    QVERIFY(third.messages.isEmpty());
}

void NeverLoseTest::aNewerJournalOrAnUnwritableFolderIsToldOnce()
{
    QTemporaryDir state;
    QFile future(state.filePath(QStringLiteral("journal-7-7.vlj")));
    QVERIFY(future.open(QIODevice::WriteOnly));
    future.write(slides::journal::header(slides::journal::FormatVersion + 1));
    future.close();
    QVERIFY(slides::writeFileWhole(state.filePath(QStringLiteral("journal-8-8.vlj")), "not a journal"));
    {
        Program p(state.path(), {});
        QCOMPARE(p.messages.size(), 2);
        QVERIFY2(p.messages[0].text.contains(QStringLiteral("более новой версией")), qPrintable(p.messages[0].text));
        QVERIFY(p.messages[0].text.contains(QStringLiteral("journal-7-7.vlj.kept")));
        QVERIFY(p.messages[1].text.contains(QStringLiteral("повреждён")));
        QVERIFY(p.messages[1].text.contains(state.filePath(QStringLiteral("journal-8-8.vlj.damaged"))));
        QCOMPARE(p.main->Buffer()->slideCount(), 0);
    }
    // A state folder that cannot be made: recording goes on, and the user hears of it once.
    Program p(state.filePath(QStringLiteral("journal-7-7.vlj.kept/state")), {});
    recordDifferent(p, 3);
    QCOMPARE(p.messages.size(), 1);
    QVERIFY(p.messages[0].text.startsWith(QStringLiteral("Восстановление слайдов после сбоя отключено")));
    QCOMPARE(count(p), QStringLiteral("003"));
}

void NeverLoseTest::aJournalRemovedWhileRecordingIsWrittenAgain()
{
    QTemporaryDir state;
    {
        Program first(state.path(), {});
        recordDifferent(first, 2);
        // A clean-up tool removes the journal; the next slide finds it gone and writes everything anew.
        QVERIFY(first.main->Buffer()->slides().flushJournal(5000));
        QVERIFY(QFile::remove(first.main->Buffer()->slides().journalPath()));
        recordDifferent(first, 1);
        QTRY_COMPARE(journals(state.path()).size(), 1);
        first.main->close();
    }
    QTRY_VERIFY(journalsFree(state.path()));
    Program second(state.path(), {MsgResult::Yes});
    QCOMPARE(second.main->Buffer()->slideCount(), 3);
}

QTEST_MAIN(NeverLoseTest)
#include "test_neverlose.moc"
