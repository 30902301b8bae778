#include "slides/OnionSkin.h"

#include <QPaintEvent>
#include <QPainter>

#include <cstring>

namespace slides {

namespace {

// The smallest rectangle holding every pixel inside `within` in which two RGB32 images of the same size
// differ; empty when they are equal there. Whole rows are compared first, so that an unchanged row costs
// one memcmp; in the rows that changed, blocks of 16 pixels find each side quickly and the pixels of one
// block place it.
QRect changedRect(const QImage &a, const QImage &b, QRect within)
{
    constexpr int Block = 16;
    within &= a.rect();
    if (within.isEmpty())
        return {};
    const int x0 = within.left(), w = within.width(), h = within.bottom() + 1;
    const auto row = [x0](const QImage &i, int y) { return reinterpret_cast<const quint32 *>(i.constScanLine(y)) + x0; };
    const auto same = [&](int y, int x, int n) { return std::memcmp(row(a, y) + x, row(b, y) + x, size_t(n) * 4) == 0; };
    int top = within.top();
    while (top < h && same(top, 0, w))
        ++top;
    if (top == h)
        return {};
    int bottom = h - 1;
    while (bottom > top && same(bottom, 0, w))
        --bottom;
    int left = w, right = -1;
    for (int y = top; y <= bottom; ++y) {
        const quint32 *ra = row(a, y), *rb = row(b, y);
        int x = 0;
        while (x + Block <= left && same(y, x, Block))
            x += Block;
        while (x < left && ra[x] == rb[x])
            ++x;
        left = x;
        x = w;
        while (x - Block > right && same(y, x - Block, Block))
            x -= Block;
        --x;
        while (x > right && ra[x] == rb[x])
            --x;
        right = x;
    }
    return QRect(QPoint(x0 + left, top), QPoint(x0 + right, bottom));
}

} // namespace

OnionSkin::OnionSkin(QWidget *surface, QWidget *parent) : QWidget(parent), m_surface(surface)
{
    setObjectName(QStringLiteral("OnionSkin"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(surface->geometry());
    surface->installEventFilter(this);
}

bool OnionSkin::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_surface && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        setGeometry(m_surface->geometry());
    return QWidget::eventFilter(watched, event);
}

void OnionSkin::setSlide(const QImage &slide, bool stageAsShown)
{
    QImage next = slide;
    if (!next.isNull() && next.format() != QImage::Format_RGB32)
        next = next.convertToFormat(QImage::Format_RGB32); // null when memory runs out: then nothing shows
    // The stage as just captured can differ from the slide shown before only where the stage has been
    // repainted since, and the overlay was repainted there with it. Only that part is compared, and only
    // what differs is repainted: a recording costs neither a comparison of whole slides nor a repaint of
    // the whole stage.
    if (stageAsShown && !m_slide.isNull() && !next.isNull() && next.size() == m_slide.size() && isVisible())
        update(changedRect(m_slide, next, m_repainted.boundingRect()));
    else
        update();
    m_repainted = QRegion();
    m_slide = next;
    m_slide.setDevicePixelRatio(1.0);
}

void OnionSkin::paintEvent(QPaintEvent *event)
{
    m_repainted += event->region();
    if (m_slide.isNull())
        return;
    QPainter p(this);
    p.setOpacity(Strength);
    const QRect r = event->rect();
    p.drawImage(r.topLeft(), m_slide, r);
}

} // namespace slides
