#include "app/frmMain.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>

#include "controls/Contrast.h"
#include "controls/Fonts.h"
#include "controls/Frame.h"
#include "controls/ListBox.h"
#include "controls/MinimiseTogether.h"
#include "controls/Twips.h"
#include "controls/UndoKeys.h"
#include "controls/Widgets.h"
#include "controls/WindowFrame.h"
#include "export/UnfinishedExports.h"
#include "project/Document.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

using controls::button;
using controls::panel;
using controls::square;
using twips::place;

namespace {

using controls::PictureBox;
using controls::SpinControl;

// Client area of the window in twips: 771 x 494 pixels.
constexpr int ClientWidthTwips = 11565;
constexpr int ClientHeightTwips = 7410;

QGroupBox *frame(QWidget *parent, const char *name, const QString &caption, double l, double t, double w, double h)
{
    auto *g = place(new controls::Frame(caption, parent), name, l, t, w, h);
    g->setFont(fonts::msSansSerif());
    return g;
}

QLabel *label(QWidget *parent, const char *name, const QString &caption, double l, double t, double w, double h,
              const QFont &font)
{
    auto *lb = place(new QLabel(caption, parent), name, l, t, w, h);
    lb->setFont(font);
    lb->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Opaque like the frame around it: a new caption repaints only the label.
    lb->setAutoFillBackground(true);
    return lb;
}

// A statistics value: the text colour of a field on the field colour, black
// on white on a light desktop and readable on a dark one.
QLabel *valueLabel(QWidget *parent, const char *name, const QString &text, double l, double t, double w, double h)
{
    auto *lb = label(parent, name, text, l, t, w, h, fonts::msSansSerif(9.75));
    QPalette pal = lb->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    pal.setColor(QPalette::WindowText, pal.color(QPalette::Text));
    lb->setPalette(pal);
    lb->setAutoFillBackground(true);
    return lb;
}

SpinControl *spin(QWidget *parent, const char *name, Qt::Orientation o, double l, double t, double w, double h,
                  int value, int step, int min, int max)
{
    auto *s = place(new SpinControl(o, parent), name, l, t, w, h);
    s->setRange(min, max);
    s->setValue(value);
    s->setIncrement(step);
    return s;
}

QCheckBox *checkBox(QWidget *parent, const char *name, const QString &caption, double l, double t, double w, double h)
{
    auto *c = place(new QCheckBox(caption, parent), name, l, t, w, h);
    c->setFont(fonts::msSansSerif());
    return c;
}

// Every recording draws the stage into a picture of half a megabyte that is held for a few recordings
// (its thumbnail, the capture box) and then freed. The C library would hand such blocks to the system
// and back, and every recording would then wait for the kernel to fault fresh pages in: they are kept
// in the heap instead, with up to 8 MB of freed memory held for the next ones.
void keepSlidePicturesInTheHeap()
{
#ifdef __GLIBC__
    static const bool once = [] {
        ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
        ::mallopt(M_TRIM_THRESHOLD, 8 << 20);
        return true;
    }();
    Q_UNUSED(once);
#endif
}

} // namespace

frmMain::frmMain(AppState &state, QWidget *parent) : QWidget(parent), m_state(state)
{
    keepSlidePicturesInTheHeap();
    if (!m_state.endProgram)
        m_state.endProgram = [] { QCoreApplication::exit(0); };
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral(" Vellumo"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/assets/icon32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/assets/icon16.png"), QSize(16, 16));
    setWindowIcon(icon);
    // A fixed border: no resizing and no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(fonts::msSansSerif());

    // The menu bar on top, and under it the area that holds every other control, placed in it as ever:
    // the window is taller by the menu's height and nothing else moves.
    Client = new QWidget(this);
    Client->setObjectName(QStringLiteral("Client"));
    buildMenu();
    const int menuHeight = MenuBar->sizeHint().height();
    MenuBar->setGeometry(0, 0, twips::toPixels(ClientWidthTwips), menuHeight);
    Client->setGeometry(0, menuHeight, twips::toPixels(ClientWidthTwips), twips::toPixels(ClientHeightTwips));
    setFixedSize(twips::toPixels(ClientWidthTwips), menuHeight + twips::toPixels(ClientHeightTwips));

    buildLayout();
    Form_Load();

    // Start centred on the screen.
    controls::centreOnScreen(this);
    new controls::MinimiseTogether(this);
    controls::keepFixedWindowsUnmaximised();
}

frmMain::~frmMain() = default;

void frmMain::buildLayout()
{
    // The disabled panel buttons come first so that everything else lies in front of them.
    Command16 = panel(Client, "Command16", QStringLiteral("Command16"), 45, 45, 6360, 7305);
    Command10 = panel(Client, "Command10", QStringLiteral("Command10"), 135, 135, 6180, 5460);
    Command19 = panel(Client, "Command19", QStringLiteral("Command19"), 6480, 45, 1725, 7305);
    Command20 = panel(Client, "Command20", QString(), 8280, 45, 3255, 3660);
    Command21 = panel(Client, "Command21", QString(), 8280, 3780, 3255, 3570);
    Command18 = panel(Client, "Command18", QString(), 2070, 5580, 2265, 150);
    Command17 = panel(Client, "Command17", QString(), 1755, 5715, 2895, 195);

    // ---- Stage ----
    Picture7 = place(new PictureBox(Client, PictureBox::SunkenBorder), "Picture7", 225, 225, 6000, 5250);
    Picture7->setAccessibleName(QStringLiteral("Сцена"));
    Picture7->setBackColor(palette().color(QPalette::WindowText));
    Picture3 = place(new PictureBox(Picture7->client(), PictureBox::FlatBorder), "Picture3", -45, -45, 6030, 5280);
    Picture3->setBackColor(palette().color(QPalette::Base));
    Picture3->setAutoSize(true);
    {
        // With its file's bytes, as every background has, so that a saved scene carries it as it is.
        QFile file(QStringLiteral(":/assets/background.jpg"));
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        Picture3->setPicture(QImage::fromData(bytes), bytes);
    }

    QWidget *scene = Picture3->client();
    auto *propTemplate = place(new controls::ImageControl(scene), nullptr, 360, 450, 1410, 1455);
    propTemplate->hide();
    Image1.reset(QStringLiteral("Image1"), propTemplate);
    auto *characterTemplate = place(new anigif::AniGif(scene), nullptr, 2160, 0, 1320, 1410);
    characterTemplate->hide();
    AniGIF1.reset(QStringLiteral("AniGIF1"), characterTemplate);
    AniGIF2 = place(new anigif::AniGif(scene), "AniGIF2", 4050, -45, 1800, 1800);
    AniGIF2->setAutoSize(false);
    AniGIF2->setSizeMode(2);
    AniGIF2->LoadFile(QStringLiteral(":/assets/stage.gif"));
    AniGIF2->setPlaying(true);

    Picture4 = place(new PictureBox(Client, PictureBox::FlatBorder), "Picture4", 45, 5625, 330, 375);
    Picture4->hide();

    // ---- Frame "Управление фоном" ----
    FrameBackground = frame(Client, "Frame1", QStringLiteral("Управление фоном"), 135, 5985, 1995, 1275);
    UpDown3 = spin(FrameBackground, "UpDown3", Qt::Horizontal, 135, 630, 690, 240, 0, 100, 0, 0);
    UpDown3->setToolTip(QStringLiteral("Сдвинуть фон влево или вправо на шаг из «Интервал шаг».\nС отмеченными «Синхро» после сдвига персонаж переходит\nк следующему кадру, а слайд записывается сам."));
    UpDown4 = spin(FrameBackground, "UpDown4", Qt::Vertical, 360, 360, 240, 780, 0, 100, 0, 0);
    UpDown4->setToolTip(QStringLiteral("Сдвинуть фон вверх или вниз.\n«Синхро» на этот сдвиг не действует:\nкадр не меняется и слайд не записывается."));
    Picture6 = square(FrameBackground, "Picture6", QColor(255, 0, 0), 360, 630, 240, 240);
    controls::keepReadable(Picture6, QPalette::Window, QColor(255, 0, 0));
    UpDown3->setAccessibleNames(QStringLiteral("Фон: влево/вправо"), QStringLiteral("Фон влево"),
                                QStringLiteral("Фон вправо"));
    UpDown4->setAccessibleNames(QStringLiteral("Фон: вверх/вниз"), QStringLiteral("Фон вниз"),
                                QStringLiteral("Фон вверх"));
    Label1.setName(QStringLiteral("Label1"));
    Label3.setName(QStringLiteral("Label3"));
    const QFont small = fonts::smallFonts();
    Label1.adopt(5, label(FrameBackground, nullptr, QStringLiteral("X = "), 1125, 270, 810, 255, small));
    Label8 = label(FrameBackground, "Label8", QStringLiteral("Y = "), 1125, 495, 810, 255, small);
    Label3.adopt(0, label(FrameBackground, nullptr, QStringLiteral("W ="), 1125, 720, 780, 240, small));
    Label3.adopt(2, label(FrameBackground, nullptr, QStringLiteral("H ="), 1125, 945, 825, 240, small));

    // ---- Frame "Управление объектом" ----
    FrameObject = frame(Client, "Frame2", QStringLiteral("Управление объектом"), 2205, 5985, 1995, 1275);
    UpDown5 = spin(FrameObject, "UpDown5", Qt::Horizontal, 135, 630, 690, 240, 2160, 200, -5000, 32000);
    UpDown5->setToolTip(QStringLiteral("Сдвинуть выбранного персонажа влево или вправо\nна шаг из «Интервал шаг».\nС отмеченными «Синхро» после сдвига он переходит\nк следующему кадру, а слайд записывается сам."));
    UpDown6 = spin(FrameObject, "UpDown6", Qt::Vertical, 360, 360, 240, 780, 0, 100, -5000, 0);
    UpDown6->setToolTip(QStringLiteral("Сдвинуть выбранного персонажа вверх или вниз.\nС отмеченными «Синхро» после сдвига он переходит\nк следующему кадру, а слайд записывается сам."));
    Picture5 = square(FrameObject, "Picture5", QColor(0, 255, 0), 360, 630, 240, 240);
    controls::keepReadable(Picture5, QPalette::Window, QColor(0, 255, 0));
    UpDown5->setAccessibleNames(QStringLiteral("Персонаж: влево/вправо"), QStringLiteral("Персонаж влево"),
                                QStringLiteral("Персонаж вправо"));
    UpDown6->setAccessibleNames(QStringLiteral("Персонаж: вверх/вниз"), QStringLiteral("Персонаж вниз"),
                                QStringLiteral("Персонаж вверх"));
    Label1.adopt(6, label(FrameObject, nullptr, QStringLiteral("X = "), 1125, 270, 810, 255, small));
    Label9 = label(FrameObject, "Label9", QStringLiteral("Y = "), 1125, 495, 810, 255, small);
    Label3.adopt(4, label(FrameObject, nullptr, QStringLiteral("W ="), 945, 720, 555, 240, small));
    Label3.adopt(3, label(FrameObject, nullptr, QStringLiteral("H ="), 945, 945, 555, 240, small));

    // ---- Frame "Действие" ----
    FrameAction = frame(Client, "Frame3", QStringLiteral("Действие"), 4275, 5985, 2040, 1275);
    Label13 = label(FrameAction, "Label13", QStringLiteral("Размер"), 90, 405, 645, 240, fonts::msSansSerif());
    UpDown7 = spin(FrameAction, "UpDown7", Qt::Horizontal, 1035, 360, 915, 285, 1000, 10, 100, 1000);
    UpDown7->setToolTip(QStringLiteral("Сделать выбранного персонажа больше или меньше."));
    UpDown7->setAccessibleNames(QStringLiteral("Размер: меньше/больше"), QStringLiteral("Меньше"),
                                QStringLiteral("Больше"));
    Check1 = checkBox(FrameAction, "Check1", QStringLiteral("Синхро"), 90, 810, 915, 240);
    Check1->setToolTip(QStringLiteral("Синхро движения: когда отмечено, после каждого сдвига стрелками\n(фона влево-вправо или персонажа) выбранный персонаж\nпереходит к следующему кадру, как от кнопки «Шаг».\nСлайд этот флажок не записывает."));
    Command11 = button(FrameAction, "Command11", QStringLiteral("Шаг"), 1035, 810, 915, 285);
    Command11->setToolTip(QStringLiteral("Показать следующий кадр движения выбранного персонажа.\nЕсли отмечено «Синхро» над кнопкой «ЗАПИСЬ»,\nслайд записывается сам."));

    // ---- Command column ----
    FrameCommands = frame(Client, "Frame4", QStringLiteral("Управление"), 6570, 135, 1545, 7125);
    Command4 = button(FrameCommands, "Command4", QStringLiteral("Загрузить фон"), 90, 360, 1365, 555);
    Command4->setToolTip(QStringLiteral("Выбрать картинку для заднего плана сцены."));
    Command9 = button(FrameCommands, "Command9", QStringLiteral("Удалить фон"), 90, 945, 1365, 555, false);
    Command9->setToolTip(QStringLiteral("Убрать выбранный фон со сцены."));
    Command12 = button(FrameCommands, "Command12", QStringLiteral("Загрузить предмет"), 90, 1665, 1365, 555);
    Command12->setToolTip(QStringLiteral("Поставить на сцену предмет: неподвижную картинку,\nкоторую можно перетаскивать мышью."));
    Command3 = button(FrameCommands, "Command3", QStringLiteral("Загрузить персонаж"), 90, 2385, 1365, 555);
    Command3->setToolTip(QStringLiteral("Поставить на сцену персонажа: движущуюся картинку,\nкоторую двигают стрелками под сценой."));
    Command6 = button(FrameCommands, "Command6", QStringLiteral("Сменить действие"), 90, 3105, 1365, 555, false);
    Command6->setToolTip(QStringLiteral("Заменить движение выбранного персонажа другим\n(например, «идёт» на «бежит»); он остаётся на своём месте."));
    Command7 = button(FrameCommands, "Command7", QStringLiteral("Оживить"), 90, 3825, 1365, 555, false);
    Command7->setToolTip(QStringLiteral("«Оживить»: выбранный персонаж сам проигрывает своё движение.\n«Остановить»: он замирает на первом кадре,\nи кадры можно менять кнопкой «Шаг»."));
    Command5 = button(FrameCommands, "Command5", QStringLiteral("Удалить объект"), 90, 4545, 1365, 555);
    Command5->setToolTip(QStringLiteral("Убрать со сцены объект, выбранный в списке «Выбор объекта»."));
    Check2 = checkBox(FrameCommands, "Check2", QStringLiteral("Синхро"), 135, 5310, 1320, 195);
    Check2->setToolTip(QStringLiteral("Синхро записи: когда отмечено, слайд записывается сам\nпосле каждого сдвига стрелками (фона влево-вправо или персонажа)\nи после каждого нажатия «Шаг», без кнопки «ЗАПИСЬ»."));
    Command2 = button(FrameCommands, "Command2", QStringLiteral("ЗАПИСЬ"), 90, 5715, 1365, 1320);
    Command2->setFont(fonts::msSansSerif(12));

    // ---- Frame "Статистика" ----
    FrameStatistics = frame(Client, "Frame5", QStringLiteral("Статистика"), 8370, 135, 3075, 1635);
    const QFont system = fonts::msSansSerif();
    Label1.adopt(0, label(FrameStatistics, nullptr, QStringLiteral("Всего кадров:"), 180, 225, 1365, 285, system));
    Label3.adopt(1, valueLabel(FrameStatistics, nullptr, QStringLiteral("000"), 180, 450, 1275, 285));
    Label1.adopt(1, label(FrameStatistics, nullptr, QStringLiteral("Задний план:"), 1575, 225, 1365, 285, system));
    Label2 = valueLabel(FrameStatistics, "Label2", QStringLiteral("0000"), 1575, 450, 1275, 285);
    Label1.adopt(2, label(FrameStatistics, nullptr, QStringLiteral("Персонаж X:"), 135, 900, 1365, 285, system));
    Label4 = valueLabel(FrameStatistics, "Label4", QStringLiteral("0000"), 180, 1170, 1275, 285);
    Label1.adopt(3, label(FrameStatistics, nullptr, QStringLiteral("Кодр аним.:"), 1530, 945, 1365, 285, system));
    Label5 = valueLabel(FrameStatistics, "Label5", QStringLiteral("00"), 1575, 1170, 1275, 285);

    // ---- Frame "Слайды" ----
    FrameSlides = frame(Client, "Frame6", QStringLiteral("Слайды"), 8370, 1800, 1545, 1770);
    Command15 = button(FrameSlides, "Command15", QStringLiteral("Сохранение"), 135, 360, 1275, 420);
    Command15->setToolTip(QStringLiteral("Открыть буфер слайдов: посмотреть записанные слайды,\nудалить лишние, сохранить их в папку\nили сделать из них файл мультфильма."));
    Command8 = button(FrameSlides, "Command8", QStringLiteral("Просмотр"), 135, 810, 1275, 420, false);
    Command8->setToolTip(QStringLiteral("Посмотреть записанные слайды как мультфильм."));
    Command1 = button(FrameSlides, "Command1", QStringLiteral("Очистка"), 135, 1260, 1275, 420, false);
    Command1->setToolTip(QStringLiteral("Удалить все записанные слайды из буфера. Ctrl+Z возвращает их."));

    // ---- Frame "Установки" ----
    FrameSettings = frame(Client, "Frame7", QStringLiteral("Установки"), 9990, 1800, 1455, 1770);
    Label1.adopt(4, label(FrameSettings, nullptr, QStringLiteral("Интервал шаг"), 45, 315, 1365, 285, system));
    Combo1 = place(new QComboBox(FrameSettings), "Combo1", 225, 720, 1005, 315);
    Combo1->setToolTip(QStringLiteral("На сколько сдвигаются фон и персонаж влево-вправо\nза одно нажатие стрелки: чем больше число, тем длиннее шаг."));
    Combo1->setFont(fonts::timesNewRoman(8.25, true));
    Combo1->setAccessibleName(QStringLiteral("Интервал шаг"));
    // On Linux a screen reader names a drop-down list by the label that stands for it.
    Label1.at(4)->setBuddy(Combo1);
    Combo1->addItems({QStringLiteral("100"), QStringLiteral("200"), QStringLiteral("300"), QStringLiteral("400"),
                      QStringLiteral("500")});
    {
        // White whatever the desktop's colours, so its text is black too.
        QPalette pal = Combo1->palette();
        pal.setColor(QPalette::Base, Qt::white);
        pal.setColor(QPalette::Button, Qt::white);
        pal.setColor(QPalette::Text, Qt::black);
        pal.setColor(QPalette::ButtonText, Qt::black);
        pal.setColor(QPalette::WindowText, Qt::black);
        Combo1->setPalette(pal);
    }
    Check3 = checkBox(FrameSettings, "Check3", QStringLiteral("Калька"), 135, 1230, 1230, 255);
    Check3->setToolTip(QStringLiteral("Калька: последний записанный слайд бледно виден поверх сцены,\nчтобы было видно, куда сдвинуть персонажа.\nВ слайды калька не попадает."));

    // ---- Frame "Выбор объекта" ----
    FrameSelect = frame(Client, "Frame8", QStringLiteral("Выбор объекта"), 8370, 3870, 3075, 2670);
    List1 = place(new controls::ListBox(FrameSelect), "List1", 90, 360, 2895, 2205);
    List1->setToolTip(QStringLiteral("Все персонажи и предметы на сцене.\nЩёлкните строку, чтобы двигать, менять или удалить этот объект."));
    List1->setFont(fonts::listFont());
    List1->setAccessibleName(QStringLiteral("Объекты на сцене"));
    {
        QPalette pal = List1->palette();
        pal.setColor(QPalette::Base, Qt::white);
        pal.setColor(QPalette::Text, Qt::black);
        List1->setPalette(pal);
    }

    Command14 = button(Client, "Command14", QStringLiteral("Завершение работы"), 8640, 6750, 2580, 420);
    Command14->setToolTip(QStringLiteral("Закрыть программу. Несохранённые слайды не пропадут:\nпри следующем запуске программа предложит их вернуть."));

    buildComposing();
    buildImport();
    buildCaptions();
    connectHandlers();
    // The window opens on "ЗАПИСЬ": a button draws its focus mark, where the
    // first control in the tab order (a spin box's bare arrows) shows none.
    Command2->setFocus(Qt::OtherFocusReason);
}

void frmMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The style draws the focus mark only once the keyboard has moved the
    // focus, and showing a window forgets that; it opens as if it had, so the
    // mark on "ЗАПИСЬ" shows at once.
    setAttribute(Qt::WA_KeyboardFocusChange);
}

void frmMain::connectHandlers()
{
    connect(List1, &controls::ListBox::choiceChanged, this, &frmMain::List1_Click);
    connect(Command5, &QPushButton::clicked, this, &frmMain::Command5_Click);
    connect(Command9, &QPushButton::clicked, this, &frmMain::Command9_Click);
    connect(Command3, &QPushButton::clicked, this, &frmMain::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &frmMain::Command4_Click);
    connect(Command6, &QPushButton::clicked, this, &frmMain::Command6_Click);
    connect(Command12, &QPushButton::clicked, this, &frmMain::Command12_Click);

    connect(Command2, &QPushButton::clicked, this, &frmMain::Command2_Click);
    connect(Command15, &QPushButton::clicked, this, &frmMain::Command15_Click);
    connect(Command1, &QPushButton::clicked, this, &frmMain::Command1_Click);

    connect(Combo1, &QComboBox::activated, this, &frmMain::Combo1_Click);
    connect(UpDown3, &controls::SpinControl::Change, this, &frmMain::UpDown3_Change);
    connect(UpDown4, &controls::SpinControl::Change, this, &frmMain::UpDown4_Change);
    connect(UpDown5, &controls::SpinControl::Change, this, &frmMain::UpDown5_Change);
    connect(UpDown6, &controls::SpinControl::Change, this, &frmMain::UpDown6_Change);
    connect(UpDown7, &controls::SpinControl::UpClick, this, &frmMain::UpDown7_UpClick);
    connect(UpDown7, &controls::SpinControl::DownClick, this, &frmMain::UpDown7_DownClick);
    connect(Command7, &QPushButton::clicked, this, &frmMain::Command7_Click);
    connect(Command11, &QPushButton::clicked, this, &frmMain::Command11_Click);

    connect(Command8, &QPushButton::clicked, this, &frmMain::Command8_Click);
    connect(Command14, &QPushButton::clicked, this, &frmMain::Command14_Click);
    new controls::UndoKeys(this, [this] { Undo(); }, [this] { Redo(); });
}

void frmMain::connectCharacter(int index)
{
    if (anigif::AniGif *c = AniGIF1.at(index))
        connect(c, &anigif::AniGif::FrameChanged, this, &frmMain::AniGIF1_FrameChanged);
}

void frmMain::connectProp(int index)
{
    controls::ImageControl *p = Image1.at(index);
    if (!p)
        return;
    connect(p, &controls::ImageControl::MouseDown, this,
            [this, index](Qt::MouseButton b, Qt::MouseButtons bs, Qt::KeyboardModifiers m, double x, double y) {
                Image1_MouseDown(index, b, bs, m, x, y);
            });
    connect(p, &controls::ImageControl::MouseMove, this,
            [this, index](Qt::MouseButtons bs, Qt::KeyboardModifiers m, double x, double y) {
                Image1_MouseMove(index, bs, m, x, y);
            });
    connect(p, &controls::ImageControl::DblClick, this, [this, index] {
        if (Captions.contains(index))
            editCaption(index);
    });
}

void frmMain::Form_Load()
{
    // Each step on its own: a folder that exists or cannot be made is no reason to stop.
    const QString parent = m_state.slidesParent.isEmpty() ? m_state.programFolder : m_state.slidesParent;
    if (m_state.slidesParent.isEmpty())
        QDir(parent).mkdir(QStringLiteral("Animations"));
    else
        QDir(parent).mkpath(QStringLiteral("Animations")); // the user's Pictures folder may not hold "Vellumo" yet
    m_state.AnimationsFolder = parent + QStringLiteral("/Animations/");
    // The user's own asset folders, empty until the user fills them.
    if (!m_state.userAssets.isEmpty())
        for (const char *kind : {"objects", "articles", "fones"})
            QDir(m_state.userAssets).mkpath(QLatin1String(kind));
    // Hidden temporary files of exports killed with an earlier run.
    exporting::unfinished::sweep(m_state.stateFolder);
    Combo1->setCurrentText(QStringLiteral("200"));
    // The step box shows "200", so the arrows move by 200 from the start, as a user reading it expects.
    Combo1_Click();
    // The scene as it stands now is what a new project starts from.
    m_document = new project::Document(*this, m_state);
    connect(m_document, &project::Document::changed, this, &frmMain::showProject);
    showProject();
    // Before anything else is shown: the question whether to bring back slides of the last run.
    offerRecovery();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // The close box ends the program at once, without asking; unsaved slides stay in the journal. Only a
    // named project with unsaved changes asks first, and stays on "Отмена".
    if (m_document && !m_document->mayLeave()) {
        event->ignore();
        return;
    }
    event->accept();
    endRun();
}
