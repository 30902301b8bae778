// The slide buffer window: its controls and keys, recording into it, saving the slides as files and adding
// a saved series. The canvas of thumbnails, editing the strip and the slides' sounds have files of their own.
#include "slides/frmBuffer.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScrollBar>

#include <algorithm>
#include <new>
#include <utility>

#include "controls/Button.h"
#include "controls/Events.h"
#include "controls/Fonts.h"
#include "controls/PictureBox.h"
#include "controls/Twips.h"
#include "controls/UndoKeys.h"
#include "controls/Widgets.h"
#include "slides/SlideFiles.h"
#include "slides/ThumbLayout.h"
#include "slides/frmAdd.h"
#include "slides/frmBar.h"
#include "slides/frmDuration.h"
#include "slides/frmLoad.h"
#include "slides/frmVoice.h"
#include "sound/Sound.h"

namespace lay = slides::layout;

namespace slides {

QString lengthText(qint64 frames, int rate)
{
    const qint64 tens = frames % 100, ones = frames % 10;
    const QString word = tens >= 11 && tens <= 14 ? QStringLiteral("кадров")
                         : ones == 1              ? QStringLiteral("кадр")
                         : ones >= 2 && ones <= 4 ? QStringLiteral("кадра")
                                                  : QStringLiteral("кадров");
    const double seconds = double(frames) / std::max(1, rate);
    return QStringLiteral("Длина: %1 %2, %3 с")
        .arg(frames)
        .arg(word, QString::number(seconds, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(',')));
}

} // namespace slides

using twips::place;

namespace {

QFont bold() { return fonts::msSansSerif(8.25, true); }

} // namespace

frmBuffer::frmBuffer(AppState &state, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_state(state), m_canvasHeight(lay::CanvasStartHeight)
{
    setObjectName(QStringLiteral("frmBuffer"));
    setWindowTitle(QStringLiteral(" Буфер слайдов"));
    setFixedSize(twips::toPixels(10815), twips::toPixels(7380));
    setFont(fonts::msSansSerif());

    Picture2 = place(new controls::PictureBox(this), "Picture2", 50, 0, 10455, lay::ViewportHeight);
    Picture2->setToolTip(QStringLiteral(
        "Записанные слайды по порядку.\nЩелчок выбирает слайд, Ctrl+щелчок добавляет ещё один,\nShift+щелчок "
        "выбирает подряд; стрелки, Home и End тоже.\nВыбранные слайды можно перетащить на новое место.\n"
        "Правая кнопка мыши: «Удалить», «Дублировать», «Длительность…»,\n«Записывать после этого слайда», "
        "«Заменить слайд» и другое.\n+ и − делают выбранные слайды длиннее или короче.\nCtrl+X, Ctrl+C и Ctrl+V "
        "вырезают, копируют и вставляют слайды.\nDelete удаляет выбранные, Ctrl+Z отменяет."));
    Picture2->setBackColor(Qt::black);
    Picture2->setAccessibleName(QStringLiteral("Слайды"));
    // The strip takes the keyboard (arrows, Home, End, the menu key) when clicked or tabbed to.
    Picture2->setFocusPolicy(Qt::StrongFocus);
    Picture1 = new slides::ThumbCanvas(m_slides, m_chosen, Picture2->client());
    twips::setGeometry(Picture1, lay::CanvasLeft, 0, lay::CanvasWidth, m_canvasHeight);

    VScroll1 = place(new QScrollBar(Qt::Vertical, this), "VScroll1", 10530, 45, 255, 6570);
    VScroll1->setToolTip(QStringLiteral("Прокрутить слайды."));
    VScroll1->setRange(0, 0);
    VScroll1->setSingleStep(1000);
    VScroll1->setPageStep(32000);
    VScroll1->setAccessibleName(QStringLiteral("Прокрутка слайдов"));

    Label1 = place(new QLabel(QStringLiteral("Всего слайдов:"), this), "Label1", 135, 6795, 2445, 240);
    Label1->setFont(bold());
    Label2 = place(new QLabel(this), "Label2", 135, 7035, 3990, 240);
    Label2->setToolTip(QStringLiteral("Сколько длится мультфильм: все кадры с учётом длительности слайдов,\n"
                                      "при частоте, выбранной в просмотре."));
    Command2 = place(new controls::Button(QStringLiteral("Сохранить"), this), "Command2", 7290, 6795, 1455, 420);
    Command2->setToolTip(QStringLiteral("Записать все слайды в папку «Animations» файлами 001.bmp, 002.bmp, …\nЕсли там уже есть старые слайды, программа сначала спросит."));
    Command2->setFont(bold());
    Command1 = place(new controls::Button(QStringLiteral("Закрыть"), this), "Command1", 8820, 6795, 1455, 420);
    Command1->setToolTip(QStringLiteral("Закрыть буфер слайдов. Слайды остаются в нём."));
    Command1->setFont(bold());
    Command3 = place(new controls::Button(QStringLiteral("Экспорт…"), this), "Command3", 5745, 6795, 1455, 420);
    Command3->setToolTip(QStringLiteral("Сделать из слайдов один файл мультфильма: GIF, MP4 или WebM."));
    Command3->setFont(bold());
    Command4 = place(new controls::Button(QStringLiteral("Добавить…"), this), "Command4", 4215, 6795, 1455, 420);
    Command4->setToolTip(QStringLiteral("Добавить в конец слайды из папки (001.bmp, 002.bmp, …),\nнапример чтобы продолжить мультфильм, сохранённый раньше."));
    Command4->setFont(bold());
    for (QPushButton *b : {Command2, Command1, Command3, Command4})
        b->setAutoDefault(false);

    setTabOrder(Picture2, VScroll1);
    setTabOrder(VScroll1, Command1);
    setTabOrder(Command1, Label1);
    setTabOrder(Label1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command4);

    askFolder = [](QWidget *parent, const QString &start) {
        return QFileDialog::getExistingDirectory(parent, QStringLiteral("Добавить слайды из папки"), start);
    };

    m_sounds = std::make_unique<sound::PcmCache>();
    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("ThumbMenu"));
    m_menu->addAction(QStringLiteral("Удалить"), this, &frmBuffer::DeleteChosen)->setObjectName(QStringLiteral("Delete"));
    m_menu->addAction(QStringLiteral("Дублировать"), this, &frmBuffer::DuplicateChosen)
        ->setObjectName(QStringLiteral("Duplicate"));
    m_menu->addAction(QStringLiteral("Длительность…"), this, &frmBuffer::DurationChosen)
        ->setObjectName(QStringLiteral("Duration"));
    askDuration = [this](QWidget *parent, int start) {
        frmDuration ask(m_state, start, parent);
        return ask.exec() == QDialog::Accepted ? ask.frames() : 0;
    };
    m_menu->addSeparator();
    QAction *recordAfter = m_menu->addAction(QStringLiteral("Записывать после этого слайда"), this,
                                             &frmBuffer::RecordAfterChosen);
    recordAfter->setObjectName(QStringLiteral("RecordAfter"));
    QAction *recordAtEnd = m_menu->addAction(QStringLiteral("Записывать в конец"), this, &frmBuffer::RecordAtEnd);
    recordAtEnd->setObjectName(QStringLiteral("RecordAtEnd"));
    QAction *replace = m_menu->addAction(QStringLiteral("Заменить слайд"), this, &frmBuffer::ReplaceChosen);
    replace->setObjectName(QStringLiteral("Replace"));
    m_menu->addSeparator();
    QAction *cut = m_menu->addAction(QStringLiteral("Вырезать"), this, &frmBuffer::CutChosen);
    cut->setObjectName(QStringLiteral("Cut"));
    cut->setShortcut(QKeySequence::Cut);
    QAction *copy = m_menu->addAction(QStringLiteral("Копировать"), this, [this] { CopyChosen(); });
    copy->setObjectName(QStringLiteral("Copy"));
    copy->setShortcut(QKeySequence::Copy);
    QAction *paste = m_menu->addAction(QStringLiteral("Вставить"), this, &frmBuffer::Paste);
    paste->setObjectName(QStringLiteral("Paste"));
    paste->setShortcut(QKeySequence::Paste);
    m_menu->addSeparator();
    QAction *addSound = m_menu->addAction(QStringLiteral("Добавить звук…"), this, &frmBuffer::AddSoundChosen);
    addSound->setObjectName(QStringLiteral("AddSound"));
    QAction *voice = m_menu->addAction(QStringLiteral("Записать голос…"), this, &frmBuffer::VoiceChosen);
    voice->setObjectName(QStringLiteral("Voice"));
    QAction *listen = m_menu->addAction(QStringLiteral("Прослушать"), this, &frmBuffer::ListenChosen);
    listen->setObjectName(QStringLiteral("Listen"));
    QAction *volume = m_menu->addAction(QStringLiteral("Громкость…"), this, &frmBuffer::VolumeChosen);
    volume->setObjectName(QStringLiteral("Volume"));
    QAction *removeSound = m_menu->addAction(QStringLiteral("Убрать звук"), this, &frmBuffer::RemoveSoundChosen);
    removeSound->setObjectName(QStringLiteral("RemoveSound"));
    askSound = [](QWidget *parent, const QString &start) {
        return QFileDialog::getOpenFileName(parent, QStringLiteral("Добавить звук"), start,
                                            QStringLiteral("Звуки (*.wav *.mp3 *.ogg *.oga *.opus *.flac);;"
                                                           "Все файлы (*)"));
    };
    askVolume = [](QWidget *parent, int start) {
        QInputDialog ask(parent);
        ask.setObjectName(QStringLiteral("frmVolume"));
        ask.setWindowTitle(QStringLiteral(" Громкость"));
        ask.setLabelText(QStringLiteral("Громкость звука, % (0–200):"));
        ask.setInputMode(QInputDialog::IntInput);
        ask.setIntRange(0, slides::SlideSound::MaxVolume);
        ask.setIntStep(10);
        ask.setIntValue(start);
        ask.setOkButtonText(QStringLiteral("ОК"));
        ask.setCancelButtonText(QStringLiteral("Отмена"));
        return ask.exec() == QDialog::Accepted ? ask.intValue() : -1;
    };
    askVoice = [this](QWidget *parent) {
        frmVoice ask(openMicrophone ? openMicrophone() : nullptr, parent);
        return ask.exec() == QDialog::Accepted ? ask.take() : sound::Pcm();
    };
    m_listenWait.setInterval(50);
    connect(&m_listenWait, &QTimer::timeout, this, &frmBuffer::playListened);
    connect(m_menu, &QMenu::aboutToShow, this, [this, recordAtEnd, replace, addSound, voice, listen, volume,
                                                removeSound] {
        const bool anySound = std::any_of(m_chosen.begin(), m_chosen.end(),
                                          [this](int n) { return bool(m_slides.store().sound(n)); });
        addSound->setEnabled(m_chosen.size() == 1);
        voice->setEnabled(m_chosen.size() == 1);
        listen->setEnabled(anySound);
        volume->setEnabled(anySound);
        removeSound->setEnabled(anySound);
        recordAtEnd->setEnabled(m_slides.insertionPoint() > 0);
        replace->setEnabled(m_chosen.size() == 1 && bool(captureStage));
    });
    new controls::UndoKeys(this, [this] { Undo(); }, [this] { Redo(); });

    m_slides.setJournal(m_state.stateFolder, [this](const QString &why) {
        m_state.message(parentWidget(),
                        {QStringLiteral("Восстановление слайдов после сбоя отключено: %1. Слайды по-прежнему "
                                        "хранятся в памяти; сохраните их, чтобы не потерять.")
                             .arg(why),
                         QString(), controls::MsgIcon::Warning, controls::MsgButtons::Ok});
    });
    connect(&m_slides, &slides::SlideBuffer::changed, this, &frmBuffer::slidesChangedHere);
    connect(&m_slides, &slides::SlideBuffer::insertionPointMoved, this, [this] {
        m_last = QImage();
        Picture1->update();
        emit insertionPointMoved();
    });
    connect(Picture1, &slides::ThumbCanvas::pressed, this, &frmBuffer::Picture1_MouseDown);
    connect(Picture1, &slides::ThumbCanvas::dropped, this, &frmBuffer::MoveChosen);
    connect(Picture1, &slides::ThumbCanvas::soundDropped, this, &frmBuffer::attachSound);
    connect(VScroll1, &QScrollBar::valueChanged, this, &frmBuffer::VScroll1_Change);
    connect(Command1, &QPushButton::clicked, this, &frmBuffer::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmBuffer::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &frmBuffer::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &frmBuffer::Command4_Click);

    // Connected before anyone else listens: whatever changes the slides, the newest one is read afresh,
    // unless it is the one just recorded.
    connect(this, &frmBuffer::slidesChanged, this, [this] { m_last = std::exchange(m_appended, QImage()); });

    // Centred on the screen, not on the main window; placing it now keeps Qt from re-centring it.
    controls::centreOnScreen(this);
}

frmBuffer::~frmBuffer() = default;

bool frmBuffer::append(const QImage &image)
{
    // The thumbnail is made when it is first painted: recording pays only for keeping the slide.
    // The slide stays at hand as the newest one for whoever listens to slidesChanged.
    m_appended = image;
    if (!m_slides.record(image)) {
        m_appended = QImage();
        return false;
    }
    controls::doEvents();
    return true;
}

void frmBuffer::clear()
{
    m_slides.clear();
}

void frmBuffer::slidesChangedHere()
{
    // Numbers of slides that moved no longer name what was chosen; a change of durations moved none.
    if (!m_slides.onlyDurationsChanged()) {
        m_chosen.clear();
        m_anchor = 0;
        m_current = 0;
    }
    // A hidden window's totals are written when it is shown: recording with the window closed must not
    // pay for text nobody sees.
    if (isVisible())
        Form_Activate();
    const int height = lay::canvasHeightFor(m_canvasHeight, std::max(slideCount(), 1));
    if (height != m_canvasHeight) {
        m_canvasHeight = height;
        twips::resize(Picture1, lay::CanvasWidth, m_canvasHeight);
        VScroll1->setMaximum(lay::scrollRange(m_canvasHeight));
    }
    Picture1->update();
    emit slidesChanged();
}

void frmBuffer::choose(int n, Qt::KeyboardModifiers modifiers)
{
    if (n < 1 || n > slideCount()) {
        if (!(modifiers & (Qt::ShiftModifier | Qt::ControlModifier)))
            m_chosen.clear();
    } else if ((modifiers & Qt::ShiftModifier) && m_anchor >= 1) {
        if (!(modifiers & Qt::ControlModifier))
            m_chosen.clear();
        for (int i = std::min(m_anchor, n); i <= std::max(m_anchor, n); ++i)
            m_chosen.insert(i);
        m_current = n;
    } else if (modifiers & Qt::ControlModifier) {
        if (!m_chosen.erase(n))
            m_chosen.insert(n);
        m_anchor = n;
        m_current = n;
    } else {
        m_chosen = {n};
        m_anchor = n;
        m_current = n;
    }
    Picture1->update();
}

void frmBuffer::moveTo(int n, bool extend)
{
    if (slideCount() == 0)
        return;
    n = std::clamp(n, 1, slideCount());
    choose(n, extend ? Qt::ShiftModifier : Qt::NoModifier);
    scrollTo(n);
}

void frmBuffer::scrollTo(int n)
{
    // The whole row, with the gap above and below it, comes into view; the view moves as little as it can.
    const int top = lay::thumbPosition(n).y() - (lay::RowStep - lay::ThumbHeight);
    const int bottom = lay::thumbPosition(n).y() + lay::RowStep;
    int value = VScroll1->value();
    if (top < value)
        value = top;
    else if (bottom > value + lay::ViewportHeight)
        value = bottom - lay::ViewportHeight;
    VScroll1->setValue(std::clamp(value, 0, VScroll1->maximum()));
}

void frmBuffer::keyPressEvent(QKeyEvent *e)
{
    // The strip's keys, while it has the focus (the buttons and the scroll bar keep their own).
    QWidget *focus = focusWidget();
    if (focus && focus != Picture2) {
        QDialog::keyPressEvent(e);
        return;
    }
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    const bool extend = mods == Qt::ShiftModifier;
    // Without a slide to move from, the first key press chooses the first slide (End: the last).
    const int from = m_current >= 1 ? m_current : 0;
    int to = -1;
    if (mods == Qt::NoModifier || extend) {
        switch (e->key()) {
        case Qt::Key_Left:
            to = from ? from - 1 : 1;
            break;
        case Qt::Key_Right:
            to = from ? from + 1 : 1;
            break;
        case Qt::Key_Up:
            to = !from ? 1 : from > lay::PerRow ? from - lay::PerRow : from;
            break;
        case Qt::Key_Down:
            // To the last slide when the row below is shorter, as file managers do; nothing below the last row.
            to = !from ? 1 : (from - 1) / lay::PerRow < (slideCount() - 1) / lay::PerRow
                                 ? std::min(from + lay::PerRow, slideCount())
                                 : from;
            break;
        case Qt::Key_Home:
            to = 1;
            break;
        case Qt::Key_End:
            to = slideCount();
            break;
        default:
            break;
        }
    }
    if (to >= 0) {
        moveTo(to, extend);
        e->accept();
        return;
    }
    if ((e->key() == Qt::Key_Menu && mods == Qt::NoModifier) || (e->key() == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
        menuAtCurrent();
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void frmBuffer::menuAtCurrent()
{
    if (slideCount() == 0)
        return;
    int n = m_current;
    if (n < 1 || !m_chosen.count(n))
        n = m_chosen.empty() ? 1 : *m_chosen.begin();
    if (!m_chosen.count(n))
        choose(n, Qt::NoModifier);
    scrollTo(n);
    m_menuSlide = n;
    m_menu->popup(Picture1->mapToGlobal(lay::thumbRect(n).center()));
}

void frmBuffer::Picture1_MouseDown(int slide, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint globalPos)
{
    if (button == Qt::LeftButton) {
        choose(slide, modifiers);
    } else if (button == Qt::RightButton && slide >= 1) {
        // A right click on a slide that is not chosen chooses it alone, as file managers do.
        if (!m_chosen.count(slide))
            choose(slide, Qt::NoModifier);
        m_menuSlide = slide;
        m_menu->popup(globalPos);
    }
}

void frmBuffer::Undo()
{
    m_slides.undo();
}

void frmBuffer::Redo()
{
    m_slides.redo();
}

QImage frmBuffer::lastSlide() const
{
    if (m_last.isNull() && slideCount() > 0) {
        const int after = m_slides.insertionPoint();
        m_last = m_slides.store().slide(after > 0 ? after : slideCount());
    }
    return m_last;
}

void frmBuffer::Form_Activate()
{
    Label1->setText(QStringLiteral("Всего слайдов: ") + QString::number(slideCount()));
    Label2->setText(slides::lengthText(m_slides.store().totalFrames(), m_state.PreviewRate));
}

bool frmBuffer::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate)
        Form_Activate();
    // Delete reaches here from whichever control has the focus, none of which uses it; the keypad's too.
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(e)->key() == Qt::Key_Delete &&
        !(static_cast<QKeyEvent *>(e)->modifiers() & ~Qt::KeypadModifier)) {
        DeleteChosen();
        return true;
    }
    // + and − change the chosen slides' duration, from the keypad too; "=" is + without Shift.
    if (e->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(e);
        const bool plain = !(key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier));
        const int delta = key->key() == Qt::Key_Plus || key->key() == Qt::Key_Equal ? 1
                          : key->key() == Qt::Key_Minus                             ? -1
                                                                                    : 0;
        if (plain && delta != 0) {
            LengthenChosen(delta);
            return true;
        }
    }
    if (e->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(e);
        // Under a Russian layout the keys of X, C and V type "ч", "с" and "м": known by those letters too.
        const bool ctrl = (key->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
        const auto is = [&](QKeySequence::StandardKey keys, Qt::Key latin, int cyrillic) {
            return key->matches(keys) || (ctrl && (key->key() == latin || key->key() == cyrillic));
        };
        if (is(QKeySequence::Cut, Qt::Key_X, 0x0427))
            CutChosen();
        else if (is(QKeySequence::Copy, Qt::Key_C, 0x0421))
            CopyChosen();
        else if (is(QKeySequence::Paste, Qt::Key_V, 0x041C))
            Paste();
        else
            return QDialog::event(e);
        return true;
    }
    return QDialog::event(e);
}

void frmBuffer::showEvent(QShowEvent *e)
{
    // Not every window system activates a window that is shown; the total must be right all the same.
    Form_Activate();
    QDialog::showEvent(e);
}

void frmBuffer::VScroll1_Change()
{
    // The thumb at the top shows the first row; pulling it down brings later rows up.
    twips::move(Picture1, lay::CanvasLeft, -VScroll1->value());
}

void frmBuffer::Command1_Click()
{
    hide();
}

void frmBuffer::Command2_Click()
{
    const QString folder = m_state.AnimationsFolder;
    // A folder removed while the program ran is made again; if it cannot be, every write fails and says so.
    QDir().mkpath(folder);

    // From here until every file is written the folder no longer holds the slides: the journal is
    // told so before anything in the folder goes, and offers all of them if the program dies meanwhile.
    bool begun = false;
    const auto begin = [this, &begun] {
        begun = true;
        m_state.SlidesUnsaved = true;
        m_slides.saveBegins();
    };
    if (slides::folderHasFiles(folder)) {
        frmLoad confirm(folder, this);
        confirm.beforeDeleting = begin;
        const int answer = confirm.exec();
        if (answer == frmLoad::DeleteFailed) {
            m_state.message(this, {QStringLiteral("Не удалось удалить старые слайды."), QString(),
                                   controls::MsgIcon::Error, controls::MsgButtons::Ok});
            return;
        }
        // Closed without "&Ok": old and new frames must not mix, so nothing is written.
        if (answer != frmLoad::Deleted)
            return;
    }

    if (slideCount() == 0) {
        m_state.message(this, {QStringLiteral("Нет слайдов для сохранения"), QString(), controls::MsgIcon::None,
                               controls::MsgButtons::Ok});
        return;
    }

    if (!begun)
        begin();
    frmBar *bar = Bar();
    bar->exec();
    if (bar->allWritten()) {
        m_state.SlidesUnsaved = false;
        m_slides.saved();
    }
}

void frmBuffer::Command3_Click()
{
    if (slideCount() == 0) {
        m_state.message(this, {QStringLiteral("Нет слайдов для экспорта"), QString(), controls::MsgIcon::None,
                               controls::MsgButtons::Ok});
        return;
    }
    emit exportRequested();
}

void frmBuffer::Command4_Click()
{
    const QString folder = askFolder ? askFolder(this, m_state.AnimationsFolder) : QString();
    if (!folder.isEmpty())
        addFolder(folder);
}

bool frmBuffer::addFolder(const QString &folder)
{
    const QString shown = QDir::toNativeSeparators(folder);
    auto tell = [this](const QString &text, controls::MsgIcon icon) {
        m_state.message(this, {text, QString(), icon, controls::MsgButtons::Ok});
    };
    slides::Series series;
    {
        frmAdd progress(folder, this);
        if (!progress.finishedWithin(progressDelayMs) && progress.exec() != QDialog::Accepted)
            return false;
        series = progress.takeSeries();
    }
    switch (series.status) {
    case slides::Series::Cancelled:
        return false;
    case slides::Series::Unreadable:
        tell(QStringLiteral("Не удалось открыть папку «%1»").arg(shown), controls::MsgIcon::Error);
        return false;
    case slides::Series::OutOfMemory:
        tell(QStringLiteral("Не удалось добавить слайды: недостаточно памяти."), controls::MsgIcon::Error);
        return false;
    case slides::Series::NoSlides:
    case slides::Series::Read:
        break;
    }
    bool added = false;
    const int found = series.count();
    if (found > 0) {
        added = m_slides.addSeries(std::move(series.slides));
        if (added)
            m_state.SlidesUnsaved = true;
        else
            tell(QStringLiteral("Не удалось добавить слайды: недостаточно памяти."), controls::MsgIcon::Error);
    }
    if (series.leftOut > 0)
        tell(QStringLiteral("Пропущено файлов: %1 (другого размера или не читаются). Первый из них: «%2».")
                 .arg(series.leftOut)
                 .arg(QDir::toNativeSeparators(series.firstLeftOut)),
             controls::MsgIcon::Warning);
    else if (found == 0)
        tell(QStringLiteral("В папке нет слайдов"), controls::MsgIcon::None);
    return added;
}

frmBar *frmBuffer::Bar()
{
    if (!m_bar)
        m_bar = new frmBar(m_state, m_slides.store(), this);
    return m_bar;
}
