// The slide buffer's canvas: the thumbnails eight to a row with their marks, the insertion point's bar,
// choosing with the mouse, dragging chosen slides to another place, and sound files dropped on a slide.
#include "slides/frmBuffer.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QUrl>

#include "controls/Twips.h"
#include "slides/ThumbLayout.h"

namespace lay = slides::layout;

namespace {
// The insertion point's bar: red as a recording light, apart from the yellow of chosen slides.
const QColor InsertionColour(255, 48, 48);
} // namespace

namespace slides {

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
