#pragma once
// Words in the picture: a caption (text with an optional speech bubble,
// thought bubble or box behind it) and a title card (centred text on a
// full-stage colour or gradient). Both are kept as their text and style,
// never as a picture: the one renderer here draws them for the stage, and a
// slide or an export copies what the stage shows, so they never differ.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "controls/Messages.h"

class QWidget;

namespace text {

enum class Shape : quint8 { None = 0, Speech = 1, Thought = 2, Box = 3 };
// Where a speech or thought bubble's tail points.
enum class Tail : quint8 { BottomLeft = 0, BottomRight = 1, TopLeft = 2, TopRight = 3 };

// The look of the letters, shared by captions and title cards.
struct Lettering {
    QString text;                   // several lines, '\n' between them
    QString family;                 // one of fonts(); another (from an older file) falls back to the first
    int size = 28;                  // pixel size of the letters, 1 to 400
    QColor colour = Qt::black;
    QColor outline = Qt::white;     // drawn around each letter so that it reads on any background
    int outlineWidth = 0;           // pixels, 0 (none) to 20
    bool operator==(const Lettering &) const = default;
};

struct Caption {
    Lettering lettering;
    Shape shape = Shape::Speech;
    Tail tail = Tail::BottomLeft;
    QColor fill = Qt::white;        // inside the bubble or box
    QColor border = Qt::black;      // the bubble's or box's line
    bool operator==(const Caption &) const = default;
};

struct TitleCard {
    Lettering lettering;
    QColor top = QColor(40, 60, 140);
    QColor bottom = QColor(40, 60, 140);   // equal to `top`: a plain colour; else a vertical gradient
    bool operator==(const TitleCard &) const = default;
};

// The families offered, in the order the windows list them; the first is the default.
QStringList fonts();

// The caption at its own size: the letters with the shape around them and
// its tail, transparent outside. Premultiplied ARGB. Never empty (an empty
// text draws the shape alone).
QImage render(const Caption &caption);
// The title card filling `size` (the stage), opaque.
QImage render(const TitleCard &card, QSize size);

// The first words of a text for the object list, cut at a word's end near
// 20 characters and followed by "…" when something was left out; one line.
QString firstWords(const QString &text);

// Kept forms for the project file and the journal. Decoding refuses what it
// does not understand (nothing is returned) and clamps sizes into range.
QByteArray encode(const Caption &caption);
QByteArray encode(const TitleCard &card);
std::optional<Caption> decodeCaption(const QByteArray &bytes);
std::optional<TitleCard> decodeTitleCard(const QByteArray &bytes);

// The windows "Надпись…" and "Титр…": edit `caption` / `card` in place with a
// live preview; true on "ОК" (or Ctrl+Enter), false on "Отмена" / Escape,
// leaving the value alone. An empty text is refused with a message through
// `message`.
bool editCaption(QWidget *parent, const controls::MessageFn &message, Caption &caption);
bool editTitleCard(QWidget *parent, const controls::MessageFn &message, TitleCard &card, QSize stage);

} // namespace text
