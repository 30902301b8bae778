// The main window as a person first sees it: every control in its place with
// its caption, font and state; the program folder prepared; the close box.

#include <QMenuBar>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QFontMetrics>
#include <QScrollBar>

#include "Program.h"
#include "controls/Accessibility.h"
#include "controls/Contrast.h"
#include "controls/SpinControl.h"
#include "picker/AssetLibrary.h"
#include "picker/ObjectEntry.h"
#include "picker/frmFon.h"
#include "preview/frmView.h"
#include "slides/frmBar.h"
#include "slides/frmBuffer.h"
#include "slides/frmLoad.h"
#include "slides/OnionSkin.h"
#include "export/frmExport.h"
#include "controls/NumberFormat.h"
#include "controls/Twips.h"

using testcommon::Program;

namespace {

struct Expected {
    const char *name;
    int index; // -1: not an array element
    QString caption;
    QRectF twips;
    bool enabled;
    double pointSize; // 0: not checked
    bool bold;
};

QWidget *find(frmMain *w, const char *name, int index)
{
    const auto all = w->findChildren<QWidget *>(QLatin1String(name));
    for (QWidget *c : all)
        if (index < 0 || c->property("index").toInt() == index)
            return c;
    return nullptr;
}

QString captionOf(QWidget *w)
{
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    return QString();
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void everyControlStandsWithItsCaptionFontAndState_data();
    void everyControlStandsWithItsCaptionFontAndState();
    void theWindowHasAFixedClientAreaAndItsTitle();
    void theStageShowsTheDefaultBackgroundAndTheAnimatedPicture();
    void startUpShowsTheDesignStateAndTheStepBoxAt200();
    void startUpMakesTheSlideFolderOnceAndQuietly();
    void startUpGoesOnWhenTheSlideFolderCannotBeMade();
    void theCloseBoxEndsTheProgramWithoutAsking();
    void panelsLieBehindTheControlsInFrontOfThem();
    void everySampleEntryShowsWholeWithItsNumber();
    void fixedWindowsOfferNoMaximiseAndModalOnesNoMinimise();
    void aMinimisedModalWindowTakesTheProgramWithItAndComesBackWithIt();
    void everyControlHasARussianNameForScreenReadersAndPanelsNone();
    void everyControlExplainsItselfInARussianTooltip();
    void everyTextStaysReadableUnderADarkPalette();
    void fixedColoursKeepTheirContrastUnderLightAndDarkThemes_data();
    void fixedColoursKeepTheirContrastUnderLightAndDarkThemes();
};

void MainWindowTest::everyControlStandsWithItsCaptionFontAndState_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRectF>("geometry");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<double>("pointSize");
    QTest::addColumn<bool>("bold");
    const QString none;
    const Expected rows[] = {
        {"Command16", -1, "Command16", {45, 45, 6360, 7305}, false, 8.25, false},
        {"Command10", -1, "Command10", {135, 135, 6180, 5460}, false, 8.25, false},
        {"Picture7", -1, none, {225, 225, 6000, 5250}, true, 0, false},
        {"Picture3", -1, none, {-45, -45, 6030, 5280}, true, 0, false},
        {"AniGIF2", -1, none, {4050, -45, 1800, 1800}, true, 0, false},
        {"AniGIF1", 0, none, {2160, 0, 1320, 1410}, true, 0, false},
        {"Image1", 0, none, {360, 450, 1410, 1455}, true, 0, false},
        {"Command18", -1, none, {2070, 5580, 2265, 150}, false, 0, false},
        {"Command17", -1, none, {1755, 5715, 2895, 195}, false, 0, false},
        {"Picture4", -1, none, {45, 5625, 330, 375}, true, 0, false},
        {"Frame1", -1, "Управление фоном", {135, 5985, 1995, 1275}, true, 8.25, false},
        {"Picture6", -1, none, {360, 630, 240, 240}, true, 0, false},
        {"UpDown3", -1, none, {135, 630, 690, 240}, true, 0, false},
        {"UpDown4", -1, none, {360, 360, 240, 780}, true, 0, false},
        {"Label1", 5, "X = ", {1125, 270, 810, 255}, true, 6.75, false},
        {"Label8", -1, "Y = ", {1125, 495, 810, 255}, true, 6.75, false},
        {"Label3", 0, "W =", {1125, 720, 780, 240}, true, 6.75, false},
        {"Label3", 2, "H =", {1125, 945, 825, 240}, true, 6.75, false},
        {"Frame2", -1, "Управление объектом", {2205, 5985, 1995, 1275}, true, 8.25, false},
        {"Picture5", -1, none, {360, 630, 240, 240}, true, 0, false},
        {"UpDown5", -1, none, {135, 630, 690, 240}, true, 0, false},
        {"UpDown6", -1, none, {360, 360, 240, 780}, true, 0, false},
        {"Label1", 6, "X = ", {1125, 270, 810, 255}, true, 6.75, false},
        {"Label9", -1, "Y = ", {1125, 495, 810, 255}, true, 6.75, false},
        {"Label3", 4, "W =", {945, 720, 555, 240}, true, 6.75, false},
        {"Label3", 3, "H =", {945, 945, 555, 240}, true, 6.75, false},
        {"Frame3", -1, "Действие", {4275, 5985, 2040, 1275}, true, 8.25, false},
        {"Label13", -1, "Размер", {90, 405, 645, 240}, true, 8.25, false},
        {"UpDown7", -1, none, {1035, 360, 915, 285}, true, 0, false},
        {"Check1", -1, "Синхро", {90, 810, 915, 240}, true, 8.25, false},
        {"Command11", -1, "Шаг", {1035, 810, 915, 285}, true, 8.25, false},
        {"Command19", -1, "Command19", {6480, 45, 1725, 7305}, false, 8.25, false},
        {"Frame4", -1, "Управление", {6570, 135, 1545, 7125}, true, 8.25, false},
        {"Command4", -1, "Загрузить фон", {90, 360, 1365, 555}, true, 8.25, false},
        {"Command9", -1, "Удалить фон", {90, 945, 1365, 555}, false, 8.25, false},
        {"Command12", -1, "Загрузить предмет", {90, 1665, 1365, 555}, true, 8.25, false},
        {"Command3", -1, "Загрузить персонаж", {90, 2385, 1365, 555}, true, 8.25, false},
        {"Command6", -1, "Сменить действие", {90, 3105, 1365, 555}, false, 8.25, false},
        {"Command7", -1, "Оживить", {90, 3825, 1365, 555}, false, 8.25, false},
        {"Command5", -1, "Удалить объект", {90, 4545, 1365, 555}, true, 8.25, false},
        {"Check2", -1, "Синхро", {135, 5310, 1320, 195}, true, 8.25, false},
        {"Command2", -1, "ЗАПИСЬ", {90, 5715, 1365, 1320}, true, 12, false},
        {"Command20", -1, none, {8280, 45, 3255, 3660}, false, 0, false},
        {"Command21", -1, none, {8280, 3780, 3255, 3570}, false, 0, false},
        {"Frame5", -1, "Статистика", {8370, 135, 3075, 1635}, true, 8.25, false},
        {"Label1", 0, "Всего кадров:", {180, 225, 1365, 285}, true, 8.25, false},
        {"Label3", 1, "000", {180, 450, 1275, 285}, true, 9.75, false},
        {"Label1", 1, "Задний план:", {1575, 225, 1365, 285}, true, 8.25, false},
        {"Label2", -1, "0000", {1575, 450, 1275, 285}, true, 9.75, false},
        {"Label1", 2, "Персонаж X:", {135, 900, 1365, 285}, true, 8.25, false},
        {"Label4", -1, "0000", {180, 1170, 1275, 285}, true, 9.75, false},
        {"Label1", 3, "Кодр аним.:", {1530, 945, 1365, 285}, true, 8.25, false},
        {"Label5", -1, "00", {1575, 1170, 1275, 285}, true, 9.75, false},
        {"Frame6", -1, "Слайды", {8370, 1800, 1545, 1770}, true, 8.25, false},
        {"Command15", -1, "Сохранение", {135, 360, 1275, 420}, true, 8.25, false},
        {"Command8", -1, "Просмотр", {135, 810, 1275, 420}, false, 8.25, false},
        {"Command1", -1, "Очистка", {135, 1260, 1275, 420}, false, 8.25, false},
        {"Frame7", -1, "Установки", {9990, 1800, 1455, 1770}, true, 8.25, false},
        {"Label1", 4, "Интервал шаг", {45, 315, 1365, 285}, true, 8.25, false},
        {"Combo1", -1, none, {225, 720, 1005, 315}, true, 8.25, true},
        {"Check3", -1, "Калька", {135, 1230, 1230, 255}, true, 8.25, false},
        {"Frame8", -1, "Выбор объекта", {8370, 3870, 3075, 2670}, true, 8.25, false},
        {"List1", -1, none, {90, 360, 2895, 2205}, true, 8.25, true},
        {"Command14", -1, "Завершение работы", {8640, 6750, 2580, 420}, true, 8.25, false},
    };
    for (const Expected &e : rows) {
        const QByteArray tag = QByteArray(e.name) + (e.index >= 0 ? "(" + QByteArray::number(e.index) + ")" : "");
        QTest::newRow(tag.constData()) << QString::fromLatin1(e.name) << e.index << e.caption << e.twips << e.enabled
                                       << e.pointSize << e.bold;
    }
}

void MainWindowTest::everyControlStandsWithItsCaptionFontAndState()
{
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(QRectF, geometry);
    QFETCH(bool, enabled);
    QFETCH(double, pointSize);
    QFETCH(bool, bold);
    Program p;
    QWidget *w = find(p.main.get(), name.toLatin1().constData(), index);
    QVERIFY2(w, "control missing");
    QCOMPARE(twips::geometry(w), geometry);
    QCOMPARE(w->geometry(), twips::toPixels(geometry));
    QCOMPARE(captionOf(w), caption);
    QCOMPARE(w->isEnabled(), enabled);
    if (pointSize > 0) {
        QCOMPARE(w->font().pointSizeF(), pointSize);
        QCOMPARE(w->font().bold(), bold);
    }
}

void MainWindowTest::theWindowHasAFixedClientAreaAndItsTitle()
{
    Program p;
    frmMain *w = p.main.get();
    QCOMPARE(w->objectName(), QStringLiteral("frmMain"));
    QCOMPARE(w->windowTitle(), QStringLiteral(" Vellumo"));
    // The controls' area keeps its size under the menu bar; the window is taller by the menu alone.
    const int menu = w->MenuBar->height();
    QVERIFY(menu > 0);
    QCOMPARE(w->MenuBar->geometry(), QRect(0, 0, 771, menu));
    QCOMPARE(w->Client->geometry(), QRect(0, menu, 771, 494));
    QCOMPARE(w->size(), QSize(771, 494 + menu));
    QCOMPARE(w->minimumSize(), w->size());
    QCOMPARE(w->maximumSize(), w->size());
    QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
    w->resize(900, 700);
    QCOMPARE(w->size(), QSize(771, 494 + menu));
    QVERIFY(!w->windowIcon().isNull());
    QVERIFY(w->windowIcon().availableSizes().contains(QSize(32, 32)));
    QVERIFY(w->windowIcon().availableSizes().contains(QSize(16, 16)));
}

void MainWindowTest::theStageShowsTheDefaultBackgroundAndTheAnimatedPicture()
{
    Program p;
    frmMain *w = p.main.get();
    // The viewport shows 396 x 346 pixels inside its border; the background fills it.
    QCOMPARE(w->Picture7->client()->size(), QSize(396, 346));
    QCOMPARE(w->Picture3->picture().size(), QSize(400, 350));
    QCOMPARE(w->Picture3->client()->size(), QSize(400, 350));
    QCOMPARE(w->Picture3->scaleWidth(), 6000.0);
    QCOMPARE(w->Picture3->scaleHeight(), 5250.0);
    QVERIFY(w->AniGIF2->isVisible());
    QCOMPARE(w->AniGIF2->gifSize(), QSize(120, 120));
    QVERIFY(w->AniGIF2->FrameCount() >= 8);
    QVERIFY(w->AniGIF2->Playing());
    QSignalSpy frames(w->AniGIF2, &anigif::AniGif::FrameChanged);
    QVERIFY(frames.wait(2000));
    // Templates stay hidden and hold nothing.
    QVERIFY(w->AniGIF1.at(0)->isHidden());
    QCOMPARE(w->AniGIF1.at(0)->FrameCount(), 0);
    QVERIFY(w->Image1.at(0)->isHidden());
    QVERIFY(w->Picture4->isHidden());
    // The stage is clipped: what the viewport shows is the background's own pixels.
    const QImage shown = w->Picture7->client()->grab().toImage();
    QCOMPARE(shown.size(), QSize(396, 346));
    const QImage bg = w->Picture3->picture();
    QCOMPARE(QColor(shown.pixel(10, 300)).name(), QColor(bg.pixel(12, 302)).name());
}

void MainWindowTest::startUpShowsTheDesignStateAndTheStepBoxAt200()
{
    Program p;
    frmMain *w = p.main.get();
    QCOMPARE(w->Label3.at(1)->text(), QStringLiteral("000"));
    QCOMPARE(w->Label2->text(), QStringLiteral("0000"));
    QCOMPARE(w->Label4->text(), QStringLiteral("0000"));
    QCOMPARE(w->Label5->text(), QStringLiteral("00"));
    QCOMPARE(w->List1->count(), 0);
    QVERIFY(!w->Check1->isChecked());
    QVERIFY(!w->Check2->isChecked());
    QVERIFY(!w->Check3->isChecked());
    QVERIFY(!w->OnionSkin->isVisible());
    QCOMPARE(w->Combo1->count(), 5);
    QCOMPARE(w->Combo1->currentText(), QStringLiteral("200"));
    // The step box reads 200, so both horizontal arrows step by 200; the vertical ones by 100.
    QCOMPARE(w->UpDown5->increment(), 200);
    QCOMPARE(w->UpDown3->increment(), 200);
    QCOMPARE(w->UpDown4->increment(), 100);
    QCOMPARE(w->UpDown6->increment(), 100);
    QCOMPARE(w->UpDown5->value(), 2160);
    QCOMPARE(w->UpDown5->minimum(), -5000);
    QCOMPARE(w->UpDown5->maximum(), 32000);
    QCOMPARE(w->UpDown6->minimum(), -5000);
    QCOMPARE(w->UpDown6->maximum(), 0);
    QCOMPARE(w->UpDown7->value(), 1000);
    QCOMPARE(w->UpDown7->increment(), 10);
    QCOMPARE(w->UpDown3->minimum(), 0);
    QCOMPARE(w->UpDown3->maximum(), 0);
    QCOMPARE(w->SlideCount, 0);
    QCOMPARE(p.state.SelectedIndex, qint16(0));
    QCOMPARE(p.state.CharacterCount, qint16(0));
    QVERIFY(!p.state.SlidesUnsaved);
    QVERIFY(p.messages.isEmpty());
    // The keyboard starts on a button that shows it has the focus.
    QCOMPARE(w->focusWidget(), w->Command2);
    QVERIFY(w->testAttribute(Qt::WA_KeyboardFocusChange));
}

void MainWindowTest::startUpMakesTheSlideFolderOnceAndQuietly()
{
    Program p;
    QVERIFY(QFileInfo(p.folder(QStringLiteral("Animations"))).isDir());
    QCOMPARE(p.state.AnimationsFolder, p.folder(QStringLiteral("Animations")) + QLatin1Char('/'));
    // A second start over an existing folder with slides in it changes nothing.
    QFile old(p.folder(QStringLiteral("Animations/001.bmp")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("x");
    old.close();
    AppState again;
    again.programFolder = p.dir.path();
    again.endProgram = [] {};
    int shown = 0;
    again.message = [&](QWidget *, const controls::Message &) {
        ++shown;
        return controls::MsgResult::Ok;
    };
    frmMain second(again);
    QCOMPARE(shown, 0);
    QVERIFY(QFile::exists(p.folder(QStringLiteral("Animations/001.bmp"))));
}

void MainWindowTest::startUpGoesOnWhenTheSlideFolderCannotBeMade()
{
    QTemporaryDir dir;
    // A file stands where the folder would go.
    QFile blocker(dir.filePath(QStringLiteral("Animations")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    AppState state;
    state.programFolder = dir.path();
    state.endProgram = [] {};
    int shown = 0;
    state.message = [&](QWidget *, const controls::Message &) {
        ++shown;
        return controls::MsgResult::Ok;
    };
    frmMain w(state);
    w.show();
    QCOMPARE(shown, 0);
    QCOMPARE(state.AnimationsFolder, dir.filePath(QStringLiteral("Animations")) + QLatin1Char('/'));
    QCOMPARE(w.Combo1->currentText(), QStringLiteral("200"));
}

void MainWindowTest::theCloseBoxEndsTheProgramWithoutAsking()
{
    Program p;
    p.state.SlidesUnsaved = true;
    p.main->close();
    QCOMPARE(p.ended, 1);
    QVERIFY(p.messages.isEmpty());
}

void MainWindowTest::panelsLieBehindTheControlsInFrontOfThem()
{
    Program p;
    frmMain *w = p.main.get();
    // The window's children paint in creation order: a panel must come before what lies on it.
    const QObjectList order = w->Client->children();
    const auto pos = [&](QObject *o) { return order.indexOf(o); };
    for (QWidget *panel : {static_cast<QWidget *>(w->Command16), static_cast<QWidget *>(w->Command10),
                           static_cast<QWidget *>(w->Command19), static_cast<QWidget *>(w->Command20),
                           static_cast<QWidget *>(w->Command21), static_cast<QWidget *>(w->Command17),
                           static_cast<QWidget *>(w->Command18)}) {
        for (QWidget *front : {static_cast<QWidget *>(w->Picture7), static_cast<QWidget *>(w->FrameCommands),
                               static_cast<QWidget *>(w->FrameStatistics), static_cast<QWidget *>(w->FrameSelect),
                               static_cast<QWidget *>(w->Command14), static_cast<QWidget *>(w->FrameBackground)})
            QVERIFY2(pos(panel) < pos(front), qPrintable(panel->objectName() + " over " + front->objectName()));
    }
    // The coloured markers sit over the middle of their spin controls.
    const QObjectList inFrame = w->FrameBackground->children();
    QVERIFY(inFrame.indexOf(w->Picture6) > inFrame.indexOf(w->UpDown3));
    QVERIFY(inFrame.indexOf(w->Picture6) > inFrame.indexOf(w->UpDown4));
    // What the stage viewport shows at a panel's place is the stage, not the panel.
    QCOMPARE(w->childAt(QPoint(200, 200)), w->Picture3->client());
}

// The number at the end is all that tells two entries of one action apart.
void MainWindowTest::everySampleEntryShowsWholeWithItsNumber()
{
    Program p;
    controls::ListBox *list = p.main->List1;
    QStringList entries;
    for (const QString &name : QDir(VELLUMO_SAMPLE_LIBRARY "/objects").entryList(QDir::Files))
        entries << picker::characterEntry(picker::assetName(name), 99);
    for (const QString &name : QDir(VELLUMO_SAMPLE_LIBRARY "/articles").entryList(QDir::Files))
        entries << picker::propEntry(picker::assetName(name), 99);
    QVERIFY(entries.size() >= 17);
    list->addItems(entries);
    list->doItemsLayout();
    // With more entries than rows the vertical bar takes its share of the width too.
    QVERIFY(list->verticalScrollBar()->maximum() > 0);
    const QFontMetrics metrics(list->font());
    for (const QString &e : entries)
        QVERIFY2(metrics.horizontalAdvance(e) + 6 <= list->viewport()->width(),
                 qPrintable(QStringLiteral("%1: %2 px in %3").arg(e).arg(metrics.horizontalAdvance(e)).arg(list->viewport()->width())));
    QCOMPARE(list->horizontalScrollBar()->maximum(), 0);
}

void MainWindowTest::fixedWindowsOfferNoMaximiseAndModalOnesNoMinimise()
{
    Program p;
    frmLoad confirm(p.folder("Animations"), p.main.get());
    const QList<QWidget *> modal = {p.main->Buffer(), p.main->View(), p.main->Fon(), p.main->Buffer()->Bar(),
                                    &confirm};
    for (QWidget *w : QList<QWidget *>{p.main.get()} + modal) {
        QVERIFY2(!(w->windowFlags() & Qt::WindowMaximizeButtonHint), qPrintable(w->objectName()));
        QVERIFY2(w->minimumSize() == w->maximumSize(), qPrintable(w->objectName()));
    }
    for (QWidget *w : modal) {
        QVERIFY2(!(w->windowFlags() & Qt::WindowMinimizeButtonHint), qPrintable(w->objectName()));
        QVERIFY2(w->parentWidget(), qPrintable(w->objectName() + " has no owner to stand over"));
    }
    QVERIFY(p.main->windowFlags() & Qt::WindowMinimizeButtonHint);
}

void MainWindowTest::aMinimisedModalWindowTakesTheProgramWithItAndComesBackWithIt()
{
    Program p;
    frmView *view = p.main->View();
    view->setWindowModality(Qt::ApplicationModal);
    view->show();
    view->showMinimized();
    QVERIFY(p.main->isMinimized());
    p.main->showNormal();
    QVERIFY(!view->isMinimized());
    QVERIFY(view->isVisible());
    // Minimising the main window alone, with no modal window open, takes nothing else.
    view->hide();
    p.main->showMinimized();
    QVERIFY(!view->isVisible());
    p.main->showNormal();
    QVERIFY(!view->isVisible());
}

void MainWindowTest::everyControlHasARussianNameForScreenReadersAndPanelsNone()
{
    Program p;
    const QList<QWidget *> windows = {p.main.get(), p.main->Buffer(), p.main->View(), p.main->Buffer()->Bar(),
                                      p.main->Fon()};
    int named = 0, decorative = 0;
    for (QWidget *window : windows) {
        for (QWidget *w : window->findChildren<QWidget *>()) {
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
            QVERIFY(a);
            QString name = a->text(QAccessible::Name);
            // A drop-down list is named by its label; its own name is its current entry.
            if (qobject_cast<QComboBox *>(w))
                for (const auto &[label, relation] : a->relations(QAccessible::Label))
                    name = label->text(QAccessible::Name);
            const QString where = window->objectName() + "/" + w->objectName() + " " + w->metaObject()->className();
            if (controls::isDecorative(w)) {
                QVERIFY2(name.isEmpty() && a->state().invisible, qPrintable(where));
                ++decorative;
                continue;
            }
            const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QAbstractSlider *>(w) ||
                                 qobject_cast<QComboBox *>(w) || qobject_cast<QAbstractItemView *>(w) ||
                                 qobject_cast<controls::SpinControl *>(w) || qobject_cast<QProgressBar *>(w);
            if (!control || !w->isVisibleTo(window))
                continue;
            const bool russian = std::any_of(name.begin(), name.end(), [](QChar c) { return c.script() == QChar::Script_Cyrillic; });
            QVERIFY2(russian && !name.contains("Command"), qPrintable(where + ": \"" + name + "\""));
            ++named;
        }
    }
    QVERIFY(named >= 40);
    QVERIFY(decorative >= 9); // seven panels on the main window, the preview's, the markers
}

void MainWindowTest::everyControlExplainsItselfInARussianTooltip()
{
    Program p;
    frmExport exporting(p.state, p.main->Buffer()->store(), p.main->Buffer());
    int explained = 0;
    for (QWidget *window : QWidgetList{p.main.get(), p.main->Buffer(), p.main->View(), p.main->Fon(), &exporting})
        for (QWidget *w : window->findChildren<QWidget *>()) {
            const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QAbstractSlider *>(w) ||
                                 qobject_cast<QComboBox *>(w) || qobject_cast<QAbstractItemView *>(w) ||
                                 qobject_cast<QAbstractSpinBox *>(w);
            // Raised panels are never enabled nor focused; a spin control's arrow shows its owner's tooltip.
            if (!control || (!w->isEnabled() && w->focusPolicy() == Qt::NoFocus) || !w->isVisibleTo(window))
                continue;
            QString tip;
            for (QWidget *up = w; tip.isEmpty() && up != window; up = up->parentWidget())
                tip = up->toolTip();
            QVERIFY2(tip.contains(QRegularExpression(QStringLiteral("[а-я]+ [а-я]+"))), qPrintable(w->objectName()));
            ++explained;
        }
    QVERIFY(explained >= 40);
}

void MainWindowTest::everyTextStaysReadableUnderADarkPalette()
{
    const QPalette before = QApplication::palette();
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(60, 60, 64));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    {
        Program p;
        // Luminance apart by at least half the scale: black on white is 1, grey on grey near 0.
        const auto apart = [](const QColor &a, const QColor &b) { return std::abs(a.lightnessF() - b.lightnessF()); };
        const auto background = [](const QWidget *w) {
            while (w->parentWidget() && !w->autoFillBackground())
                w = w->parentWidget();
            return w->palette().color(w->backgroundRole());
        };
        for (QLabel *l : p.main->findChildren<QLabel *>()) {
            if (!l->isVisibleTo(p.main.get()) || l->text().isEmpty())
                continue;
            QVERIFY2(apart(l->palette().color(QPalette::WindowText), background(l)) > 0.5, qPrintable(l->text()));
        }
        for (QCheckBox *c : p.main->findChildren<QCheckBox *>())
            QVERIFY2(apart(c->palette().color(QPalette::WindowText), background(c)) > 0.5, qPrintable(c->text()));
        // The step box and the object list stay white, so their text is black.
        QCOMPARE(p.main->Combo1->palette().color(QPalette::Button), QColor(Qt::white));
        QCOMPARE(p.main->Combo1->palette().color(QPalette::ButtonText), QColor(Qt::black));
        QCOMPARE(p.main->Combo1->palette().color(QPalette::Text), QColor(Qt::black));
        QCOMPARE(p.main->List1->palette().color(QPalette::Text), QColor(Qt::black));
        // For a person to look at, beside the real-window tests' screenshots.
        QDir().mkpath(QStringLiteral("e2e-screens"));
        p.main->grab().save(QStringLiteral("e2e-screens/mainwindow-dark.png"));
    }
    QApplication::setPalette(before);
}

void MainWindowTest::fixedColoursKeepTheirContrastUnderLightAndDarkThemes_data()
{
    QTest::addColumn<QColor>("window");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QColor>("wanted");
    // Fusion's light grey, Adwaita-dark and Breeze Dark.
    for (QColor window : {QColor(0xefefef), QColor(0x353535), QColor(0x31363b)})
        for (const auto &[control, colour] : QList<QPair<const char *, QColor>>{
                 {"frmLoad/Label1", Qt::red}, {"frmLoad/Label2", Qt::blue}, {"frmMain/Picture6", Qt::red},
                 {"frmMain/Picture5", Qt::green}})
            QTest::addRow("%s on %s", control, qPrintable(window.name())) << window << QString(control) << colour;
}

void MainWindowTest::fixedColoursKeepTheirContrastUnderLightAndDarkThemes()
{
    QFETCH(QColor, window);
    QFETCH(QString, control);
    QFETCH(QColor, wanted);
    const QPalette before = QApplication::palette();
    QTemporaryDir slides;
    Program p;
    frmLoad load(slides.path());
    // The windows are built under the desktop's colours; then the theme changes under them.
    QPalette theme = before;
    for (auto role : {QPalette::Window, QPalette::Button, QPalette::Base})
        theme.setColor(role, window);
    QApplication::setPalette(theme);
    QCoreApplication::processEvents();
    QWidget *top = control.startsWith("frmLoad") ? static_cast<QWidget *>(&load) : p.main.get();
    const QWidget *w = top->findChild<QWidget *>(control.section('/', 1));
    const QImage shot = top->grab(QRect(w->mapTo(top, QPoint()), w->size())).toImage();
    const QColor background = w->parentWidget()->palette().color(QPalette::Window);
    QApplication::setPalette(before);
    // The control's colour is its drawn pixel that stands out most from the background.
    QColor drawn = background;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (controls::contrastRatio(shot.pixelColor(x, y), background) > controls::contrastRatio(drawn, background))
                drawn = shot.pixelColor(x, y);
    QVERIFY2(controls::contrastRatio(drawn, background) >= 4.5 && drawn.hslHue() == wanted.hslHue(),
             qPrintable(drawn.name() + " on " + background.name()));
    // A colour that reads well already is drawn as it always was.
    if (controls::contrastRatio(wanted, background) >= 4.5)
        QCOMPARE(drawn, wanted);
}

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
