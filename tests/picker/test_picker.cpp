// The picker window: the asset folders it lists, the grid it builds, the
// cell it marks, its thumbnails and the files it must survive.
#include <QAccessible>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "PickerTestKit.h"
#include "controls/Twips.h"
#include "picker/AssetLibrary.h"
#include "picker/PickerGrid.h"
#include "picker/ThumbnailLoader.h"

using namespace pickerkit;
namespace grid = picker::grid;
using testcommon::Program;

class TestPicker : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // ---- the library ----
    void eachModeListsItsFolderWithItsPattern();
    void listingTakesOnlyFilesDirectlyInTheFolderWhateverTheCaseOfTheExtension();
    void assetNameDropsTheLastFourCharacters();

    // ---- the grid ----
    void gridHasThreeColumnsAndRowsOneCellAndAGapApart();
    void sheetAndScrollTravelGrowOnlyFromTheFourthRow();
    void builtGridMatchesTheGeometryFor1_9_10_And100Files();
    void barLiftsTheSheetByItsValue();
    void scrollTravelCoversEveryRowOfALargeFolder();
    void reopeningStartsAtTheTopWithoutTheOldCells();

    // ---- marking and choosing ----
    void anyMouseButtonMarksTheCellWithTheRedFrame();
    void choiceIsClearedAtEveryOpening();
    void closingLeavesStageAndModeAlone();
    void emptyOrMissingFolderShowsAnEmptyGridAndChoosingDoesNothing();

    // ---- thumbnails ----
    void thumbnailsAreHeldAtCellSizeNotAtFullSize();
    void unreadableFilesGetACellWithAPlaceholderNamingThem();
    void reopeningAnUnchangedFolderTakesEveryThumbnailFromTheCache();
    void changedAddedAndRemovedFilesShowAsTheyAreNow();
    void aReopenedGridIsCompleteOnlyWhenEveryCellShowsItsThumbnail();
    void windowAnswersWhileAFolderOf5000FilesIsBuilt();
    void theUsersOwnAssetsFollowTheShippedOnesAndEachCellIsNamed();

    // ---- the keyboard, the wheel and screen readers ----
    void keysMoveTheMarkAndTheSheetFollows_data();
    void keysMoveTheMarkAndTheSheetFollows();
    void enterChoosesEscapeClosesAndTheWheelScrolls();
};

void TestPicker::eachModeListsItsFolderWithItsPattern()
{
    QCOMPARE(picker::folderForMode("fon"), QString("fones"));
    QCOMPARE(picker::folderForMode("person"), QString("objects"));
    QCOMPARE(picker::folderForMode("changePerson"), QString("objects"));
    QCOMPARE(picker::folderForMode("articles"), QString("articles"));
    QVERIFY2(picker::folderForMode("Person").isEmpty(), "modes are compared exactly, case included");
    QCOMPARE(picker::patternForMode("fon"), QString("*.*"));
    QCOMPARE(picker::patternForMode("person"), QString("*.gif"));
    QCOMPARE(picker::patternForMode("articles"), QString("*.gif"));
}

void TestPicker::listingTakesOnlyFilesDirectlyInTheFolderWhateverTheCaseOfTheExtension()
{
    QTemporaryDir dir;
    const QString d = dir.path();
    testcommon::writeBytes(d, "b.gif", "x");
    testcommon::writeBytes(d, "DOG.GIF", "x");
    testcommon::writeBytes(d, "Кот идёт.gif", "x");
    testcommon::writeBytes(d, "a.Gif", "x");
    testcommon::writeBytes(d, "notes.txt", "x");
    testcommon::writeBytes(d, "README", "x");
    QDir(d).mkdir("sub.gif");
    testcommon::writeBytes(d + "/sub.gif", "inner.gif", "x");

    QCOMPARE(picker::listAssets(d, "*.gif"), QStringList({"a.Gif", "b.gif", "DOG.GIF", "Кот идёт.gif"}));
    QCOMPARE(picker::listAssets(d, "*.*"),
             QStringList({"a.Gif", "b.gif", "DOG.GIF", "notes.txt", "README", "Кот идёт.gif"}));
    QVERIFY(picker::listAssets(d + "/missing", "*.*").isEmpty());
    QVERIFY(picker::listAssets(QString(), "*.*").isEmpty());
}

void TestPicker::assetNameDropsTheLastFourCharacters()
{
    QCOMPARE(picker::assetName("cat.gif"), QString("cat"));
    QCOMPARE(picker::assetName("DOG.GIF"), QString("DOG"));
    QCOMPARE(picker::assetName("Кот идёт.gif"), QString("Кот идёт"));
    QCOMPARE(picker::assetName("a.b"), QString());
}

void TestPicker::gridHasThreeColumnsAndRowsOneCellAndAGapApart()
{
    QCOMPARE(grid::cellLeft(0), 180);
    QCOMPARE(grid::cellLeft(1), 180 + 1735);
    QCOMPARE(grid::cellLeft(2), 180 + 2 * 1735);
    QVERIFY2(grid::cellLeft(2) + grid::CellWidth <= grid::SheetWidth, "the third column fits on the sheet");
    QVERIFY2(grid::cellLeft(2) + 1735 + grid::CellWidth > grid::SheetWidth, "a fourth column would not");
    QCOMPARE(grid::cellLeft(3), 180);
    QCOMPARE(grid::cellTop(3), 180 + 1375);
    QCOMPARE(grid::cellLeft(9), 180);
    QCOMPARE(grid::cellTop(9), 180 + 3 * 1375);
}

void TestPicker::sheetAndScrollTravelGrowOnlyFromTheFourthRow()
{
    QCOMPARE(grid::sheetHeight(0), 5550);
    QCOMPARE(grid::sheetHeight(1), 5550);
    QCOMPARE(grid::scrollTravel(1), 0);
    QCOMPARE(grid::sheetHeight(9), 5550);
    QCOMPARE(grid::scrollTravel(9), 0);
    QCOMPARE(grid::sheetHeight(10), 5550 + 1375);
    QCOMPARE(grid::scrollTravel(10), 1375);
    QCOMPARE(grid::sheetHeight(100), 5550 + 1375 * 31);
    QCOMPARE(grid::scrollTravel(100), 1375 * 31);
}

void TestPicker::builtGridMatchesTheGeometryFor1_9_10_And100Files()
{
    for (int files : {1, 9, 10, 100}) {
        Program p;
        const QString objects = assetFolder(p, "objects");
        for (int i = 0; i < files; ++i)
            colourGif(objects, QString("f%1.gif").arg(i, 3, 10, QChar('0')), QSize(8, 8), Qt::green);
        frmFon *fon = openPicker(p, "person");
        QVERIFY(fon->gridComplete());
        QCOMPARE(fon->fileCount(), files);
        QCOMPARE(fon->Image1.count(), files);
        for (int i = 0; i < files; ++i) {
            QWidget *cell = fon->Image1.at(i);
            QVERIFY(cell && cell->isVisible());
            QCOMPARE(cell->objectName(), QString("Image1"));
            QCOMPARE(cell->property("index").toInt(), i);
            QCOMPARE(twips::geometry(cell), QRectF(grid::cellLeft(i), grid::cellTop(i), 1635, 1275));
        }
        QCOMPARE(twips::height(fon->Picture2), double(grid::sheetHeight(files)));
        QCOMPARE(fon->VScroll1->minimum(), 0);
        QCOMPARE(fon->VScroll1->maximum(), grid::scrollTravel(files));
        fon->Command1->click();
    }
}

void TestPicker::barLiftsTheSheetByItsValue()
{
    Program p;
    const QString objects = assetFolder(p, "objects");
    for (int i = 0; i < 10; ++i)
        colourGif(objects, QString("f%1.gif").arg(i), QSize(8, 8), Qt::green);
    frmFon *fon = openPicker(p, "person");
    QCOMPARE(fon->VScroll1->singleStep(), 100);
    QCOMPARE(fon->VScroll1->pageStep(), 5000);
    fon->VScroll1->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(twips::top(fon->Picture2), -100.0);
    fon->VScroll1->triggerAction(QAbstractSlider::SliderToMaximum);
    QCOMPARE(twips::top(fon->Picture2), -1375.0);
}

void TestPicker::scrollTravelCoversEveryRowOfALargeFolder()
{
    Program p;
    const QString objects = assetFolder(p, "objects");
    // 300 files are 100 rows: far beyond the 26 rows a 16-bit range can hold.
    gifCopies(objects, 300, QSize(4, 4), 3);
    frmFon *fon = openPicker(p, "person");
    QCOMPARE(fon->VScroll1->maximum(), 1375 * 97);
    fon->VScroll1->setValue(fon->VScroll1->maximum());
    const QWidget *last = fon->Image1.at(299);
    const double bottomOnViewport = twips::top(fon->Picture2) + twips::geometry(last).bottom();
    QVERIFY2(bottomOnViewport <= twips::height(fon->Picture1), "the last row can be scrolled fully into view");
}

void TestPicker::reopeningStartsAtTheTopWithoutTheOldCells()
{
    Program p;
    const QString objects = assetFolder(p, "objects");
    for (int i = 0; i < 12; ++i)
        colourGif(objects, QString("b%1.gif").arg(i, 2, 10, QChar('0')), QSize(8, 8), Qt::green);
    frmFon *fon = openPicker(p, "person");
    fon->VScroll1->setValue(fon->VScroll1->maximum());
    QPointer<QWidget> oldCell = fon->Image1.at(11);
    fon->Command1->click();

    // The new listing is shorter, and its first file is a different picture.
    for (int i = 2; i < 12; ++i)
        QFile::remove(QDir(objects).filePath(QString("b%1.gif").arg(i, 2, 10, QChar('0'))));
    colourGif(objects, "a.gif", QSize(8, 8), Qt::red);
    fon = openPicker(p, "person");
    QCOMPARE(fon->VScroll1->value(), 0);
    QCOMPARE(fon->VScroll1->maximum(), 0);
    QCOMPARE(twips::top(fon->Picture2), 0.0);
    QCOMPARE(twips::height(fon->Picture2), 5550.0);
    QVERIFY2(oldCell.isNull(), "the cells of the previous opening are gone");
    QCOMPARE(fon->Image1.count(), 3);
    QCOMPARE(fon->fileName(0), QString("a.gif"));
    QCOMPARE(centreColour(fon->Image1.at(0)->picture()), QColor(Qt::red));
}

void TestPicker::anyMouseButtonMarksTheCellWithTheRedFrame()
{
    Program p;
    const QString objects = assetFolder(p, "objects");
    for (int i = 0; i < 5; ++i)
        colourGif(objects, QString("f%1.gif").arg(i), QSize(8, 8), Qt::green);
    frmFon *fon = openPicker(p, "person");
    QVERIFY(!fon->Shape1->isVisible());
    QCOMPARE(fon->ThumbIndex, qint16(-1));

    QTest::mouseClick(fon->Image1.at(4), Qt::RightButton);
    QCOMPARE(fon->ThumbIndex, qint16(4));
    QVERIFY(fon->Shape1->isVisible());
    QCOMPARE(twips::geometry(fon->Shape1), QRectF(grid::cellLeft(4), grid::cellTop(4), 1660, 1310));
    QTest::mouseClick(fon->Image1.at(0), Qt::LeftButton);
    QCOMPARE(fon->ThumbIndex, qint16(0));
    QCOMPARE(twips::left(fon->Shape1), 180.0);
    QCOMPARE(twips::top(fon->Shape1), 180.0);

    const QImage shot = fon->Picture2->grab().toImage();
    const QPoint corner = twips::toPixels(QRectF(180, 180, 1, 1)).topLeft();
    QCOMPARE(shot.pixelColor(corner + QPoint(1, 1)), QColor(255, 0, 0));
}

void TestPicker::choiceIsClearedAtEveryOpening()
{
    Program p;
    const QString objects = assetFolder(p, "objects");
    for (int i = 0; i < 3; ++i)
        colourGif(objects, QString("f%1.gif").arg(i), QSize(8, 8), Qt::green);
    frmFon *fon = openPicker(p, "person");
    QTest::mouseClick(fon->Image1.at(2), Qt::LeftButton);
    fon->Command1->click();
    QVERIFY(!fon->isVisible());
    QVERIFY(!fon->Shape1->isVisible());

    fon = openPicker(p, "person");
    QCOMPARE(fon->ThumbIndex, qint16(-1));
    fon->Command2->click();
    QVERIFY2(fon->isVisible(), "choosing with no cell pressed leaves the picker open");
    QCOMPARE(p.main->List1->count(), 0);
    QCOMPARE(p.state.CharacterCount, qint16(0));
    fon->Command1->click();
}

void TestPicker::closingLeavesStageAndModeAlone()
{
    Program p;
    const QString fones = assetFolder(p, "fones");
    picture(fones, "sky.png", QSize(100, 100), Qt::blue, "PNG");
    const QImage before = p.main->Picture3->picture();
    frmFon *fon = openPicker(p, "fon");
    QTest::mouseClick(fon->Image1.at(0), Qt::LeftButton);
    fon->Command1->click();
    QVERIFY(!fon->isVisible());
    QCOMPARE(p.state.PickerMode, QString("fon"));
    QCOMPARE(p.main->Picture3->picture(), before);
    QVERIFY(!p.main->Command9->isEnabled());
}

void TestPicker::emptyOrMissingFolderShowsAnEmptyGridAndChoosingDoesNothing()
{
    Program p;
    const QString articles = assetFolder(p, "articles");
    colourGif(articles, "ball.gif", QSize(8, 8), Qt::yellow);
    frmFon *fon = openPicker(p, "articles");
    QVERIFY(!fon->Image1.at(0)->picture().isNull());
    fon->Command1->click();

    // "objects" does not exist at all, and "fones" is empty.
    for (const char *mode : {"person", "fon"}) {
        if (QString(mode) == "fon")
            assetFolder(p, "fones");
        fon = openPicker(p, mode);
        QCOMPARE(fon->fileCount(), 0);
        QCOMPARE(fon->Image1.count(), 1);
        QVERIFY2(!fon->Image1.at(0)->isVisible(), "no cell to press in an empty grid");
        QVERIFY2(fon->Image1.at(0)->picture().isNull(), "no picture left from an earlier opening");
        QVERIFY(fon->VScroll1->maximum() == 0);
        fon->Command2->click();
        QVERIFY(fon->isVisible());
        fon->Command1->click();
    }
    QCOMPARE(p.main->List1->count(), 0);
    QCOMPARE(p.state.CharacterCount, qint16(0));
}

void TestPicker::thumbnailsAreHeldAtCellSizeNotAtFullSize()
{
    Program p;
    const QString fones = assetFolder(p, "fones");
    picture(fones, "big.jpg", QSize(1600, 1200), Qt::darkGreen, "JPG");
    picture(fones, "wide.png", QSize(900, 300), Qt::blue, "PNG");
    colourGif(fones, "small.gif", QSize(30, 20), Qt::red);
    frmFon *fon = openPicker(p, "fon");
    const QSize cell = fon->thumbnailSize();
    QCOMPARE(cell, QSize(109, 85));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(fon->Image1.at(i)->picture().size(), cell);
    QCOMPARE(centreColour(fon->Image1.at(indexOf(fon, "small.gif"))->picture()), QColor(Qt::red));
    QVERIFY(fon->loader().cachedBytes() <= qint64(3) * cell.width() * cell.height() * 4);
    fon->Command1->click();
}

void TestPicker::unreadableFilesGetACellWithAPlaceholderNamingThem()
{
    Program p;
    const QString fones = assetFolder(p, "fones");
    testcommon::writeBytes(fones, "broken.gif", QByteArray("GIF89a\x10\x00\x10\x00\xf7\x00\x00garbage", 20));
    testcommon::writeBytes(fones, "empty.jpg", QByteArray());
    testcommon::writeBytes(fones, "notes.txt", "not a picture at all\n");
    testcommon::writeBytes(fones, "huge.png", hugePngHeader(20000));
    testcommon::writeBytes(fones, "huge.bmp", hugeBmpHeader(20000));
    picture(fones, "Лес ночью.png", QSize(40, 30), Qt::darkBlue, "PNG");
    frmFon *fon = openPicker(p, "fon");
    QCOMPARE(fon->fileCount(), 6);
    for (int i = 0; i < fon->fileCount(); ++i) {
        controls::ImageControl *cell = fon->Image1.at(i);
        QVERIFY(cell && cell->isVisible());
        if (fon->fileName(i) == "Лес ночью.png") {
            QVERIFY(!cell->picture().isNull());
            continue;
        }
        QVERIFY2(cell->picture().isNull(), qPrintable(fon->fileName(i)));
        // The placeholder is drawn: the cell is no longer plain black.
        const QImage shot = cell->grab().toImage();
        QVERIFY2(shot.pixelColor(shot.width() / 2, 3) != QColor(Qt::black), qPrintable(fon->fileName(i)));
    }

    // Choosing a refused file as the background changes nothing, and the picker still closes.
    const QImage before = p.main->Picture3->picture();
    for (const char *name : {"huge.png", "huge.bmp", "notes.txt", "empty.jpg", "broken.gif"}) {
        QVERIFY(choose(p, "fon", name));
        QCOMPARE(p.main->Picture3->picture(), before);
        QVERIFY(!p.main->Command9->isEnabled());
        QCOMPARE(p.main->UpDown3->minimum(), 0);
    }
}

void TestPicker::reopeningAnUnchangedFolderTakesEveryThumbnailFromTheCache()
{
    QTemporaryDir dir;
    for (int i = 0; i < 20; ++i)
        colourGif(dir.path(), QString("g%1.gif").arg(i, 2, 10, QChar('0')), QSize(16, 16), Qt::cyan);
    const QStringList names = picker::listAssets(dir.path(), "*.gif");
    picker::ThumbnailLoader loader;
    QList<picker::Thumbnail> got;
    connect(&loader, &picker::ThumbnailLoader::delivered, this,
            [&got](const QList<picker::Thumbnail> &batch) { got += batch; });

    loader.start(dir.path(), names, QSize(20, 10));
    QTRY_VERIFY_WITH_TIMEOUT(loader.finished(), 20000);
    QCOMPARE(got.size(), 20);
    for (const auto &t : got)
        QVERIFY(!t.fromCache && t.image.size() == QSize(20, 10));

    got.clear();
    loader.start(dir.path(), names, QSize(20, 10));
    QTRY_VERIFY_WITH_TIMEOUT(loader.finished(), 20000);
    QCOMPARE(got.size(), 20);
    for (const auto &t : got)
        QVERIFY2(t.fromCache, "an unchanged file is not read again");

    got.clear();
    loader.start(dir.path(), names, QSize(30, 30));
    QTRY_VERIFY_WITH_TIMEOUT(loader.finished(), 20000);
    for (const auto &t : got)
        QVERIFY2(!t.fromCache && t.image.size() == QSize(30, 30), "another size is read anew");
}

void TestPicker::changedAddedAndRemovedFilesShowAsTheyAreNow()
{
    Program p;
    const QString objects = assetFolder(p, "objects");
    colourGif(objects, "a.gif", QSize(16, 16), Qt::red);
    colourGif(objects, "b.gif", QSize(16, 16), Qt::green);
    colourGif(objects, "c.gif", QSize(16, 16), Qt::blue);
    frmFon *fon = openPicker(p, "person");
    const qint64 threeHeld = fon->loader().cachedBytes();
    fon->Command1->click();

    // b changes (in size and time), c goes, d comes.
    const QString b = colourGif(objects, "b.gif", QSize(24, 24), Qt::yellow);
    QFile bf(b);
    QVERIFY(bf.open(QIODevice::ReadWrite));
    QVERIFY(bf.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    bf.close();
    QFile::remove(QDir(objects).filePath("c.gif"));
    colourGif(objects, "d.gif", QSize(16, 16), Qt::magenta);

    fon = openPicker(p, "person");
    QCOMPARE(fon->fileCount(), 3);
    QCOMPARE(fon->fileName(2), QString("d.gif"));
    QCOMPARE(centreColour(fon->Image1.at(0)->picture()), QColor(Qt::red));
    QCOMPARE(centreColour(fon->Image1.at(1)->picture()), QColor(Qt::yellow));
    QCOMPARE(centreColour(fon->Image1.at(2)->picture()), QColor(Qt::magenta));
    QCOMPARE(fon->loader().cachedBytes(), threeHeld);
    fon->Command1->click();
}

void TestPicker::aReopenedGridIsCompleteOnlyWhenEveryCellShowsItsThumbnail()
{
    // On a reopening the cells of the last one are still there and the cached
    // thumbnails come at once, often before their cell is placed again: each
    // must be counted once, or the grid reports itself complete too early.
    Program p;
    const QString objects = assetFolder(p, "objects");
    constexpr int Files = 3000;
    gifCopies(objects, Files, QSize(6, 6), 4);
    frmFon *fon = openPicker(p, "person");
    fon->Command1->click();

    int mostShown = 0;
    int emptyAtCompletion = -1;
    connect(fon, &frmFon::thumbnailsShownChanged, fon, [&](int shown) { mostShown = std::max(mostShown, shown); });
    connect(fon, &frmFon::gridCompleted, fon, [&] {
        emptyAtCompletion = 0;
        for (int i = 0; i < Files; ++i)
            if (fon->Image1.at(i)->picture().isNull())
                ++emptyAtCompletion;
    });
    fon = openPicker(p, "person");
    QCOMPARE(emptyAtCompletion, 0);
    QVERIFY2(mostShown <= Files, qPrintable(QString::number(mostShown)));
    fon->Command1->click();
}

void TestPicker::windowAnswersWhileAFolderOf5000FilesIsBuilt()
{
    Program p;
    const QString objects = assetFolder(p, "objects");
    gifCopies(objects, 5000, QSize(6, 6), 4);

    p.state.PickerMode = "person";
    frmFon *fon = p.main->Fon();
    bool closedWhileBuilding = false;
    // A press and a close, queued behind the opening, are answered before the grid is done.
    QTimer::singleShot(0, fon, [&] {
        QTest::mouseClick(fon->Image1.at(0), Qt::RightButton);
        closedWhileBuilding = !fon->gridComplete();
        fon->Command1->click();
    });
    QTimer::singleShot(60000, fon, [fon] { fon->hide(); });
    fon->exec();
    QVERIFY(closedWhileBuilding);
    QCOMPARE(fon->ThumbIndex, qint16(0));
    // The building runs on to the last file while the window is hidden.
    QTRY_VERIFY_WITH_TIMEOUT(fon->gridComplete(), 60000);
    QCOMPARE(fon->Image1.count(), 5000);
    QCOMPARE(fon->VScroll1->maximum(), grid::scrollTravel(5000));
}

// Installed, the user's own folder of a kind is listed after the shipped one,
// and a file there is placed like any other.
void TestPicker::theUsersOwnAssetsFollowTheShippedOnesAndEachCellIsNamed()
{
    Program p;
    QTemporaryDir user;
    p.state.userAssets = user.path();
    const QString shipped = assetFolder(p, "objects");
    const QString own = user.filePath("objects");
    QVERIFY(QDir().mkpath(own));
    colourGif(shipped, "Кот идёт.gif", QSize(8, 8), Qt::green);
    colourGif(shipped, "Робот.gif", QSize(8, 8), Qt::green);
    colourGif(own, "Ёжик.gif", QSize(12, 10), Qt::red);
    colourGif(own, "Аист.gif", QSize(8, 8), Qt::blue);

    frmFon *fon = openPicker(p, "person");
    QCOMPARE(fon->fileCount(), 4);
    QStringList names;
    for (int i = 0; i < 4; ++i)
        names << fon->fileName(i);
    QCOMPARE(names, (QStringList{"Кот идёт.gif", "Робот.gif", "Аист.gif", "Ёжик.gif"}));
    QCOMPARE(fon->Image1.at(0)->toolTip(), QString("Кот идёт"));
    QCOMPARE(fon->Image1.at(3)->toolTip(), QString("Ёжик"));
    QTRY_COMPARE(centreColour(fon->Image1.at(3)->picture()), QColor(Qt::red));
    fon->Command1->click();

    QVERIFY(choose(p, "person", "Ёжик.gif"));
    QCOMPARE(p.entries(), QStringList{"персонаж (Ёжик) индекс > 1"});
    QVERIFY(p.main->AniGIF1.at(1));
}

void TestPicker::keysMoveTheMarkAndTheSheetFollows_data()
{
    // 20 files: seven rows, the last holding cells 18 and 19; a page is four rows.
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("marked");
    QTest::newRow("first key, first cell") << QList<int>{Qt::Key_Down} << 0;
    QTest::newRow("along and down") << QList<int>{Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_Down} << 5;
    QTest::newRow("edges hold") << QList<int>{Qt::Key_Right, Qt::Key_Up, Qt::Key_Home, Qt::Key_Left} << 0;
    QTest::newRow("no cell below") << QList<int>{Qt::Key_End, Qt::Key_Left, Qt::Key_Left, Qt::Key_Down} << 17;
    QTest::newRow("pages stop at the end") << QList<int>{Qt::Key_Home, Qt::Key_PageDown, Qt::Key_PageDown} << 19;
    QTest::newRow("a page up") << QList<int>{Qt::Key_End, Qt::Key_PageUp} << 7;
}

void TestPicker::keysMoveTheMarkAndTheSheetFollows()
{
    QFETCH(QList<int>, keys);
    QFETCH(int, marked);
    Program p;
    gifCopies(assetFolder(p, "objects"), 20, QSize(4, 4), 2);
    frmFon *fon = openPicker(p, "person");
    QCOMPARE(fon->focusWidget(), fon->Picture1);
    for (int key : keys)
        QTest::keyClick(fon->focusWidget(), Qt::Key(key));
    QCOMPARE(fon->ThumbIndex, marked);
    QCOMPARE(twips::geometry(fon->Shape1).topLeft(), QPointF(grid::cellLeft(marked), grid::cellTop(marked)));
    const double top = twips::top(fon->Picture2) + twips::top(fon->Shape1);
    QVERIFY2(top >= 0 && top + twips::height(fon->Shape1) <= twips::height(fon->Picture1), "the mark is in view");
}

void TestPicker::enterChoosesEscapeClosesAndTheWheelScrolls()
{
    Program p;
    gifCopies(assetFolder(p, "objects"), 12, QSize(4, 4), 2);
    frmFon *fon = openPicker(p, "person");
    QCOMPARE(QAccessible::queryAccessibleInterface(fon)->text(QAccessible::Name), QString("Выбор персонажа"));
    // The wheel over a cell turns the bar, three steps a notch; only the
    // window system's own wheel events pass on to the parents.
    QWheelEvent notch({5, 5}, {5, 5}, {}, {0, -120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&notch);
    qApp->notify(fon->Image1.at(4), &notch);
    QCOMPARE(twips::top(fon->Picture2), -300.0);
    QTest::keyClick(fon->focusWidget(), Qt::Key_Escape);
    QVERIFY(!fon->isVisible());

    fon = openPicker(p, "person");
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Right, Qt::Key_Right}) // Enter with nothing marked does nothing
        QTest::keyClick(fon->focusWidget(), key);
    QVERIFY(fon->isVisible());
    QTest::keyClick(fon->focusWidget(), Qt::Key_Return);
    QVERIFY(!fon->isVisible());
    QCOMPARE(p.entries(), QStringList{"персонаж (01) индекс > 1"});
}

QTEST_MAIN(TestPicker)
#include "test_picker.moc"
