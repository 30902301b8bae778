// A project through the main window: saved with its keys and dialog, opened whole in a fresh program with
// an empty library, the questions about unsaved changes, a project held by a second program, the recent
// list, and the stage brought back after a crash.
#include <QKeyEvent>
#include <QMenu>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUndoStack>

#include "ProjectTestKit.h"
#include "controls/LayoutKeys.h"
#include "project/Document.h"
#include "project/SceneSnapshot.h"
#include "slides/SlideBuffer.h"
#include "slides/frmBuffer.h"

using controls::MsgResult;

namespace {

// Answers the file dialog with `path` and counts how often it was asked.
void answerFileWith(Program &p, const QString &path, int *asked = nullptr)
{
    p.main->document()->askFile = [path, asked](QWidget *, const QString &, const QString &, bool) {
        if (asked)
            ++*asked;
        return path;
    };
}

// Ctrl+key as a Russian layout gives it: the Cyrillic letter, with the key's place on the keyboard.
void pressRussian(Program &p, int cyrillicKey, quint32 scanCode, Qt::KeyboardModifiers mods = Qt::ControlModifier)
{
    QKeyEvent press(QEvent::KeyPress, cyrillicKey, mods, scanCode, 0, 0);
    QApplication::sendEvent(p.main->Command2, &press);
}

QList<QImage> allSlides(Program &p)
{
    QList<QImage> out;
    for (int i = 1; i <= p.main->Buffer()->slideCount(); ++i)
        out << p.main->Buffer()->slide(i);
    return out;
}

} // namespace

class TestDocument : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void aSavedProjectOpensWholeAndRecordsAsBefore();
    void unsavedChangesAreAskedAboutOnce();
    void aProjectHeldElsewhereOpensReadOnly();
    void theStageComesBackAfterACrash();
    void captionsAndTheTitleCardComeBackFromTheFileAndTheJournal();
};

void TestDocument::aSavedProjectOpensWholeAndRecordsAsBefore()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Мой мульт/Мультик.vellumo"));
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QTemporaryDir state;
    QImage expected;
    project::SceneSnapshot before;
    QList<QImage> slidesBefore;
    {
        Program a(state.path(), {});
        buildScene(a);
        a.state.SlidesUnsaved = true;
        answerFileWith(a, dir.filePath(QStringLiteral("Мой мульт/Мультик")));   // the ending is added
        pressRussian(a, 0x42B, 39);   // Ctrl+Ы: Ctrl+S under a Russian layout
        QCOMPARE(a.main->windowTitle(), QStringLiteral("Мультик[*] — Vellumo"));
        QVERIFY(!a.main->isWindowModified());
        QVERIFY(!a.state.SlidesUnsaved);
        // The history of the slides stays through a project save.
        QVERIFY(a.main->Buffer()->slides().history().canUndo());
        before = project::takeSnapshot(*a.main);
        slidesBefore = allSlides(a);
        QVERIFY(a.main->SaveBuffer());
        QVERIFY(a.main->isWindowModified());
        expected = a.main->Buffer()->slide(a.main->Buffer()->slideCount());
        // Ending a named project with changes asks; "Нет" leaves them, and the slides' own warning stays.
        a.answers = {MsgResult::No};
        a.main->Command14_Click();
        QCOMPARE(a.ended, 1);
        QCOMPARE(a.messages.last().text, QStringLiteral("Сохранить изменения в проекте «Мультик»?"));
        QCOMPARE(a.main->document()->recent(), QStringList{path});
    }
    // Another computer: an empty library, the project given on the command line.
    QTemporaryDir elsewhere;
    Program b(elsewhere.path(), {});
    QVERIFY(b.main->document()->openFile(path));
    QCOMPARE(b.main->windowTitle(), QStringLiteral("Мультик[*] — Vellumo"));
    QVERIFY(!b.main->isWindowModified());
    QCOMPARE(project::comparable(project::takeSnapshot(*b.main)).entries, before.entries);
    const project::SceneSnapshot after = project::takeSnapshot(*b.main);
    QCOMPARE(after.objects.size(), before.objects.size());
    for (int i = 0; i < after.objects.size(); ++i)
        QCOMPARE(after.objects[i].picture, before.objects[i].picture);
    QCOMPARE(after.characterCount, before.characterCount);
    QCOMPARE(after.step, 400);
    QCOMPARE(b.state.PreviewRate, 7);
    QCOMPARE(allSlides(b), slidesBefore);
    QVERIFY(!b.main->Buffer()->slides().history().canUndo());
    QVERIFY(b.main->SaveBuffer());
    QCOMPARE(b.main->Buffer()->slide(b.main->Buffer()->slideCount()), expected);
}

void TestDocument::unsavedChangesAreAskedAboutOnce()
{
    QTemporaryDir dir, state;
    const QString path = dir.filePath(QStringLiteral("a.vellumo"));
    Program p(state.path(), {});
    frmMain &m = *p.main;
    project::Document &doc = *m.document();
    // Untitled and untouched: the title as it always was, and nothing to ask.
    QCOMPARE(m.windowTitle(), QStringLiteral(" Vellumo"));
    // The menu's access key as a Russian layout gives it: Alt+Ф opens "Файл".
    QApplication::setActiveWindow(&m);
    QVERIFY(QTest::qWaitForWindowActive(&m));
    QTest::sendKeyEvent(QTest::Press, &m, Qt::Key(0x424), QStringLiteral("ф"), Qt::AltModifier);
    QTRY_VERIFY(m.mnuFile->isVisible());
    m.mnuFile->close();
    QVERIFY(m.SaveBuffer());
    QVERIFY(doc.isModified());
    // "Отмена" keeps everything; "Нет" drops it for a new project.
    p.answers = {MsgResult::Cancel};
    QVERIFY(!doc.newProject());
    QCOMPARE(m.Buffer()->slideCount(), 1);
    QCOMPARE(p.messages.last().text, QStringLiteral("Сохранить изменения в проекте «Без названия»?"));
    p.answers = {MsgResult::No};
    QVERIFY(doc.newProject());
    QCOMPARE(m.Buffer()->slideCount(), 0);
    QVERIFY(!doc.isModified());
    // "Да" saves through the dialog first; a cancelled dialog cancels the whole step.
    QVERIFY(m.SaveBuffer());
    answerFileWith(p, QString());
    p.answers = {MsgResult::Yes};
    QVERIFY(!doc.newProject());
    int asked = 0;
    answerFileWith(p, path, &asked);
    p.answers = {MsgResult::Yes};
    QVERIFY(doc.newProject());
    QCOMPARE(asked, 1);
    QVERIFY(QFile::exists(path));
    // A second save of an unchanged project asks for no file; the recent list keeps 8, newest first.
    for (int i = 0; i < project::Document::RecentCount + 1; ++i) {
        answerFileWith(p, dir.filePath(QStringLiteral("p%1.vellumo").arg(i)));
        QVERIFY2(doc.saveAs(), qPrintable(p.messages.value(p.messages.size() - 1).text));
    }
    QCOMPARE(doc.recent().size(), project::Document::RecentCount);
    QCOMPARE(doc.recent().first(), dir.filePath(QStringLiteral("p8.vellumo")));
    Program next(state.path(), {});
    QCOMPARE(next.main->document()->recent(), doc.recent());
}

void TestDocument::aProjectHeldElsewhereOpensReadOnly()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shared.vellumo"));
    Program first;
    answerFileWith(first, path);
    QVERIFY(first.main->SaveBuffer());
    QVERIFY(first.main->document()->save());
    Program second;
    second.answers = {MsgResult::No};
    QVERIFY(!second.main->document()->openFile(path));
    second.answers = {MsgResult::Yes};
    QVERIFY(second.main->document()->openFile(path));
    QCOMPARE(second.main->windowTitle(), QStringLiteral("shared (только чтение)[*] — Vellumo"));
    QCOMPARE(second.main->Buffer()->slideCount(), 1);
    // Saving goes to another name; the held file is refused.
    int asked = 0;
    answerFileWith(second, path, &asked);
    QVERIFY(!second.main->document()->save());
    QCOMPARE(asked, 1);
    QVERIFY(second.messages.last().text.contains(QStringLiteral("открыт в другой копии программы")));
}

void TestDocument::theStageComesBackAfterACrash()
{
    QTemporaryDir state, crashed;
    project::SceneSnapshot before;
    QImage stageBefore;
    {
        Program first(state.path(), {});
        buildScene(first);
        first.main->document()->checkScene();
        before = project::comparable(project::takeSnapshot(*first.main));
        stageBefore = stage(first);
        // What a crash leaves: the journal as it is on the disk now.
        QVERIFY(first.main->Buffer()->slides().flushJournal(5000));
        const QString journal = first.main->Buffer()->slides().journalPath();
        QVERIFY(QFile::copy(journal, QDir(crashed.path()).filePath(QFileInfo(journal).fileName())));
    }
    Program second(crashed.path(), {MsgResult::Yes});
    QVERIFY(second.messages.value(0).text.contains(QStringLiteral("Восстановить?")));
    QCOMPARE(second.main->Buffer()->slideCount(), 3);
    QCOMPARE(stage(second), stageBefore);
    QCOMPARE(project::comparable(project::takeSnapshot(*second.main)).entries, before.entries);
    QVERIFY(second.main->isWindowModified() || second.main->document()->isModified());
}

void TestDocument::captionsAndTheTitleCardComeBackFromTheFileAndTheJournal()
{
    QTemporaryDir dir, state, crashed;
    text::Caption speech;
    speech.lettering.text = QStringLiteral("Привет!\nКак дела?");
    speech.shape = text::Shape::Thought;
    text::TitleCard title;
    title.lettering.text = QStringLiteral("Глава первая");
    project::SceneSnapshot saved;
    {
        Program a(state.path(), {});
        buildScene(a);
        a.main->askCaption = [&](QWidget *, text::Caption &c) { return c = speech, true; };
        a.main->askTitleCard = [&](QWidget *, text::TitleCard &c) { return c = title, true; };
        pressRussian(a, 0x415, 28);   // Ctrl+Е: Ctrl+T under a Russian layout
        a.main->Title_Click();
        answerFileWith(a, dir.filePath("Титры.vellumo"));
        QVERIFY(a.main->document()->saveAs());
        saved = project::takeSnapshot(*a.main);
        // Moved after the save: the journal has it, the file not.
        twips::move(a.main->Image1.at(3), 300, 600);
        a.main->document()->checkScene();
        QVERIFY(a.main->Buffer()->slides().flushJournal(5000));
        const QFileInfo journal(a.main->Buffer()->slides().journalPath());
        QVERIFY(QFile::copy(journal.filePath(), QDir(crashed.path()).filePath(journal.fileName())));
    }
    Program opened(QString(), {});
    QVERIFY(opened.main->document()->openFile(dir.filePath("Титры.vellumo")));
    QCOMPARE(project::takeSnapshot(*opened.main), saved);
    Program recovered(crashed.path(), {MsgResult::Yes});
    QCOMPARE(twips::geometry(recovered.main->Image1.at(3)).topLeft(), QPointF(300, 600));
    QCOMPARE(recovered.main->Captions.value(3), speech);
    QCOMPARE(recovered.main->titleCard(), std::optional<text::TitleCard>(title));
}

QTEST_MAIN(TestDocument)
#include "test_document.moc"
