#include "text/frmCaption.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

#include "controls/Fonts.h"
#include "text/Fields.h"

namespace text {

namespace {
constexpr QSize PreviewBox(300, 240);
}

frmCaption::frmCaption(const controls::MessageFn &message, const Caption &start, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_message(message), m_redraw(new QTimer(this))
{
    setObjectName(QStringLiteral("frmCaption"));
    setWindowTitle(QStringLiteral("Надпись"));
    setFont(fonts::msSansSerif());

    auto *form = new QFormLayout;
    letters = new LetteringFields(this, form, start.lettering);

    shape = new QComboBox(this);
    shape->setObjectName(QStringLiteral("shape"));
    // In the order a person thinks of them: a line of speech first.
    shape->addItem(QStringLiteral("Реплика"), int(Shape::Speech));
    shape->addItem(QStringLiteral("Мысль"), int(Shape::Thought));
    shape->addItem(QStringLiteral("Рамка"), int(Shape::Box));
    shape->addItem(QStringLiteral("Нет (только буквы)"), int(Shape::None));
    shape->setCurrentIndex(std::max(0, shape->findData(int(start.shape))));
    tail = new QComboBox(this);
    tail->setObjectName(QStringLiteral("tail"));
    tail->addItem(QStringLiteral("внизу слева"), int(Tail::BottomLeft));
    tail->addItem(QStringLiteral("внизу справа"), int(Tail::BottomRight));
    tail->addItem(QStringLiteral("вверху слева"), int(Tail::TopLeft));
    tail->addItem(QStringLiteral("вверху справа"), int(Tail::TopRight));
    tail->setCurrentIndex(std::max(0, tail->findData(int(start.tail))));
    tail->setAccessibleName(QStringLiteral("Куда смотрит хвостик"));
    auto *shapeRow = new QHBoxLayout;
    shapeRow->addWidget(shape, 1);
    shapeRow->addWidget(new QLabel(QStringLiteral("Хвостик:"), this));
    shapeRow->addWidget(tail, 1);
    auto *shapeLabel = new QLabel(QStringLiteral("&Форма:"), this);
    shapeLabel->setBuddy(shape);
    form->addRow(shapeLabel, shapeRow);

    fill = new ColourButton("fill", QStringLiteral("Цвет фона"), this);
    fill->setColour(start.fill);
    border = new ColourButton("border", QStringLiteral("Цвет линии"), this);
    border->setColour(start.border);
    auto *shapeColours = new QHBoxLayout;
    shapeColours->addWidget(fill);
    shapeColours->addSpacing(12);
    shapeColours->addWidget(new QLabel(QStringLiteral("Линия:"), this));
    shapeColours->addWidget(border);
    shapeColours->addStretch();
    form->addRow(QStringLiteral("Фон:"), shapeColours);

    preview = layOutWindow(this, form, PreviewBox, QStringLiteral("Как надпись будет выглядеть"), ok, cancel,
                           [this] { tryAccept(); });
    preview->setFrameShape(QFrame::StyledPanel);

    // Changes gathered within one pass of the event loop draw once.
    m_redraw->setSingleShot(true);
    m_redraw->setInterval(0);
    connect(m_redraw, &QTimer::timeout, this, &frmCaption::showPreview);
    const auto redraw = [this] { m_redraw->start(); };
    connect(letters, &LetteringFields::changed, this, redraw);
    connect(shape, &QComboBox::currentIndexChanged, this, redraw);
    connect(tail, &QComboBox::currentIndexChanged, this, redraw);
    connect(fill, &ColourButton::colourChanged, this, redraw);
    connect(border, &ColourButton::colourChanged, this, redraw);
    showPreview();

    showReady(this, letters);
}

Caption frmCaption::caption() const
{
    Caption c;
    c.lettering = letters->value();
    c.shape = Shape(shape->currentData().toInt());
    c.tail = Tail(tail->currentData().toInt());
    c.fill = fill->colour();
    c.border = border->colour();
    return c;
}

void frmCaption::showPreview()
{
    const Shape s = Shape(shape->currentData().toInt());
    tail->setEnabled(s == Shape::Speech || s == Shape::Thought);
    fill->setEnabled(s != Shape::None);
    border->setEnabled(s != Shape::None);
    preview->setPixmap(onCheckerboard(text::render(caption()), PreviewBox));
}

void frmCaption::tryAccept()
{
    if (hasText(this, m_message, letters->text, QStringLiteral("Введите текст надписи.")))
        accept();
}

bool editCaption(QWidget *parent, const controls::MessageFn &message, Caption &caption)
{
    frmCaption window(message, caption, parent);
    if (window.exec() != QDialog::Accepted)
        return false;
    caption = window.caption();
    return true;
}

} // namespace text
