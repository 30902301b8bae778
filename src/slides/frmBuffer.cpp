#include "slides/frmBuffer.h"

#include <QDir>
#include <QLabel>
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
#include "controls/Widgets.h"
#include "slides/SlideFiles.h"
#include "slides/ThumbLayout.h"
#include "slides/frmBar.h"
#include "slides/frmLoad.h"

namespace lay = slides::layout;

namespace slides {

ThumbCanvas::ThumbCanvas(const std::vector<QImage> &thumbs, QWidget *parent) : QWidget(parent), m_thumbs(thumbs)
{
    setObjectName(QStringLiteral("Picture1"));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
}

void ThumbCanvas::paintEvent(QPaintEvent *event)
{
    const QRect r = event->rect();
    const auto span = lay::slidesInBand(int(twips::fromPixels(r.top())), int(twips::fromPixels(r.bottom() + 1)),
                                        int(m_thumbs.size()));
    if (span.first > span.last)
        return;
    QPainter p(this);
    for (int n = span.first; n <= span.last; ++n) {
        const QRect target = lay::thumbRect(n);
        if (target.intersects(r))
            p.drawImage(target, m_thumbs[size_t(n - 1)]);
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
    Picture2->setBackColor(Qt::black);
    Picture2->setAccessibleName(QStringLiteral("Слайды"));
    Picture1 = new slides::ThumbCanvas(m_thumbs, Picture2->client());
    twips::setGeometry(Picture1, lay::CanvasLeft, 0, lay::CanvasWidth, m_canvasHeight);

    VScroll1 = place(new QScrollBar(Qt::Vertical, this), "VScroll1", 10530, 45, 255, 6570);
    VScroll1->setRange(0, 0);
    VScroll1->setSingleStep(1000);
    VScroll1->setPageStep(32000);
    VScroll1->setAccessibleName(QStringLiteral("Прокрутка слайдов"));

    Label1 = place(new QLabel(QStringLiteral("Всего слайдов:"), this), "Label1", 135, 6795, 2445, 240);
    Label1->setFont(bold());
    Command2 = place(new controls::Button(QStringLiteral("Сохранить"), this), "Command2", 7290, 6795, 1455, 420);
    Command2->setFont(bold());
    Command1 = place(new controls::Button(QStringLiteral("Закрыть"), this), "Command1", 8820, 6795, 1455, 420);
    Command1->setFont(bold());
    for (QPushButton *b : {Command2, Command1})
        b->setAutoDefault(false);

    setTabOrder(Picture2, VScroll1);
    setTabOrder(VScroll1, Command1);
    setTabOrder(Command1, Label1);
    setTabOrder(Label1, Command2);

    connect(VScroll1, &QScrollBar::valueChanged, this, &frmBuffer::VScroll1_Change);
    connect(Command1, &QPushButton::clicked, this, &frmBuffer::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmBuffer::Command2_Click);

    // Connected before anyone else listens: whatever changes the slides, the newest one is read afresh,
    // unless it is the one just recorded.
    connect(this, &frmBuffer::slidesChanged, this, [this] { m_last = std::exchange(m_appended, QImage()); });

    // Centred on the screen, not on the main window; placing it now keeps Qt from re-centring it.
    controls::centreOnScreen(this);
}

frmBuffer::~frmBuffer() = default;

bool frmBuffer::append(const QImage &image)
{
    const int n = slideCount() + 1;
    try {
        QImage thumb = image.scaled(75, 63, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .convertToFormat(QImage::Format_RGB888);
        if (thumb.isNull())
            return false;
        // Reserved before the slide goes in, so the thumbnail can follow it without failing.
        if (m_thumbs.size() == m_thumbs.capacity())
            m_thumbs.reserve(std::max<size_t>(64, m_thumbs.capacity() * 2));
        if (!m_store.append(image))
            return false;
        m_thumbs.push_back(std::move(thumb));
    } catch (const std::bad_alloc &) {
        return false;
    }

    m_appended = image;
    emit slidesChanged();

    Picture1->update(lay::thumbRect(n));
    controls::doEvents();

    const int height = lay::canvasHeightFor(m_canvasHeight, n);
    if (height != m_canvasHeight) {
        m_canvasHeight = height;
        twips::resize(Picture1, lay::CanvasWidth, m_canvasHeight);
        VScroll1->setMaximum(lay::scrollRange(m_canvasHeight));
    }
    return true;
}

void frmBuffer::clear()
{
    m_store.clear();
    std::vector<QImage>().swap(m_thumbs);
    Picture1->update();
    emit slidesChanged();
}

QImage frmBuffer::lastSlide() const
{
    if (m_last.isNull() && slideCount() > 0)
        m_last = m_store.slide(slideCount());
    return m_last;
}

void frmBuffer::Form_Activate()
{
    Label1->setText(QStringLiteral("Всего слайдов: ") + QString::number(slideCount()));
}

bool frmBuffer::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate)
        Form_Activate();
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

    if (slides::folderHasFiles(folder)) {
        frmLoad confirm(folder, this);
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

    frmBar *bar = Bar();
    bar->exec();
    if (bar->allWritten())
        m_state.SlidesUnsaved = false;
}

frmBar *frmBuffer::Bar()
{
    if (!m_bar)
        m_bar = new frmBar(m_state, m_store, this);
    return m_bar;
}
