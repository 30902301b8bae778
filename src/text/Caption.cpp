#include "text/Caption.h"

#include <QPainter>

// Placeholder drawing until the renderer lands: plain letters on the shape's fill.
namespace text {

QStringList fonts()
{
    return {QStringLiteral("Liberation Sans"), QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Sans")};
}

QImage render(const Caption &caption)
{
    QFont font(caption.lettering.family);
    font.setPixelSize(caption.lettering.size);
    const QFontMetrics metrics(font);
    const QRect box = metrics.boundingRect(QRect(0, 0, 10000, 10000), 0, caption.lettering.text).adjusted(-8, -8, 8, 8);
    QImage image(box.size().expandedTo(QSize(16, 16)), QImage::Format_ARGB32_Premultiplied);
    image.fill(caption.shape == Shape::None ? QColor(Qt::transparent) : caption.fill);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(caption.lettering.colour);
    painter.drawText(image.rect(), Qt::AlignCenter, caption.lettering.text);
    return image;
}

QImage render(const TitleCard &card, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(card.top);
    QPainter painter(&image);
    QFont font(card.lettering.family);
    font.setPixelSize(card.lettering.size);
    painter.setFont(font);
    painter.setPen(card.lettering.colour);
    painter.drawText(image.rect(), Qt::AlignCenter, card.lettering.text);
    return image;
}

QString firstWords(const QString &text)
{
    const QString line = text.simplified();
    return line.size() <= 20 ? line : line.left(20) + QChar(0x2026);
}

QByteArray encode(const Caption &caption) { return caption.lettering.text.toUtf8(); }
QByteArray encode(const TitleCard &card) { return card.lettering.text.toUtf8(); }
std::optional<Caption> decodeCaption(const QByteArray &bytes)
{
    Caption c;
    c.lettering.text = QString::fromUtf8(bytes);
    return c;
}
std::optional<TitleCard> decodeTitleCard(const QByteArray &bytes)
{
    TitleCard c;
    c.lettering.text = QString::fromUtf8(bytes);
    return c;
}

bool editCaption(QWidget *, const controls::MessageFn &, Caption &) { return false; }
bool editTitleCard(QWidget *, const controls::MessageFn &, TitleCard &, QSize) { return false; }

} // namespace text
