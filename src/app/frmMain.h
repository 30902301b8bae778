#pragma once
// The main window: the stage with the scene on the left, the control frames
// under it, the command column "Управление" and, on the right, statistics,
// slide commands, settings, the object list and the exit button. The other
// windows write into its controls directly, so they are public members
// named as everywhere else in the program.

#include <QHash>
#include <QWidget>

#include <functional>
#include <optional>

#include "anigif/AniGif.h"
#include "app/AppState.h"
#include "controls/Button.h"
#include "controls/ControlArray.h"
#include "controls/ImageControl.h"
#include "controls/ListBox.h"
#include "controls/PictureBox.h"
#include "controls/SpinControl.h"
#include "text/Caption.h"

class frmBuffer;
class frmFon;
class frmView;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QShortcut;
namespace project {
class Document;
}
namespace slides {
class OnionSkin;
}
namespace importing {
struct Imported;
}

class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(AppState &state, QWidget *parent = nullptr);
    ~frmMain() override;

    AppState &state() { return m_state; }

    // ---- Menu bar (frmMainMenu.cpp) ----
    QMenuBar *MenuBar;
    QWidget *Client;                     // the area under the menu bar, holding every other control
    QMenu *mnuFile;                      // "Файл"
    QAction *mnuNew;                     // "Новый проект", Ctrl+N
    QAction *mnuOpen;                    // "Открыть…", Ctrl+O
    QMenu *mnuRecent;                    // "Открыть недавний"
    QAction *mnuImport;                  // "Добавить в библиотеку…", Ctrl+I
    QAction *mnuSave;                    // "Сохранить", Ctrl+S
    QAction *mnuSaveAs;                  // "Сохранить как…", Ctrl+Shift+S
    QAction *mnuExport;                  // "Экспорт мультфильма…"
    QAction *mnuExit;                    // "Завершение работы"
    QMenu *mnuEdit;                      // "Правка"
    QAction *mnuUndo;                    // "Отменить", Ctrl+Z
    QAction *mnuRedo;                    // "Повторить", Ctrl+Shift+Z, Ctrl+Y
    QMenu *mnuInsert;                    // "Вставка"
    QAction *mnuCaption;                 // "Надпись…", Ctrl+T
    QAction *mnuTitle;                   // "Титр…"
    QMenu *mnuHelp;                      // "Справка"
    QAction *mnuAbout;                   // "О программе"
    project::Document *document() const { return m_document; }
    void exportCartoon();                // the export window, over the slides held
    void showAbout();

    // ==== Bringing the person's own pictures into the library (frmMainImport.cpp) ====
    // The library folder imports are written into: the user's own folders when installed, else the program's.
    QString libraryFolder() const;
    // Asks for the files to import (the standard open dialog, several files at once); a test puts in another.
    std::function<QStringList(QWidget *parent, const QString &start)> askImportFiles;
    void importAssets();     // "Добавить в библиотеку…"
    // Asks about `paths` (the window over `over`, else over this one) and writes them into the library;
    // returns what was written.
    QList<importing::Imported> importPaths(const QStringList &paths, QWidget *over = nullptr);
    // Files dropped on the stage at `at` (pixels in the stage viewport): imported, and each placed as if
    // chosen in the picker, its centre at the drop point (a background simply becomes the background).
    void importDropped(const QStringList &paths, QPoint at);
    // ==== end import ====

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
    slides::OnionSkin *OnionSkin;        // the last slide, faint over the stage while "Калька" is ticked

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
    QCheckBox *Check3;                   // "Калька": the onion skin over the stage
    QGroupBox *FrameSelect;
    controls::ListBox *List1;                // object list
    controls::Button *Command14;          // "Завершение работы"

    controls::ControlArray<QLabel> Label1; // captions: 0-3 statistics, 4 "Интервал шаг", 5 and 6 "X = "
    controls::ControlArray<QLabel> Label3; // 0 "W =" / 2 "H =" of the background, 1 slide count, 3 and 4 fixed

    // ---- Window-level state ----
    int SlideCount = 0;    // index of the newest slide in the slide buffer
    int FrameCounter = 0;  // the frame that the last frame step put on show
    int GrabX = 0;         // where, inside a prop, the left button went down (twips)
    int GrabY = 0;

    // ==== Scene, object list and picker (frmMainScene.cpp, frmMainPicker.cpp) ====
    void List1_Click();
    void Command5_Click();   // "Удалить объект"
    void Command9_Click();   // "Удалить фон"
    void Command3_Click();   // "Загрузить персонаж"
    void Command4_Click();   // "Загрузить фон"
    void Command6_Click();   // "Сменить действие"
    void Command12_Click();  // "Загрузить предмет"
    frmFon *Fon();           // the picker, created at first use
    // The character that moving, sizing, animate/stop, the frame step and the
    // change of action work on: element SelectedIndex of AniGIF1 while the
    // last selected entry names a character; the hidden template before any
    // selection (moving it sets where new characters appear; it is never
    // shown); nullptr while a prop entry is selected or once the selected
    // character has been deleted, so those operations leave every character alone.
    anigif::AniGif *selectedCharacter() const;
    bool SelectedIsProp = false;  // the last selected entry named a prop
    // ==== end scene ====

    // ==== Captions and title cards (frmMainCaption.cpp) ====
    // The windows that edit a caption or a title card; a test puts in its own answers.
    std::function<bool(QWidget *parent, text::Caption &caption)> askCaption;
    std::function<bool(QWidget *parent, text::TitleCard &card)> askTitleCard;
    // The props that are captions, by their element in Image1: their picture is drawn from these.
    QHash<int, text::Caption> Captions;
    void Caption_Click();    // "Надпись…": a new caption in the middle of the stage
    void Title_Click();      // "Титр…": a new title card, or the one on show edited
    // Opens the caption of element `index` in its window; on "ОК" it is drawn again about the same centre.
    bool editCaption(int index);
    // A new caption element numbered `index` (nothing when the number is taken), not yet placed.
    controls::ImageControl *makeCaption(int index, const text::Caption &caption);
    // The title card on show in place of the background, if any.
    const std::optional<text::TitleCard> &titleCard() const { return m_titleCard; }
    // Shows `card` as the background: the background it covers is kept aside the first time, and the
    // objects stay where they are seen.
    void showTitleCard(const text::TitleCard &card);
    // The background the title card covers comes back, where it stood.
    void removeTitleCard();
    // The card is forgotten with the background it covers: a new background replaced it.
    void forgetTitleCard() { m_titleCard.reset(); }
    // The background under the title card, as it stood before the card came.
    struct CoveredBackground {
        QImage picture;
        QByteArray source;
        QRectF geometry;              // twips
        int xMin = 0, xMax = 0, x = 0;   // UpDown3
        int yMin = 0, yMax = 0, y = 0;   // UpDown4
        bool removable = false;       // "Удалить фон" was available
    };
    const CoveredBackground &coveredBackground() const { return m_covered; }
    void setCoveredBackground(const CoveredBackground &covered) { m_covered = covered; }
    // ==== end captions ====

    // ==== Slides (frmMainSlides.cpp) ====
    bool SaveBuffer();       // record one slide; false when it could not be stored
    QImage captureSlide();   // the stage drawn as a slide, shown in the capture box
    void Command2_Click();   // "ЗАПИСЬ"
    void Command15_Click();  // "Сохранение"
    void Command1_Click();   // "Очистка"
    frmBuffer *Buffer();     // the slide buffer, created hidden at first reference
    void Undo();             // Ctrl+Z: the last change to the slides
    void Redo();             // Ctrl+Shift+Z, Ctrl+Y
    // ==== end slides ====

    // ==== Composing (frmMainCompose.cpp) ====
    QShortcut *RecordKey;    // F5: records as "ЗАПИСЬ" does, wherever the focus is in this window
    static constexpr Qt::Key RecordKeyCode = Qt::Key_F5;
    void Check3_Click();     // "Калька"
    void showOnionSkin();    // the overlay after any change of the box or of the slides
    // ==== end composing ====

    // ==== Moving and animation (frmMainMove.cpp, frmMainAnimate.cpp) ====
    void DoPicture();        // the frame step of the selected character
    void Combo1_Click();
    void UpDown3_Change();
    void UpDown4_Change();
    void UpDown5_Change();
    void UpDown6_Change();
    void UpDown7_UpClick();
    void UpDown7_DownClick();
    void Image1_MouseDown(int index, Qt::MouseButton button, Qt::MouseButtons buttons, Qt::KeyboardModifiers shift,
                          double x, double y);
    void Image1_MouseMove(int index, Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, double x, double y);
    void Command7_Click();   // "Оживить" / "Остановить"
    void Command11_Click();  // "Шаг"
    void AniGIF1_FrameChanged(int index);
    // Connects the events of a newly created scene element to the handlers above.
    void connectCharacter(int index);
    void connectProp(int index);
    // ==== end moving ====

    // ==== Preview and exit (frmMainPreview.cpp, frmMainExit.cpp) ====
    void Command8_Click();   // "Просмотр"
    void Command14_Click();  // "Завершение работы"
    frmView *View();         // the preview, created at first use
    // ==== end preview ====

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildLayout();
    void buildMenu();
    void buildCaptions();    // the seams of the caption windows
    void shiftScene(QPointF by);   // every object on the stage moved by `by` twips inside the background
    void buildImport();      // the menu item's key and the stage's drops
    void showRecent();       // fills "Открыть недавний" as it opens
    void showProject();      // the title and its mark of unsaved changes
    void connectHandlers();
    void buildComposing();   // the onion skin and the record key
    void Form_Load();
    void offerRecovery();    // at start: slides and a stage left by a run that ended without saving them
    void restoreScene(const QByteArray &encoded, const QHash<QByteArray, QByteArray> &pictures);
    void showSlideCount();   // "Всего кадров:", "Очистка" and "Просмотр" after the slides changed
    void endRun();           // the journal is settled, then the program ends
    void afterMove(); // the "Синхро" frame step and recording that follow a move
    void setAnimateCaption(bool playing);   // Command7: "Остановить" while playing, else "Оживить"
    void showCharacterX();   // "Персонаж X:" and "X =" from UpDown5
    void showCharacterY();   // "Y =" from UpDown6

    AppState &m_state;
    frmFon *m_fon = nullptr;
    frmBuffer *m_buffer = nullptr;
    frmView *m_view = nullptr;
    project::Document *m_document = nullptr;
    QString m_importFolder;  // where the import dialog last was
    std::optional<text::TitleCard> m_titleCard;
    CoveredBackground m_covered;
    bool m_storingSlide = false; // a recording is handing its slide to the buffer: the counter waits for it
};
