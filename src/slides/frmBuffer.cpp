#include "slides/frmBuffer.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QHash>
#include <QMimeData>
#include <QtEndian>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QUrl>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QPaintEvent>
#include <QPainter>
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

namespace {
// The insertion point's bar: red as a recording light, apart from the yellow of chosen slides.
const QColor InsertionColour(255, 48, 48);
} // namespace

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

ThumbCanvas::ThumbCanvas(const SlideBuffer &slides, const std::set<int> &chosen, QWidget *parent)
    : QWidget(parent), m_slides(slides), m_chosen(chosen)
{
    setObjectName(QStringLiteral("Picture1"));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    setAcceptDrops(true);
}

namespace {
// The sound file among what is dragged, by its name's ending; empty when there is none.
QString droppedSound(const QMimeData *data)
{
    static const QStringList endings = {QStringLiteral(".wav"), QStringLiteral(".mp3"), QStringLiteral(".ogg"),
                                        QStringLiteral(".oga"), QStringLiteral(".opus"), QStringLiteral(".flac")};
    if (!data || !data->hasUrls())
        return QString();
    for (const QUrl &url : data->urls()) {
        const QString path = url.toLocalFile();
        for (const QString &e : endings)
            if (path.endsWith(e, Qt::CaseInsensitive))
                return path;
    }
    return QString();
}

// A note, white on a dark disc: readable on any thumbnail, in the corner the duration badge leaves free.
void drawNote(QPainter &p, const QRect &thumb)
{
    const QRectF box(thumb.left() + 2, thumb.top() + 2, 15, 15);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 190));
    p.drawEllipse(box);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(box.left() + 3.5, box.top() + 8.5, 5, 4));
    p.setPen(QPen(Qt::white, 1.4));
    p.drawLine(QPointF(box.left() + 8.3, box.top() + 10.5), QPointF(box.left() + 8.3, box.top() + 3));
    p.drawLine(QPointF(box.left() + 8.3, box.top() + 3), QPointF(box.left() + 11.5, box.top() + 5.5));
    p.restore();
}
} // namespace

void ThumbCanvas::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedSound(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void ThumbCanvas::dragMoveEvent(QDragMoveEvent *event)
{
    // Only a slide takes a sound.
    if (slideAt(event->position().toPoint()) > 0)
        event->acceptProposedAction();
    else
        event->ignore();
}

void ThumbCanvas::dropEvent(QDropEvent *event)
{
    const int slide = slideAt(event->position().toPoint());
    const QString path = droppedSound(event->mimeData());
    if (slide < 1 || path.isEmpty())
        return;
    event->acceptProposedAction();
    emit soundDropped(slide, path);
}

// The line where dragged slides would land: in the gap before slide `before`, or after the last of a row.
QRect dropLine(int before, int count)
{
    const bool rowEnd = before > count || (before > 1 && (before - 1) % lay::PerRow == 0);
    const QRect thumb = lay::thumbRect(rowEnd ? before - 1 : before);
    const int x = rowEnd ? thumb.right() + 3 : thumb.left() - 6;
    return QRect(x, thumb.top() - 8, 4, thumb.height() + 16);
}

void ThumbCanvas::paintEvent(QPaintEvent *event)
{
    const QRect r = event->rect();
    // The frame of a chosen slide lies in the gap around its thumbnail, so the band reaches a little further.
    const auto span = lay::slidesInBand(int(twips::fromPixels(r.top() - 5)), int(twips::fromPixels(r.bottom() + 6)),
                                        m_slides.count());
    if (span.first > span.last)
        return;
    QPainter p(this);
    QFont badgeFont = font();
    badgeFont.setBold(true);
    for (int n = span.first; n <= span.last; ++n) {
        const QRect target = lay::thumbRect(n);
        if (!target.adjusted(-3, -3, 3, 3).intersects(r))
            continue;
        p.drawImage(target, m_slides.thumb(n));
        if (const int frames = m_slides.store().duration(n); frames > 1) {
            // White on a dark box in the corner: readable on a light thumbnail and on a dark one alike.
            const QString text = QStringLiteral("×%1").arg(frames);
            p.setFont(badgeFont);
            const QRect box = p.fontMetrics().boundingRect(text).adjusted(-3, 0, 3, 0);
            const QRect at(target.right() - box.width() - 1, target.bottom() - box.height() - 1, box.width(),
                           box.height());
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 0, 0, 190));
            p.drawRoundedRect(at, 3, 3);
            p.setPen(Qt::white);
            p.drawText(at, Qt::AlignCenter, text);
        }
        if (m_slides.store().sound(n))
            drawNote(p, target);
        if (m_chosen.count(n)) {
            p.setPen(QPen(QColor(255, 255, 0), 2));
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(target).adjusted(-2, -2, 2, 2));
        }
    }
    if (m_dropBefore > 0 && m_slides.count() > 0)
        p.fillRect(dropLine(m_dropBefore, m_slides.count()), Qt::white);
    // Where recording goes: a bar in the gap after the slide it follows, over the frames of chosen slides.
    if (const int after = m_slides.insertionPoint(); after > 0) {
        const QRect thumb = lay::thumbRect(after);
        // Mid-gap, and taller than the frames, so that it reads as a mark of its own beside a chosen slide.
        const QRect bar(thumb.right() + 3, thumb.top() - 5, 3, thumb.height() + 10);
        if (bar.intersects(r))
            p.fillRect(bar, InsertionColour);
    }
}

int ThumbCanvas::slideAt(QPoint pixel) const
{
    const int x = int(twips::fromPixels(pixel.x())), y = int(twips::fromPixels(pixel.y()));
    if (x < lay::FirstLeft || y < lay::FirstTop)
        return 0;
    const int column = (x - lay::FirstLeft) / lay::ColumnStep, row = (y - lay::FirstTop) / lay::RowStep;
    if (column >= lay::PerRow)
        return 0;
    const int n = row * lay::PerRow + column + 1;
    return n <= m_slides.count() && lay::thumbRect(n).contains(pixel) ? n : 0;
}

int ThumbCanvas::gapAt(QPoint pixel) const
{
    const int x = int(twips::fromPixels(pixel.x())), y = int(twips::fromPixels(pixel.y()));
    // A gap owns the half of each thumbnail beside it; a row owns the space below it down to the next.
    const int column = std::clamp((x - lay::FirstLeft + lay::ColumnStep / 2) / lay::ColumnStep, 0, lay::PerRow);
    const int row = std::max(0, (y - lay::FirstTop + (lay::RowStep - lay::ThumbHeight)) / lay::RowStep);
    return std::clamp(row * lay::PerRow + column + 1, 1, m_slides.count() + 1);
}

void ThumbCanvas::mousePressEvent(QMouseEvent *event)
{
    const int slide = slideAt(event->position().toPoint());
    m_dragging = false;
    m_dropBefore = 0;
    m_pressAt = event->position().toPoint();
    // A press on a chosen slide may start dragging all of them: choosing it alone waits for the release.
    // A slide not chosen is chosen at once, and may be dragged as well.
    const bool plainLeft = event->button() == Qt::LeftButton && event->modifiers() == Qt::NoModifier;
    m_deferred = plainLeft && m_chosen.count(slide);
    if (!m_deferred)
        emit pressed(slide, event->button(), event->modifiers(), event->globalPosition().toPoint());
    m_pressSlide = plainLeft && m_chosen.count(slide) ? slide : 0;
}

void ThumbCanvas::mouseMoveEvent(QMouseEvent *event)
{
    if (m_pressSlide == 0 || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint at = event->position().toPoint();
    if (!m_dragging && (at - m_pressAt).manhattanLength() < QApplication::startDragDistance())
        return;
    m_dragging = true;
    // Only over the strip's visible part; elsewhere a drop does nothing, and no line says otherwise.
    const bool over = parentWidget() && parentWidget()->rect().contains(mapToParent(at));
    const int before = over ? gapAt(at) : 0;
    if (before != m_dropBefore) {
        m_dropBefore = before;
        update();
    }
    setCursor(over ? Qt::DragMoveCursor : Qt::ForbiddenCursor);
}

void ThumbCanvas::mouseReleaseEvent(QMouseEvent *event)
{
    const int slide = std::exchange(m_pressSlide, 0);
    const int before = std::exchange(m_dropBefore, 0);
    unsetCursor();
    if (std::exchange(m_dragging, false)) {
        update();
        if (before > 0)
            emit dropped(before);
    } else if (std::exchange(m_deferred, false) && slide > 0) {
        emit pressed(slide, Qt::LeftButton, event->modifiers(), event->globalPosition().toPoint());
    }
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

void frmBuffer::DeleteChosen()
{
    if (m_chosen.empty())
        return;
    if (m_slides.remove(std::vector<int>(m_chosen.begin(), m_chosen.end())))
        m_state.SlidesUnsaved = true;
}

void frmBuffer::DuplicateChosen()
{
    if (m_chosen.empty())
        return;
    const std::vector<int> numbers(m_chosen.begin(), m_chosen.end());
    if (!m_slides.duplicate(numbers)) {
        m_state.message(this, {QStringLiteral("Не удалось дублировать слайды: недостаточно памяти."), QString(),
                               controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return;
    }
    m_state.SlidesUnsaved = true;
    // The copies are chosen, so that a held pose can be made longer with one more click.
    const int after = numbers.back();
    for (int k = 1; k <= int(numbers.size()); ++k)
        m_chosen.insert(after + k);
    m_anchor = after + 1;
    Picture1->update();
}

// How much of a sound is decoded ahead of being played: half an hour, the length of the longest cartoons.
constexpr qint64 PrefetchFrames = qint64(sound::Rate) * 60 * 30;
constexpr qint64 MaxSoundBytes = qint64(512) << 20;

void frmBuffer::AddSoundChosen()
{
    if (m_chosen.size() != 1 || !askSound)
        return;
    const QString path = askSound(this, m_state.AnimationsFolder);
    if (!path.isEmpty())
        attachSound(*m_chosen.begin(), path);
}

bool frmBuffer::attachSound(int n, const QString &path)
{
    if (n < 1 || n > slideCount())
        return false;
    const QString name = QFileInfo(path).fileName();
    const auto refuse = [&](const QString &why) {
        m_state.message(this, {why, QString(), controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("Не удалось прочитать файл «%1».").arg(QDir::toNativeSeparators(path)));
    // The file is kept whole in memory, the journal and the project, whose database takes no larger value.
    if (file.size() > MaxSoundBytes)
        return refuse(QStringLiteral("Звук «%1» слишком велик: файл больше %2 МБ.").arg(name).arg(MaxSoundBytes >> 20));
    QByteArray bytes;
    try {
        bytes = file.readAll();
    } catch (const std::bad_alloc &) {
        return refuse(QStringLiteral("Не удалось добавить звук «%1»: недостаточно памяти.").arg(name));
    }
    // Its first moment is decoded now, so that a file that is no sound is refused at once; the whole of
    // it is decoded off this thread by whoever plays or exports it.
    const sound::Decoded start = sound::decode(bytes, name, sound::Rate / 10);
    if (!start.ok())
        return refuse(start.error);
    if (start.pcm.frames() == 0)
        return refuse(QStringLiteral("В файле «%1» нет звука.").arg(name));
    auto clip = slides::SoundClip::make(std::move(bytes), name);
    if (!m_slides.setSound(n, clip))
        return false;
    // Decoded meanwhile, so that the preview finds it ready; the mark does not wait for it.
    m_sounds->get(clip->hash, clip->bytes, clip->name, PrefetchFrames);
    return true;
}

std::shared_ptr<const sound::Decoded> frmBuffer::decodedSound(const slides::SoundClip &clip)
{
    return m_sounds->get(clip.hash, clip.bytes, clip.name, PrefetchFrames);
}

void frmBuffer::VoiceChosen()
{
    if (m_chosen.size() != 1 || !askVoice)
        return;
    const int n = *m_chosen.begin();
    stopListening(); // the microphone would hear it
    const sound::Pcm take = askVoice(this);
    if (take.frames() > 0)
        attachTake(n, take);
}

bool frmBuffer::attachTake(int n, const sound::Pcm &take)
{
    // Named after the takes already held, so that each voice can be told apart in the project.
    int last = 0;
    static const QRegularExpression named(QStringLiteral("^Голос (\\d+)\\.wav$"));
    for (int i = 1; i <= slideCount(); ++i)
        if (const slides::SlideSound s = m_slides.store().sound(i))
            if (const auto m = named.match(s.clip->name); m.hasMatch())
                last = std::max(last, m.captured(1).toInt());
    QByteArray bytes;
    try {
        bytes = sound::wavBytes(take);
    } catch (const std::bad_alloc &) {
        m_state.message(this, {QStringLiteral("Не удалось добавить голос: недостаточно памяти."), QString(),
                               controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return false;
    }
    auto clip = slides::SoundClip::make(std::move(bytes), QStringLiteral("Голос %1.wav").arg(last + 1));
    if (!m_slides.setSound(n, clip))
        return false;
    decodedSound(*clip);
    return true;
}

void frmBuffer::ListenChosen()
{
    if (listening()) {
        stopListening();
        return;
    }
    slides::SlideSound s;
    for (auto it = m_chosen.begin(); !s && it != m_chosen.end(); ++it)
        s = m_slides.store().sound(*it);
    if (!s)
        return;
    if (!sound::Player::available()) {
        if (!std::exchange(m_toldNoSound, true))
            m_state.message(this, {QStringLiteral("Звук недоступен: на компьютере не найдено устройство вывода звука."),
                                   QString(), controls::MsgIcon::Information, controls::MsgButtons::Ok});
        return;
    }
    m_listenTo = s;
    playListened();
}

void frmBuffer::playListened()
{
    // A sound just given to a slide may still be decoding: it is played as soon as it is ready.
    const std::shared_ptr<const sound::Decoded> decoded = decodedSound(*m_listenTo.clip);
    if (!decoded) {
        m_listenWait.start();
        return;
    }
    m_listenWait.stop();
    const int volume = std::exchange(m_listenTo, {}).volume;
    if (!decoded->ok()) {
        m_state.message(this, {decoded->error, QString(), controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return;
    }
    // At full volume the decoded sound is played as it is kept; otherwise a copy at its volume.
    std::shared_ptr<const sound::Pcm> pcm(decoded, &decoded->pcm);
    if (volume != 100)
        pcm = std::make_shared<const sound::Pcm>(sound::mix({{&decoded->pcm, 0, volume}}, decoded->pcm.frames()));
    m_listen.play(std::move(pcm), 0, false);
}

void frmBuffer::stopListening()
{
    m_listenWait.stop();
    m_listenTo = {};
    m_listen.stop();
}

void frmBuffer::hideEvent(QHideEvent *e)
{
    stopListening();
    QDialog::hideEvent(e);
}

void frmBuffer::VolumeChosen()
{
    if (m_chosen.empty() || !askVolume)
        return;
    int start = 100;
    for (int n : m_chosen)
        if (const slides::SlideSound s = m_slides.store().sound(n)) {
            start = s.volume;
            break;
        }
    const int percent = askVolume(this, start);
    if (percent >= 0)
        m_slides.setVolume(std::vector<int>(m_chosen.begin(), m_chosen.end()), percent);
}

void frmBuffer::RemoveSoundChosen()
{
    if (!m_chosen.empty())
        m_slides.removeSound(std::vector<int>(m_chosen.begin(), m_chosen.end()));
}

void frmBuffer::DurationChosen()
{
    if (m_chosen.empty() || !askDuration)
        return;
    // Starts at what the first chosen slide lasts.
    const int frames = askDuration(this, m_slides.store().duration(*m_chosen.begin()));
    if (frames >= 1 && m_slides.setDuration(std::vector<int>(m_chosen.begin(), m_chosen.end()), frames))
        m_state.SlidesUnsaved = true;
}

void frmBuffer::LengthenChosen(int delta)
{
    if (!m_chosen.empty() && m_slides.changeDuration(std::vector<int>(m_chosen.begin(), m_chosen.end()), delta))
        m_state.SlidesUnsaved = true;
}

void frmBuffer::RecordAfterChosen()
{
    // The slide the menu was opened at; from elsewhere, the last of the chosen ones.
    int n = m_menuSlide;
    if (n < 1 || n > slideCount())
        n = m_chosen.empty() ? 0 : *m_chosen.rbegin();
    m_menuSlide = 0;
    if (n >= 1)
        m_slides.recordAfter(n);
}

void frmBuffer::RecordAtEnd()
{
    m_slides.recordAfter(0);
}

void frmBuffer::ReplaceChosen()
{
    if (m_chosen.size() != 1 || !captureStage)
        return;
    const int n = *m_chosen.begin();
    const QImage shot = captureStage();
    if (shot.isNull() || !m_slides.replace(n, shot)) {
        m_state.message(this, {QStringLiteral("Не удалось заменить слайд: недостаточно памяти."), QString(),
                               controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return;
    }
    m_state.SlidesUnsaved = true;
    // The slide stays chosen, so that it can be recorded again at once.
    choose(n, Qt::NoModifier);
}

namespace {

// Slides on the clipboard: a mark, their count, then each one's flags, duration, byte count (32-bit) and
// packed bytes, told one after the other from a key, as the store holds them.
constexpr char ClipMark[8] = {'V', 'E', 'L', 'S', 'L', 'D', 'S', '1'};

QByteArray clipBytes(const std::vector<slides::SlideStore::Packed> &packed)
{
    qsizetype size = 12;
    for (const auto &p : packed)
        size += 6 + p.bytes.size();
    QByteArray out(size, Qt::Uninitialized);
    char *at = out.data();
    std::memcpy(at, ClipMark, 8);
    qToLittleEndian<quint32>(quint32(packed.size()), at + 8);
    at += 12;
    for (const auto &p : packed) {
        at[0] = char(p.flags);
        at[1] = char(p.duration);
        qToLittleEndian<quint32>(quint32(p.bytes.size()), at + 2);
        std::memcpy(at + 6, p.bytes.constData(), size_t(p.bytes.size()));
        at += 6 + p.bytes.size();
    }
    // Then the slides' sounds, when any has one: the slide's place among them (32-bit), its volume (8-bit),
    // the name's length (32-bit) and UTF-8, the file's length (32-bit) and bytes.
    for (size_t k = 0; k < packed.size(); ++k) {
        const slides::SlideSound &s = packed[k].sound;
        if (!s)
            continue;
        const QByteArray name = s.clip->name.toUtf8();
        char head[4];
        qToLittleEndian<quint32>(quint32(k + 1), head);
        out.append(head, 4).append(char(s.volume));
        qToLittleEndian<quint32>(quint32(name.size()), head);
        out.append(head, 4).append(name);
        qToLittleEndian<quint32>(quint32(s.clip->bytes.size()), head);
        out.append(head, 4).append(s.clip->bytes);
    }
    return out;
}

// The slides in clipboard bytes, each read through once so that damaged or foreign bytes never reach
// the buffer. False when they are not such slides.
bool clipSlides(QByteArrayView bytes, slides::SlideStore &out)
{
    if (bytes.size() < 12 || std::memcmp(bytes.data(), ClipMark, 8) != 0)
        return false;
    const quint32 n = qFromLittleEndian<quint32>(bytes.data() + 8);
    qsizetype at = 12;
    for (quint32 k = 0; k < n; ++k) {
        if (bytes.size() - at < 6)
            return false;
        const quint8 flags = quint8(bytes[at]) & (slides::SlideStore::Key | slides::SlideStore::Compressed);
        const int duration = quint8(bytes[at + 1]);
        const quint32 size = qFromLittleEndian<quint32>(bytes.data() + at + 2);
        if (quint64(bytes.size() - at - 6) < size)
            return false;
        if (!out.appendPacked(flags, bytes.sliced(at + 6, size), nullptr, duration))
            return false;
        at += 6 + qsizetype(size);
    }
    QByteArray raw(slides::SlideStore::RawBytes, Qt::Uninitialized);
    int held = 0;
    for (int i = 1; i <= out.count(); ++i)
        if (!out.readOnInto(i, raw.data(), slides::SlideStore::RowBytes, held))
            return false;
    QHash<QByteArray, std::shared_ptr<const slides::SoundClip>> clips; // a file several slides start, once
    while (n > 0 && bytes.size() - at >= 13) {
        const quint32 slide = qFromLittleEndian<quint32>(bytes.data() + at);
        const int volume = quint8(bytes[at + 4]);
        const quint32 nameSize = qFromLittleEndian<quint32>(bytes.data() + at + 5);
        at += 9;
        if (quint64(bytes.size() - at) < quint64(nameSize) + 4)
            return false;
        const QString name = QString::fromUtf8(bytes.sliced(at, nameSize));
        at += nameSize;
        const quint32 size = qFromLittleEndian<quint32>(bytes.data() + at);
        at += 4;
        if (quint64(bytes.size() - at) < size)
            return false;
        auto clip = slides::SoundClip::make(bytes.sliced(at, size).toByteArray(), name);
        at += size;
        if (const auto same = clips.value(clip->hash))
            clip = same;
        clips.insert(clip->hash, clip);
        if (!out.setSound(int(slide), {clip, quint8(std::min(volume, slides::SlideSound::MaxVolume))}))
            return false;
    }
    return n > 0 && at == bytes.size();
}

} // namespace

bool frmBuffer::CopyChosen()
{
    if (m_chosen.empty())
        return false;
    std::vector<slides::SlideStore::Packed> packed;
    auto *data = new QMimeData;
    try {
        if (!m_slides.store().packCopies(0, std::vector<int>(m_chosen.begin(), m_chosen.end()), packed))
            throw std::bad_alloc();
        data->setData(QString::fromLatin1(SlidesMime), clipBytes(packed));
    } catch (const std::bad_alloc &) {
        delete data;
        m_state.message(this, {QStringLiteral("Не удалось скопировать слайды: недостаточно памяти."), QString(),
                               controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return false;
    }
    if (m_chosen.size() == 1)
        data->setImageData(m_slides.slide(*m_chosen.begin()).convertToFormat(QImage::Format_RGB32));
    QGuiApplication::clipboard()->setMimeData(data);
    return true;
}

void frmBuffer::CutChosen()
{
    if (m_chosen.empty())
        return;
    // Deleted only when the copy reached the clipboard.
    if (CopyChosen())
        DeleteChosen();
}

void frmBuffer::Paste()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    slides::SlideStore pasted;
    QString told;
    const QString mime = QString::fromLatin1(SlidesMime);
    if (data && data->hasFormat(mime)) {
        if (!clipSlides(data->data(mime), pasted)) {
            m_state.message(this, {QStringLiteral("Слайды в буфере обмена повреждены: вставить их не удалось."),
                                   QString(), controls::MsgIcon::Error, controls::MsgButtons::Ok});
            return;
        }
    } else if (data && data->hasImage()) {
        QImage picture = qvariant_cast<QImage>(data->imageData());
        const QSize slide(slides::SlideWidth, slides::SlideHeight);
        if (!picture.isNull() && picture.size() != slide) {
            // Fitted whole, keeping its proportions, centred on black: nothing of it is cut off.
            told = QStringLiteral("Картинка размером %1×%2 не совпадает с размером слайда (%3×%4): она вписана "
                                  "в слайд с сохранением пропорций.")
                       .arg(picture.width())
                       .arg(picture.height())
                       .arg(slide.width())
                       .arg(slide.height());
            QImage fitted(slide, QImage::Format_RGB32);
            fitted.fill(Qt::black);
            const QImage scaled = picture.scaled(slide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            QPainter p(&fitted);
            p.drawImage((slide.width() - scaled.width()) / 2, (slide.height() - scaled.height()) / 2, scaled);
            p.end();
            picture = fitted;
        }
        if (picture.isNull() || !pasted.append(picture.convertToFormat(QImage::Format_RGB32))) {
            m_state.message(this, {QStringLiteral("Не удалось вставить картинку."), QString(),
                                   controls::MsgIcon::Error, controls::MsgButtons::Ok});
            return;
        }
    } else {
        m_state.message(this, {QStringLiteral("В буфере обмена нет слайдов или картинки: вставить нечего."),
                               QString(), controls::MsgIcon::Information, controls::MsgButtons::Ok});
        return;
    }
    const int at = m_chosen.empty() ? slideCount() + 1 : *m_chosen.rbegin() + 1;
    const int n = pasted.count();
    if (!m_slides.addSeries(std::move(pasted), at)) {
        m_state.message(this, {QStringLiteral("Не удалось вставить слайды: недостаточно памяти."), QString(),
                               controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return;
    }
    m_state.SlidesUnsaved = true;
    m_chosen.clear();
    for (int k = 0; k < n; ++k)
        m_chosen.insert(at + k);
    m_anchor = m_current = at;
    Picture1->update();
    if (!told.isEmpty())
        m_state.message(this, {told, QString(), controls::MsgIcon::Information, controls::MsgButtons::Ok});
}

void frmBuffer::MoveChosen(int before)
{
    if (m_chosen.empty())
        return;
    const int n = int(m_chosen.size());
    const int first = before - int(std::distance(m_chosen.begin(), m_chosen.lower_bound(before)));
    if (!m_slides.move(std::vector<int>(m_chosen.begin(), m_chosen.end()), before))
        return;
    m_state.SlidesUnsaved = true;
    m_chosen.clear();
    for (int k = 0; k < n; ++k)
        m_chosen.insert(first + k);
    m_anchor = m_current = first;
    Picture1->update();
}

// Undo and redo leave SlidesUnsaved as it is: every change they can walk over came after the last
// save and set it already if it was of a kind that sets it.
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
