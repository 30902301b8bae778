#include "text/Caption.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <numbers>

// Captions and title cards are drawn from their words each time, so that the
// stage, a slide and an export all show the same picture. Letters are laid out
// with QTextLayout (which shapes right-to-left and combining text), filled
// glyph run by glyph run (a colour emoji font draws its bitmaps), and outlined
// by stroking the glyphs' outlines under the fill.
namespace text {

namespace {

constexpr int MaxSide = 4000;    // no picture grows past this; a larger drawing is scaled down into it
constexpr qreal WrapWidth = 360; // longer lines wrap here (the stage is 396 wide)
constexpr qreal BubbleWrapWidth = 240;

QFont letteringFont(const Lettering &l)
{
    const QStringList families = fonts();
    QFont font(families.contains(l.family) ? l.family : families.first());
    font.setPixelSize(std::clamp(l.size, 1, 400));
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// The letters laid out: lines centred on one another, their outlines for the
// stroke, and the rectangle they take (the lines' advance and the ink, joined).
struct Laid {
    std::vector<std::unique_ptr<QTextLayout>> layouts;
    std::vector<QPainterPath> outlines; // one a glyph: stroking them one by one is far faster than as one path
    QRectF ink;
    QRectF lines; // the lines' advance and height alone
    QRectF box;   // joined with the ink, which may reach past them
};

Laid layOut(const Lettering &l, qreal wrapWidth)
{
    Laid laid;
    const QFont font = letteringFont(l);
    const QFontMetricsF metrics(font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(Qt::LayoutDirectionAuto);
    qreal y = 0;
    qreal widest = 0;
    // Each paragraph gets its own layout, so that a right-to-left line does not turn its neighbours around.
    const QStringList paragraphs = QString(l.text).replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'))
                                       .split(QLatin1Char('\n'));
    for (const QString &paragraph : paragraphs) {
        auto layout = std::make_unique<QTextLayout>(paragraph, font);
        layout->setTextOption(option);
        layout->setCacheEnabled(true);
        layout->beginLayout();
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLineWidth(wrapWidth);
            line.setPosition(QPointF(0, y));
            y += std::max(line.height(), metrics.lineSpacing());
            widest = std::max(widest, line.naturalTextWidth());
        }
        layout->endLayout();
        if (layout->lineCount() == 0)
            y += metrics.lineSpacing();
        for (const QGlyphRun &run : layout->glyphRuns()) {
            const QRawFont raw = run.rawFont();
            const QList<quint32> glyphs = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            for (qsizetype i = 0; i < glyphs.size() && i < positions.size(); ++i) {
                QPainterPath glyph = raw.pathForGlyph(glyphs[i]);
                if (glyph.isEmpty())
                    continue;
                glyph.translate(positions[i]);
                laid.ink = laid.ink.united(glyph.boundingRect());
                laid.outlines.push_back(std::move(glyph));
            }
        }
        laid.layouts.push_back(std::move(layout));
    }
    const qreal centre = wrapWidth / 2;
    laid.lines = QRectF(centre - std::max(widest, 1.0) / 2, 0, std::max(widest, 1.0), std::max(y, 1.0));
    laid.box = laid.lines;
    if (!laid.ink.isEmpty())
        laid.box = laid.box.united(laid.ink);
    return laid;
}

// An outline wider than the letters are tall would only be a blot (and costs dearly to stroke on a long text).
int outlineOf(const Lettering &l)
{
    return std::min(std::clamp(l.outlineWidth, 0, 20), std::clamp(l.size, 1, 400));
}

// Outline first, then the letters on top, so that a wide outline never eats into them.
void drawLetters(QPainter &p, const Laid &laid, const Lettering &l, QPointF offset)
{
    const int width = outlineOf(l);
    p.save();
    p.translate(offset);
    if (width > 0) {
        p.setPen(QPen(l.outline, 2.0 * width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        for (const QPainterPath &glyph : laid.outlines)
            p.drawPath(glyph);
    }
    p.setPen(l.colour);
    for (const auto &layout : laid.layouts)
        for (const QGlyphRun &run : layout->glyphRuns())
            p.drawGlyphRun(QPointF(0, 0), run);
    p.restore();
}

// Where on an ellipse around `c` with half-axes a, b the angle t (radians, y downwards) falls.
QPointF onEllipse(QPointF c, qreal a, qreal b, qreal t)
{
    return {c.x() + a * std::cos(t), c.y() + b * std::sin(t)};
}

// The angle pointing into the tail's corner's quadrant (y grows downwards).
qreal cornerAngle(Tail tail)
{
    switch (tail) {
    case Tail::BottomRight: return std::numbers::pi / 4;
    case Tail::TopLeft: return -3 * std::numbers::pi / 4;
    case Tail::TopRight: return -std::numbers::pi / 4;
    case Tail::BottomLeft: break;
    }
    return 3 * std::numbers::pi / 4;
}

bool tailLeft(Tail t) { return t == Tail::BottomLeft || t == Tail::TopLeft; }
bool tailTop(Tail t) { return t == Tail::TopLeft || t == Tail::TopRight; }

// A cloud: puffs of one size along the ellipse, evenly spaced by length, joined with the ellipse itself.
QPainterPath cloud(QPointF c, qreal a, qreal b, qreal puff)
{
    constexpr int Samples = 256;
    std::vector<QPointF> points;
    std::vector<qreal> along{0};
    for (int i = 0; i <= Samples; ++i) {
        points.push_back(onEllipse(c, a, b, 2 * std::numbers::pi * i / Samples));
        if (i > 0)
            along.push_back(along.back() + QLineF(points[i - 1], points[i]).length());
    }
    const int count = std::clamp(int(std::ceil(along.back() / (1.3 * puff))), 7, 48);
    QPainterPath path;
    path.addEllipse(c, a, b);
    for (int k = 0, i = 0; k < count; ++k) {
        const qreal want = along.back() * k / count;
        while (i < Samples && along[i + 1] < want)
            ++i;
        QPainterPath one;
        one.addEllipse(points[i], puff, puff);
        path = path.united(one);
    }
    return path.simplified();
}

} // namespace

QStringList fonts()
{
    // Comfortaa: round, friendly letters with Cyrillic, for a children's cartoon.
    return {QStringLiteral("Liberation Sans"), QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Sans"),
            QStringLiteral("Comfortaa")};
}

QImage render(const Caption &caption)
{
    const Lettering &l = caption.lettering;
    const int size = std::clamp(l.size, 1, 400);
    // A bubble is an ellipse about the letters, some 1.5 times as wide as they are: its lines wrap sooner,
    // so that a sentence of ordinary letters gives a bubble that fits on the stage.
    const bool bubble = caption.shape == Shape::Speech || caption.shape == Shape::Thought;
    const Laid laid = layOut(l, std::max(bubble ? BubbleWrapWidth : WrapWidth, 3.0 * size));
    const int outline = outlineOf(l);
    const QRectF letters = laid.box.adjusted(-outline, -outline, outline, outline);
    const qreal line = std::clamp(size / 12.0, 1.5, 8.0); // the shape's border
    const qreal pad = std::max(4.0, size * 0.3);

    QPainterPath shape;
    QPainterPath trail; // a thought's small circles, drawn apart from the cloud
    QRectF extent = letters;
    const QPointF c = letters.center();
    const Tail tail = caption.tail;
    switch (caption.shape) {
    case Shape::None:
        extent = letters.adjusted(-2, -2, 2, 2);
        break;
    case Shape::Box: {
        const QRectF r = letters.adjusted(-pad, -pad, pad, pad);
        const qreal radius = std::min({pad * 1.5, r.width() / 2, r.height() / 2});
        shape.addRoundedRect(r, radius, radius);
        break;
    }
    case Shape::Speech:
    case Shape::Thought: {
        // An ellipse through the letters' corners (sqrt 2 times their half sides) with room to spare.
        const bool thought = caption.shape == Shape::Thought;
        const qreal a = letters.width() / 2 * std::numbers::sqrt2 + pad;
        const qreal b = letters.height() / 2 * std::numbers::sqrt2 + pad;
        const qreal puff = std::clamp(std::min(a, b) * 0.3, 3.0, 400.0);
        const qreal reach = std::max({10.0, b * 0.7, size * 0.8}); // how far the tail goes below (or above) the bubble
        const QRectF bubble(c.x() - a, c.y() - b, 2 * a, 2 * b);
        const QRectF around = thought ? bubble.adjusted(-puff, -puff, puff, puff) : bubble;
        // The tail's tip: the image's corner on its side, level with the bubble's edge across.
        const QPointF tip(tailLeft(tail) ? around.left() : around.right(),
                          tailTop(tail) ? around.top() - reach : around.bottom() + reach);
        const qreal towards = cornerAngle(tail);
        if (!thought) {
            // A curved wedge from two points of the ellipse, either side of the corner's direction, to the tip.
            const qreal spread = std::clamp(10 / std::min(a, b), 0.22, 0.6); // never thinner than about 20 px
            const qreal lean = tailLeft(tail) == tailTop(tail) ? -0.2 : 0.2; // towards the bubble's bottom or top
            const QPointF from = onEllipse(c, a * 0.95, b * 0.95, towards + lean - spread);
            const QPointF to = onEllipse(c, a * 0.95, b * 0.95, towards + lean + spread);
            QPainterPath wedge;
            wedge.moveTo(from);
            wedge.quadTo((from + tip) / 2 + (to - from) * 0.15, tip);
            wedge.quadTo((to + tip) / 2 + (to - from) * 0.05, to);
            wedge.closeSubpath();
            shape.addEllipse(bubble);
            shape = shape.united(wedge).simplified();
        } else {
            shape = cloud(c, a, b, puff);
            // Three circles shrinking from the cloud's edge to the corner.
            const QPointF start = onEllipse(c, a + puff * 1.6, b + puff * 1.6, towards);
            const qreal radii[] = {std::max(3.0, puff * 0.55), std::max(2.5, puff * 0.38), std::max(2.0, puff * 0.25)};
            const QPointF end(tip.x() + (tailLeft(tail) ? radii[2] : -radii[2]) + (tailLeft(tail) ? line : -line),
                              tip.y() + (tailTop(tail) ? radii[2] : -radii[2]) + (tailTop(tail) ? line : -line));
            for (int i = 0; i < 3; ++i)
                trail.addEllipse(start + (end - start) * (i / 2.0), radii[i], radii[i]);
        }
        extent = around.united(QRectF(tip, QSizeF(0, 0)).normalized());
        break;
    }
    }
    extent = extent.united(shape.boundingRect()).united(trail.boundingRect());
    extent.adjust(-line / 2, -line / 2, line / 2, line / 2);

    // A drawing larger than the most a picture may take is scaled down into it, whole.
    const qreal scale = std::min({1.0, MaxSide / extent.width(), MaxSide / extent.height()});
    const QSize pixels(std::clamp(int(std::ceil(extent.width() * scale)), 1, MaxSide),
                       std::clamp(int(std::ceil(extent.height() * scale)), 1, MaxSide));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    p.scale(scale, scale);
    p.translate(-extent.topLeft());
    if (!shape.isEmpty() || !trail.isEmpty()) {
        p.setPen(QPen(caption.border, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(caption.fill);
        p.drawPath(shape);
        p.drawPath(trail);
    }
    drawLetters(p, laid, l, QPointF(0, 0));
    return image;
}

QImage render(const TitleCard &card, QSize size)
{
    const QSize pixels(std::clamp(size.width(), 1, MaxSide), std::clamp(size.height(), 1, MaxSide));
    QImage image(pixels, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    if (card.top == card.bottom) {
        p.fillRect(image.rect(), card.top);
    } else {
        QLinearGradient gradient(0, 0, 0, pixels.height());
        gradient.setColorAt(0, card.top);
        gradient.setColorAt(1, card.bottom);
        p.fillRect(image.rect(), gradient);
    }
    // The letters wrap within nine tenths of the width and stand in the middle; what does not fit is cut off.
    const Laid laid = layOut(card.lettering, std::max(1.0, pixels.width() * 0.9));
    const QPointF middle(pixels.width() / 2.0, pixels.height() / 2.0);
    drawLetters(p, laid, card.lettering, middle - QPointF(pixels.width() * 0.45, laid.lines.center().y()));
    return image;
}

} // namespace text
