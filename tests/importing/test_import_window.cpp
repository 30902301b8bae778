// The import window and the ways into it: what it asks for each kind of picture, Enter taking the guess
// through Ctrl+I (under a Russian layout too) into the picker at once, files dropped on the stage placed
// where they were dropped, a failed write named in a message, and removing one's own asset.
#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QUrl>

#include "../picker/PickerTestKit.h"
#include "importing/frmImport.h"

using controls::MsgResult;
using importing::frmImport;
using testcommon::Program;

namespace {

// Ctrl+Ш, which is Ctrl+I under a Russian layout, pressed in the main window.
void pressCtrlI(Program &p)
{
    QKeyEvent press(QEvent::KeyPress, 0x428, Qt::ControlModifier, 31, 0, 0);
    QApplication::sendEvent(p.main->Command2, &press);
}

void answerImportWith(Program &p, const QStringList &paths)
{
    p.main->askImportFiles = [paths](QWidget *, const QString &) { return paths; };
}

// Presses Enter in the import window once its preview is on show.
void enterWhenShown()
{
    testcommon::whenShown<frmImport>([](frmImport *w) {
        QTRY_VERIFY(w->previewReady());
        QTest::keyClick(w, Qt::Key_Return);
    });
}

} // namespace

class TestImportWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void theWindowAsksWhatEachPictureNeeds_data();
    void theWindowAsksWhatEachPictureNeeds();
    void enterTakesTheGuessAndThePickerShowsItAtOnce();
    void aDropOnTheStagePlacesTheAssetWhereItFell();
    void aFailedWriteIsNamedAndCancelWritesNothing();
    void onlyTheUsersOwnAssetsAreRemoved();
};

void TestImportWindow::theWindowAsksWhatEachPictureNeeds_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("guess");
    QTest::addColumn<bool>("rate");
    QTest::addColumn<bool>("grid");
    QTest::addColumn<bool>("scaled");
    QTest::addColumn<int>("frames");
    QTest::newRow("a small picture: a prop") << "still" << "optProp" << false << false << false << 1;
    QTest::newRow("an animated GIF: a character, its own timing") << "gif" << "optCharacter" << false << false
                                                                   << false << 3;
    QTest::newRow("a photo: a background, made smaller") << "photo" << "optBackground" << false << false << true << 1;
    QTest::newRow("a numbered series: a character at a rate") << "series" << "optCharacter" << true << false << false
                                                               << 4;
    QTest::newRow("a picture as a character: a sheet of 3 x 2") << "sheet" << "optProp" << true << true << false
                                                                 << 6;
}

void TestImportWindow::theWindowAsksWhatEachPictureNeeds()
{
    QFETCH(QString, what);
    QFETCH(QString, guess);
    QFETCH(bool, rate);
    QFETCH(bool, grid);
    QFETCH(bool, scaled);
    QFETCH(int, frames);
    QTemporaryDir dir;
    QString path;
    if (what == "still" || what == "sheet")
        path = pickerkit::picture(dir.path(), "ball.png", QSize(90, 60), Qt::red, "PNG");
    else if (what == "gif")
        path = testcommon::writeSimpleGif(dir.path(), "cat.gif", QSize(40, 40), 3);
    else if (what == "photo")
        path = pickerkit::picture(dir.path(), "photo.jpg", QSize(2000, 1500), Qt::darkGreen, "JPEG");
    else {
        QDir(dir.path()).mkdir("walk");
        for (int i = 1; i <= 4; ++i)
            pickerkit::picture(dir.filePath("walk"), QString("walk_%1.png").arg(i, 2, 10, QChar('0')), QSize(30, 50),
                               testcommon::frameColour(i), "PNG");
        path = dir.filePath("walk");
    }
    const QList<importing::Candidate> candidates = importing::candidatesFor({path});
    QCOMPARE(candidates.size(), 1);
    frmImport w(candidates, dir.path(), {});
    w.show();
    QVERIFY(w.findChild<QRadioButton *>(guess)->isChecked());
    if (what == "sheet") {
        w.optCharacter->setChecked(true);
        w.spnColumns->setValue(3);
        w.spnRows->setValue(2);
    }
    QCOMPARE(w.spnRate->isVisible(), rate);
    QCOMPARE(w.spnColumns->isVisible(), grid);
    QCOMPARE(w.chkKeepSize->isVisible(), scaled);
    if (scaled)
        QVERIFY2(w.lblScaled->text().contains("уменьшена"), qPrintable(w.lblScaled->text()));
    // The preview comes from a worker; a sheet's after the boxes have settled.
    QTRY_COMPARE(w.previewFrames(), frames);
    QVERIFY(!w.Preview->pixmap().isNull());
}

void TestImportWindow::enterTakesTheGuessAndThePickerShowsItAtOnce()
{
    Program p;
    const QString objects = pickerkit::assetFolder(p, "objects");
    testcommon::writeSimpleGif(objects, "Кот.gif", QSize(40, 40), 2);
    p.state.PickerMode = "person";
    p.main->Fon()->show();
    QTRY_VERIFY(p.main->Fon()->gridComplete());
    p.main->Fon()->hide();

    QTemporaryDir source;
    answerImportWith(p, {testcommon::writeSimpleGif(source.path(), "dog.gif", QSize(50, 30), 3)});
    enterWhenShown();
    pressCtrlI(p);
    // Portable: into the program's own folder for characters.
    QVERIFY(QFileInfo::exists(objects + "/dog.gif"));

    p.main->Fon()->show();
    QTRY_VERIFY(p.main->Fon()->gridComplete());
    QCOMPARE(p.main->Fon()->fileCount(), 2);
    QCOMPARE(p.main->Fon()->fileName(0), QString("dog.gif"));
    QVERIFY(!p.main->Fon()->Image1.at(0)->picture().isNull());
    p.main->Fon()->hide();

    // The same again through the menu item goes under a name of its own.
    enterWhenShown();
    p.main->mnuImport->trigger();
    QCOMPARE(QDir(objects).entryList(QDir::Files).size(), 3);
}

void TestImportWindow::aDropOnTheStagePlacesTheAssetWhereItFell()
{
    Program p;
    QTemporaryDir source;
    const QString gif = testcommon::writeSimpleGif(source.path(), "bird.gif", QSize(60, 40), 2);
    const QString png = pickerkit::picture(source.path(), "box.png", QSize(30, 30), Qt::blue, "PNG");
    const QPoint at(200, 150);
    for (const QString &path : {gif, png}) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(p.main->Picture7, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        enterWhenShown();
        QApplication::sendEvent(p.main->Picture7, &drop);
        QVERIFY(drop.isAccepted());
        QTRY_COMPARE(p.entries().size(), path == gif ? 1 : 2);
    }
    // A character (guessed for the animated GIF) and a prop, each centred where it was dropped.
    const QPoint onScene = p.main->Picture3->client()->mapFrom(p.main->Picture7, at);
    const QList<QWidget *> placed{p.main->AniGIF1.at(1), p.main->Image1.at(1)};
    for (QWidget *w : placed) {
        QVERIFY(w && w->isVisible());
        QVERIFY2((w->geometry().center() - onScene).manhattanLength() <= 2, qPrintable(w->objectName()));
    }
}

void TestImportWindow::aFailedWriteIsNamedAndCancelWritesNothing()
{
    Program p;
    QTemporaryDir source;
    const QString path = pickerkit::picture(source.path(), "Ёжик.png", QSize(30, 30), Qt::blue, "PNG");
    // The props' folder is a file: nothing can be written there.
    testcommon::writeBytes(p.dir.path(), "articles", "not a folder");
    answerImportWith(p, {path});
    enterWhenShown();
    p.main->importAssets();
    QCOMPARE(p.messages.size(), 1);
    QVERIFY2(p.messages.first().text.contains("Ёжик"), qPrintable(p.messages.first().text));

    QFile::remove(p.folder("articles"));
    testcommon::whenShown<frmImport>([](frmImport *w) { QTest::keyClick(w, Qt::Key_Escape); });
    p.main->importAssets();
    QVERIFY(!QFileInfo::exists(p.folder("articles")) || QDir(p.folder("articles")).isEmpty());
}

void TestImportWindow::onlyTheUsersOwnAssetsAreRemoved()
{
    Program p;
    QTemporaryDir user;
    p.state.userAssets = user.path();
    pickerkit::colourGif(pickerkit::assetFolder(p, "objects"), "Кот.gif", QSize(20, 20), Qt::red);
    QDir(user.path()).mkpath("objects");
    pickerkit::colourGif(user.filePath("objects"), "Мой.gif", QSize(20, 20), Qt::green);
    p.state.PickerMode = "person";
    frmFon *fon = p.main->Fon();
    fon->show();
    QTRY_VERIFY(fon->gridComplete());
    QCOMPARE(fon->fileCount(), 2);
    QVERIFY(!fon->isUsersOwn(0));   // shipped with an installed program
    QVERIFY(!fon->removeFromLibrary(0));
    QVERIFY(fon->isUsersOwn(1));

    p.answers = {MsgResult::No};
    QVERIFY(!fon->removeFromLibrary(1));
    QCOMPARE(p.messages.last().text, QString("Удалить «Мой» из библиотеки?"));
    QVERIFY(QFileInfo::exists(user.filePath("objects/Мой.gif")));
    p.answers = {MsgResult::Yes};
    QVERIFY(fon->removeFromLibrary(1));
    QVERIFY(!QFileInfo::exists(user.filePath("objects/Мой.gif")));
    QTRY_VERIFY(fon->gridComplete());
    QCOMPARE(fon->fileCount(), 1);
}

QTEST_MAIN(TestImportWindow)
#include "test_import_window.moc"
