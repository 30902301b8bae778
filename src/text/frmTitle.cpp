#include "text/frmTitle.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

#include "controls/Fonts.h"
#include "text/Fields.h"

namespace text {

namespace {
constexpr QSize PreviewBox(300, 260);
}

frmTitle::frmTitle(const controls::MessageFn &message, const TitleCard &start, QSize stage, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_message(message), m_stage(stage.expandedTo(QSize(1, 1))), m_redraw(new QTimer(this))
{
    setObjectName(QStringLiteral("frmTitle"));
    setWindowTitle(QStringLiteral("Титр"));
    setFont(fonts::msSansSerif());

    auto *form = new QFormLayout;
    letters = new LetteringFields(this, form, start.lettering);
    top = new ColourButton("top", QStringLiteral("Цвет фона вверху"), this);
    top->setColour(start.top);
    bottom = new ColourButton("bottom", QStringLiteral("Цвет фона внизу"), this);
    bottom->setColour(start.bottom);
    auto *background = new QHBoxLayout;
    background->addWidget(new QLabel(QStringLiteral("вверху"), this));
    background->addWidget(top);
    background->addSpacing(12);
    background->addWidget(new QLabel(QStringLiteral("внизу"), this));
    background->addWidget(bottom);
    background->addStretch();
    form->addRow(QStringLiteral("Фон:"), background);
    auto *hint = new QLabel(QStringLiteral("Два разных цвета дают плавный переход сверху вниз."), this);
    hint->setWordWrap(true);
    form->addRow(QString(), hint);

    preview = layOutWindow(this, form, PreviewBox, QStringLiteral("Как титр будет выглядеть"), ok, cancel,
                           [this] { tryAccept(); });
    preview->setAlignment(Qt::AlignCenter);

    m_redraw->setSingleShot(true);
    m_redraw->setInterval(0);
    connect(m_redraw, &QTimer::timeout, this, &frmTitle::showPreview);
    const auto redraw = [this] { m_redraw->start(); };
    connect(letters, &LetteringFields::changed, this, redraw);
    connect(top, &ColourButton::colourChanged, this, redraw);
    connect(bottom, &ColourButton::colourChanged, this, redraw);
    showPreview();

    showReady(this, letters);
}

TitleCard frmTitle::card() const
{
    TitleCard t;
    t.lettering = letters->value();
    t.top = top->colour();
    t.bottom = bottom->colour();
    return t;
}

// The whole stage drawn at its size and shrunk, so that the letters sit as they will on the stage.
void frmTitle::showPreview()
{
    const QImage stage = text::render(card(), m_stage);
    const QSize fit = m_stage.scaled(PreviewBox, Qt::KeepAspectRatio);
    preview->setPixmap(QPixmap::fromImage(stage.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
}

void frmTitle::tryAccept()
{
    if (hasText(this, m_message, letters->text, QStringLiteral("Введите текст титра.")))
        accept();
}

bool editTitleCard(QWidget *parent, const controls::MessageFn &message, TitleCard &card, QSize stage)
{
    frmTitle window(message, card, stage, parent);
    if (window.exec() != QDialog::Accepted)
        return false;
    card = window.card();
    return true;
}

} // namespace text
