#include "text/Fields.h"

#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QSpinBox>
#include <QVBoxLayout>

#include "controls/Fonts.h"
#include "controls/Widgets.h"

namespace text {

ColourButton::ColourButton(const char *name, const QString &what, QWidget *parent)
    : QPushButton(parent), m_what(what)
{
    setObjectName(QString::fromLatin1(name));
    setAccessibleName(what);
    setToolTip(what);
    setIconSize(QSize(44, 14));
    connect(this, &QPushButton::clicked, this, [this] {
        const QColor chosen = QColorDialog::getColor(m_colour, this, m_what);
        if (chosen.isValid())
            setColour(chosen);
    });
}

void ColourButton::setColour(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    QPixmap swatch(iconSize());
    swatch.fill(rgb);
    QPainter(&swatch).drawRect(swatch.rect().adjusted(0, 0, -1, -1));
    setIcon(swatch);
    if (rgb == m_colour)
        return;
    m_colour = rgb;
    emit colourChanged(rgb);
}

LetteringFields::LetteringFields(QWidget *window, QFormLayout *form, const Lettering &start) : QObject(window)
{
    text = new QPlainTextEdit(start.text, window);
    text->setObjectName(QStringLiteral("text"));
    text->setTabChangesFocus(true);
    text->setAccessibleName(QStringLiteral("Текст"));
    text->setFixedHeight(text->fontMetrics().lineSpacing() * 4 + 12);
    form->addRow(QStringLiteral("&Текст:"), text);

    font = new QComboBox(window);
    font->setObjectName(QStringLiteral("font"));
    for (const QString &family : fonts()) {
        font->addItem(family, family);
        QFont face(family);
        face.setPointSizeF(window->font().pointSizeF());
        font->setItemData(font->count() - 1, face, Qt::FontRole);
    }
    // A family no longer offered shows as the first, which is also what draws it.
    font->setCurrentIndex(std::max(0, font->findData(start.family)));
    size = new QSpinBox(window);
    size->setObjectName(QStringLiteral("size"));
    size->setRange(1, 400);
    size->setValue(std::clamp(start.size, 1, 400));
    size->setSuffix(QStringLiteral(" пикс."));
    size->setAccessibleName(QStringLiteral("Размер букв"));
    auto *fontRow = new QHBoxLayout;
    fontRow->addWidget(font, 1);
    fontRow->addWidget(new QLabel(QStringLiteral("Размер:"), window));
    fontRow->addWidget(size);
    auto *fontLabel = new QLabel(QStringLiteral("&Шрифт:"), window);
    fontLabel->setBuddy(font);
    form->addRow(fontLabel, fontRow);

    colour = new ColourButton("colour", QStringLiteral("Цвет букв"), window);
    colour->setColour(start.colour);
    outline = new ColourButton("outline", QStringLiteral("Цвет обводки"), window);
    outline->setColour(start.outline);
    outlineWidth = new QSpinBox(window);
    outlineWidth->setObjectName(QStringLiteral("outlineWidth"));
    outlineWidth->setRange(0, 20);
    outlineWidth->setValue(std::clamp(start.outlineWidth, 0, 20));
    outlineWidth->setSpecialValueText(QStringLiteral("нет"));
    outlineWidth->setSuffix(QStringLiteral(" пикс."));
    outlineWidth->setAccessibleName(QStringLiteral("Толщина обводки"));
    outlineWidth->setToolTip(QStringLiteral("Обводка вокруг букв, чтобы их было видно на любом фоне"));
    auto *colourRow = new QHBoxLayout;
    colourRow->addWidget(colour);
    colourRow->addSpacing(12);
    colourRow->addWidget(new QLabel(QStringLiteral("Обводка:"), window));
    colourRow->addWidget(outline);
    colourRow->addWidget(outlineWidth);
    colourRow->addStretch();
    form->addRow(QStringLiteral("Цвет:"), colourRow);

    connect(text, &QPlainTextEdit::textChanged, this, &LetteringFields::changed);
    connect(font, &QComboBox::currentIndexChanged, this, &LetteringFields::changed);
    connect(size, &QSpinBox::valueChanged, this, &LetteringFields::changed);
    connect(outlineWidth, &QSpinBox::valueChanged, this, &LetteringFields::changed);
    connect(colour, &ColourButton::colourChanged, this, &LetteringFields::changed);
    connect(outline, &ColourButton::colourChanged, this, &LetteringFields::changed);
}

Lettering LetteringFields::value() const
{
    Lettering l;
    l.text = text->toPlainText();
    l.family = font->currentData().toString();
    l.size = size->value();
    l.colour = colour->colour();
    l.outline = outline->colour();
    l.outlineWidth = outlineWidth->value();
    return l;
}

QLabel *layOutWindow(QDialog *window, QFormLayout *form, QSize box, const QString &spoken, controls::Button *&ok,
                     controls::Button *&cancel, const std::function<void()> &accept)
{
    auto *preview = new QLabel(window);
    preview->setObjectName(QStringLiteral("preview"));
    preview->setFixedSize(box);
    preview->setAccessibleName(spoken);
    auto *columns = new QHBoxLayout;
    columns->addLayout(form, 1);
    columns->addWidget(preview, 0, Qt::AlignTop);
    auto *layout = new QVBoxLayout(window);
    layout->addLayout(columns);

    ok = new controls::Button(QStringLiteral("ОК"), window);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    cancel = new controls::Button(QStringLiteral("Отмена"), window);
    cancel->setObjectName(QStringLiteral("cancel"));
    for (controls::Button *b : {ok, cancel})
        b->setMinimumSize(90, 25);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addLayout(row);
    QObject::connect(ok, &QPushButton::clicked, window, accept);
    QObject::connect(cancel, &QPushButton::clicked, window, &QDialog::reject);
    // Enter alone starts a new line in the text box, so the control key accepts from there.
    for (const QKeySequence &keys : {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)})
        QObject::connect(new QShortcut(keys, window), &QShortcut::activated, window, accept);
    return preview;
}

void showReady(QDialog *window, LetteringFields *letters)
{
    letters->text->setFocus();
    letters->text->selectAll();
    window->adjustSize();
    window->setFixedSize(window->size());
    controls::centreOnScreen(window);
}

bool hasText(QWidget *window, const controls::MessageFn &message, QPlainTextEdit *text, const QString &ask)
{
    if (!text->toPlainText().trimmed().isEmpty())
        return true;
    message(window, {ask, QString(), controls::MsgIcon::Warning,
                     controls::MsgButtons::Ok});
    text->setFocus();
    return false;
}

QPixmap onCheckerboard(const QImage &picture, QSize box)
{
    QPixmap shown(box);
    QPainter p(&shown);
    constexpr int Cell = 8;
    for (int y = 0; y < box.height(); y += Cell)
        for (int x = 0; x < box.width(); x += Cell)
            p.fillRect(x, y, Cell, Cell, (x / Cell + y / Cell) % 2 ? QColor(204, 204, 204) : QColor(Qt::white));
    const bool fits = picture.width() <= box.width() && picture.height() <= box.height();
    const QSize fit = fits ? picture.size() : picture.size().scaled(box, Qt::KeepAspectRatio);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRect(QPoint((box.width() - fit.width()) / 2, (box.height() - fit.height()) / 2), fit), picture);
    return shown;
}

} // namespace text
