#pragma once
// The main window: the stage with the scene on the left, the control frames
// under it, the command column "Управление" and, on the right, statistics,
// slide commands, settings, the object list and the exit button. The other
// windows write into its controls directly, so they are public members
// named as everywhere else in the program.

#include <QWidget>

#include "anigif/AniGif.h"
#include "app/AppState.h"
#include "controls/Button.h"
#include "controls/ControlArray.h"
#include "controls/ImageControl.h"
#include "controls/PictureBox.h"
#include "controls/SpinControl.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;

class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(AppState &state, QWidget *parent = nullptr);
    ~frmMain() override;

    AppState &state() { return m_state; }

    // ---- Stage area ----
    controls::Button *Command16;         // raised panel behind the whole left part
    controls::Button *Command10;         // raised bevel around the stage
    controls::PictureBox *Picture7;      // stage viewport: 396 x 346 pixels inside its sunken border
    controls::PictureBox *Picture3;      // background picture; container of every scene object
    anigif::AniGif *AniGIF2;             // the animated picture on the stage until an asset is loaded
    controls::ControlArray<anigif::AniGif> AniGIF1;         // characters; element 0 is the hidden template
    controls::ControlArray<controls::ImageControl> Image1;  // props; element 0 is the hidden template
    controls::Button *Command18;         // decorative strip under the stage
    controls::Button *Command17;         // decorative strip under the stage
    controls::PictureBox *Picture4;      // hidden working box of the slide capture

    // ---- Frame "Управление фоном" ----
    QGroupBox *FrameBackground;
    QWidget *Picture6;                   // red square, marker of the background controls
    controls::SpinControl *UpDown3;      // background X
    controls::SpinControl *UpDown4;      // background Y
    QLabel *Label8;                      // "Y = "

    // ---- Frame "Управление объектом" ----
    QGroupBox *FrameObject;
    QWidget *Picture5;                   // green square, marker of the object controls
    controls::SpinControl *UpDown5;      // character X
    controls::SpinControl *UpDown6;      // character Y, counted upwards
    QLabel *Label9;                      // "Y = " and the character's Y

    // ---- Frame "Действие" ----
    QGroupBox *FrameAction;
    QLabel *Label13;                     // "Размер"
    controls::SpinControl *UpDown7;      // grows and shrinks the character through its arrows
    QCheckBox *Check1;                   // "Синхро": a frame step after each move
    controls::Button *Command11;         // "Шаг": frame step

    // ---- Command column "Управление" ----
    controls::Button *Command19;         // raised panel behind the frame
    QGroupBox *FrameCommands;
    controls::Button *Command4;          // "Загрузить фон"
    controls::Button *Command9;          // "Удалить фон"
    controls::Button *Command12;         // "Загрузить предмет"
    controls::Button *Command3;          // "Загрузить персонаж"
    controls::Button *Command6;          // "Сменить действие"
    controls::Button *Command7;          // "Оживить" / "Остановить"
    controls::Button *Command5;          // "Удалить объект"
    QCheckBox *Check2;                   // "Синхро": record a slide after each move or step
    controls::Button *Command2;          // "ЗАПИСЬ": record a slide

    // ---- Right column ----
    controls::Button *Command20;         // raised panel behind the upper right
    controls::Button *Command21;         // raised panel behind the lower right
    QGroupBox *FrameStatistics;
    QLabel *Label2;                      // background X, "0000"
    QLabel *Label4;                      // selected character's X, "0000"
    QLabel *Label5;                      // animation frame, "00"
    QGroupBox *FrameSlides;
    controls::Button *Command15;         // "Сохранение": shows the slide buffer
    controls::Button *Command8;          // "Просмотр": the preview
    controls::Button *Command1;          // "Очистка": empties the slide buffer
    QGroupBox *FrameSettings;
    QComboBox *Combo1;                   // step box "Интервал шаг": 100 to 500
    QGroupBox *FrameSelect;
    QListWidget *List1;                  // object list
    controls::Button *Command14;          // "Завершение работы"

    controls::ControlArray<QLabel> Label1; // captions: 0-3 statistics, 4 "Интервал шаг", 5 and 6 "X = "
    controls::ControlArray<QLabel> Label3; // 0 "W =" / 2 "H =" of the background, 1 slide count, 3 and 4 fixed

    // ---- Window-level state ----
    int SlideCount = 0;    // index of the newest slide in the slide buffer
    int FrameCounter = 0;  // the frame that the last frame step put on show
    int GrabX = 0;         // where, inside a prop, the left button went down (twips)
    int GrabY = 0;

    // The frame step of the selected character.
    void DoPicture();

public slots:
    void Combo1_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildLayout();
    void Form_Load();

    AppState &m_state;
};
