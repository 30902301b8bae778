#include "preview/frmView.h"

#include <QLabel>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QSlider>

#include "controls/Button.h"
#include "controls/Fonts.h"
#include "controls/PictureBox.h"
#include "controls/SpinControl.h"
#include "controls/Twips.h"
#include "controls/WindowFrame.h"
#include "controls/Widgets.h"
#include "slides/SlideSource.h"

using controls::button;
using controls::panel;
using twips::place;

namespace {

const QString StartCaption = QStringLiteral("Старт");
const QString StopCaption = QStringLiteral("Стоп");

// Client area in twips: 412 x 439 pixels.
constexpr int ClientWidthTwips = 6180;
constexpr int ClientHeightTwips = 6585;

} // namespace

frmView::frmView(slides::SlideSource *source, controls::MessageFn message, QWidget *parent)
    : QDialog(parent), m_source(source), m_message(std::move(message))
{
    setObjectName(QStringLiteral("frmView"));
    setWindowTitle(QStringLiteral("Предварительный просмотр"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twips::toPixels(ClientWidthTwips), twips::toPixels(ClientHeightTwips));
    setFont(fonts::msSansSerif());
    controls::clearWindowIcon(this);
    buildLayout();

    m_pause.setSingleShot(true);
    // The pauses are whole milliseconds; a coarse timer could be 5 % off.
    m_pause.setTimerType(Qt::PreciseTimer);
    m_clock.start();

    connect(&m_pause, &QTimer::timeout, this, &frmView::afterPause);
    m_soundWait.setSingleShot(true);
    m_soundWait.setTimerType(Qt::PreciseTimer);
    connect(&m_soundWait, &QTimer::timeout, this, &frmView::waitForSound);
    connect(Command2, &QPushButton::clicked, this, &frmView::Command2_Click);
    connect(Command1, &QPushButton::clicked, this, &frmView::Command1_Click);
    // Only the user's moves are a Scroll; the program's own setValue raises no action.
    connect(Slider1, &QSlider::actionTriggered, this, &frmView::Slider1_Scroll);
    connect(UpDown1, &controls::SpinControl::Change, this, [this](int value) { Label1->setNum(value); });
}

frmView::~frmView() = default;

void frmView::buildLayout()
{
    // Created from the bottom of the stacking order up: the panel lies behind the display.
    Command3 = panel(this, "Command3", QStringLiteral("Command3"), 90, 90, 6000, 5280);

    Picture1 = place(new controls::PictureBox(this, controls::PictureBox::SunkenBorder), "Picture1", 135, 180, 5910,
                     5145);
    Picture1->setBackColor(palette().color(QPalette::WindowText));
    Picture1->setAccessibleName(QStringLiteral("Слайд"));

    Slider1 = place(new QSlider(Qt::Horizontal, this), "Slider1", 90, 5400, 6000, 495);
    Slider1->setToolTip(QStringLiteral("Какой слайд сейчас показан.\nПередвиньте ползунок, чтобы перейти к другому слайду."));
    Slider1->setRange(0, 0);
    Slider1->setTickPosition(QSlider::TicksBelow);
    Slider1->setAccessibleName(QStringLiteral("Номер слайда"));
    // Nothing to jump to before the first start; every close disables it again.
    Slider1->setEnabled(false);

    UpDown1 = place(new controls::SpinControl(Qt::Vertical, this), "UpDown1", 675, 6030, 240, 330);
    UpDown1->setToolTip(QStringLiteral("Скорость показа: сколько слайдов в секунду, от 1 до 24."));
    UpDown1->setRange(1, 24);
    UpDown1->setIncrement(4);
    UpDown1->setValue(12);
    UpDown1->setAccessibleNames(QStringLiteral("Кадров в секунду"), QStringLiteral("Медленнее"),
                                QStringLiteral("Быстрее"));

    Command2 = button(this, "Command2", StartCaption, 3330, 6030, 1275, 330);
    Command2->setToolTip(QStringLiteral("«Старт»: показывать слайды по кругу, как мультфильм.\n«Стоп»: остановить показ на текущем слайде."));
    Command1 = button(this, "Command1", QStringLiteral("Закрыть"), 4680, 6030, 1275, 330);
    Command1->setToolTip(QStringLiteral("Закрыть просмотр."));

    Label2 = place(new QLabel(QStringLiteral("Кадров в секунду"), this), "Label2", 990, 6165, 1680, 240);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Label1 = place(new QLabel(QString::number(UpDown1->value()), this), "Label1", 225, 6030, 420, 330);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setFont(fonts::msSansSerif(9.75, true));

    Command3->lower();
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, UpDown1);
    setTabOrder(UpDown1, Slider1);
    Command1->setFocus();
}

void frmView::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        scheduleActivate();
}

bool frmView::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        scheduleActivate();
    return QDialog::event(event);
}

void frmView::scheduleActivate()
{
    // Run after the showing has finished: hiding a dialog from inside its own
    // show() would leave exec() waiting on a window nobody can see. Showing and
    // the window system's activation arrive together and set up only once.
    if (m_activatePending)
        return;
    m_activatePending = true;
    QTimer::singleShot(0, this, [this] {
        m_activatePending = false;
        if (isVisible())
            Form_Activate();
    });
}

void frmView::Form_Activate()
{
    // The message box below takes the activation away and gives it back
    // while it is open; that must not set up again and ask a second time.
    if (m_activating)
        return;
    const QScopedValueRollback<bool> busy(m_activating, true);
    const int n = m_source ? m_source->slideCount() : 0;
    Slider1->setMaximum(std::max(0, n));
    if (n < 1) {
        m_message(this, {QStringLiteral("Слишком мало кадров"), QString(), controls::MsgIcon::Error,
                         controls::MsgButtons::Ok});
        hide();
        return;
    }
    Slider1->setValue(1);
}

void frmView::Command2_Click()
{
    if (Command2->text() != StartCaption) {
        Command2->setText(StartCaption);
        StopRequested = true;
        if (m_sound.playing()) {
            // The sound stops at once, and with it the slide it was waiting for.
            m_sound.stop();
            m_soundWait.stop();
            Slider1->setValue(PlayPosition);
            m_playing = false;
        }
        return;
    }
    Command2->setText(StopCaption);
    Slider1->setEnabled(true);
    StopRequested = false;
    // Started again within the pause of the slide that a stop was waiting
    // for: that slide's cycle simply goes on into the next one.
    if (m_playing)
        return;
    m_playing = true;
    m_schedule.start(m_clock.elapsed());
    const int count = m_source ? m_source->slideCount() : 0;
    startSound(PlayPosition + 1 > count ? 1 : PlayPosition + 1);
    playSlide();
}

qint64 frmView::framesBefore(int slide) const
{
    qint64 frames = 0;
    for (int i = 1; i < slide; ++i)
        frames += std::max(1, m_source->slideDuration(i));
    return frames;
}

void frmView::startSound(int slide)
{
    m_sound.stop();
    m_soundWait.stop();
    if (!soundForPreview || !m_source)
        return;
    const int rate = UpDown1->value();
    std::shared_ptr<const sound::Pcm> mix = soundForPreview(rate);
    if (!mix || mix->frames() == 0)
        return;
    if (!sound::Player::available()) {
        if (!m_toldNoSound) {
            m_toldNoSound = true;
            m_message(this, {QStringLiteral("Звук недоступен: на компьютере не найдено устройство вывода звука. "
                                            "Просмотр пойдёт без звука."),
                             QString(), controls::MsgIcon::Information, controls::MsgButtons::Ok});
        }
        return;
    }
    m_soundRate = rate;
    m_soundBase = framesBefore(slide);
    m_soundNext = m_soundBase;
    m_soundSlide = slide - 1;
    m_sound.play(std::move(mix), sound::frameStart(m_soundBase, rate));
}

void frmView::playSlide()
{
    ++PlayPosition;
    const int count = m_source ? m_source->slideCount() : 0;
    if (count < PlayPosition)
        PlayPosition = 1;
    if (m_sound.playing() && count > 0) {
        // A jump with the slider or a new rate: the sound starts again from the slide about to be shown.
        const bool jumped = PlayPosition != (m_soundSlide % count) + 1;
        if (jumped || UpDown1->value() != m_soundRate)
            startSound(PlayPosition);
    }
    if (m_sound.playing()) {
        showSlide(PlayPosition);
        m_soundSlide = PlayPosition;
        m_soundNext += std::max(1, m_source->slideDuration(PlayPosition));
        waitForSound();
        return;
    }
    showSlide(PlayPosition);
    // The window repaints and answers clicks while the timer waits; the rate
    // is read anew for every slide. A slide that lasts several frames is shown for as many pauses.
    const int frames = m_source ? m_source->slideDuration(PlayPosition) : 1;
    const int pause = preview::pauseForRate(UpDown1->value()) * frames;
    m_pause.start(int(m_schedule.waitAfterSlide(m_clock.elapsed(), pause)));
}

void frmView::waitForSound()
{
    if (m_sound.failed()) {
        // The sound went away while playing: the slides go on against the clock from here.
        m_sound.stop();
        m_schedule.start(m_clock.elapsed());
    }
    if (!m_sound.playing()) {
        afterPause();
        return;
    }
    // The next slide is due when its first frame is heard; the wait is checked against the sound again
    // when it ends, since the timer and the sound card keep different time.
    const qint64 due = sound::frameStart(m_soundNext, m_soundRate) - sound::frameStart(m_soundBase, m_soundRate);
    const qint64 left = due - m_sound.heard();
    if (left * 1000 < sound::Rate) {
        afterPause();
        return;
    }
    m_soundWait.start(int(left * 1000 / sound::Rate));
}

void frmView::afterPause()
{
    Slider1->setValue(PlayPosition);
    if (StopRequested) {
        m_playing = false;
        return;
    }
    playSlide();
}

void frmView::Slider1_Scroll()
{
    PlayPosition = Slider1->sliderPosition();
    showSlide(PlayPosition);
}

void frmView::showSlide(int position)
{
    Picture1->setPicture(position >= 1 && m_source ? m_source->slide(position) : QImage());
}

void frmView::Command1_Click()
{
    StopRequested = true;
    Command2->setText(StartCaption);
    Picture1->clearPicture();
    Slider1->setValue(0);
    PlayPosition = 0;
    Slider1->setEnabled(false);
    endPlayback();
    hide();
}

void frmView::endPlayback()
{
    // The window is going out of sight: the rest of the slide in progress
    // would change nothing the user can see.
    m_pause.stop();
    m_soundWait.stop();
    m_sound.stop();
    m_playing = false;
}

void frmView::reject()
{
    Command1_Click();
}
