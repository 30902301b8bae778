#include "slides/frmDuration.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include <algorithm>

#include "controls/Button.h"
#include "controls/Fonts.h"
#include "controls/Twips.h"
#include "controls/Widgets.h"
#include "slides/SlideStore.h"

using twips::place;

frmDuration::frmDuration(AppState &state, int start, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_state(state)
{
    setObjectName(QStringLiteral("frmDuration"));
    setWindowTitle(QStringLiteral(" Длительность"));
    setFixedSize(twips::toPixels(4560), twips::toPixels(1500));
    setFont(fonts::msSansSerif());

    Label1 = place(new QLabel(QStringLiteral("Сколько кадров длится каждый выбранный слайд (от 1 до %1):")
                                  .arg(slides::SlideStore::MaxDuration),
                              this),
                   "Label1", 180, 120, 4200, 480);
    Label1->setWordWrap(true);
    Text1 = place(new QLineEdit(QString::number(std::clamp(start, 1, slides::SlideStore::MaxDuration)), this), "Text1",
                  180, 720, 1000, 315);
    // Digits only; the range is checked on accepting, so that a wrong number is told rather than swallowed.
    Text1->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), Text1));
    Text1->setAccessibleName(QStringLiteral("Длительность в кадрах"));
    Text1->setToolTip(QStringLiteral("Число кадров: 1 — обычный слайд, 2 и больше — пауза на этом слайде.\n"
                                     "Стрелки вверх и вниз меняют число на один."));
    Label1->setBuddy(Text1);
    Text1->selectAll();
    Text1->setFocus();

    Command1 = place(new controls::Button(QStringLiteral("ОК"), this), "Command1", 1950, 720, 1185, 315);
    Command1->setDefault(true);
    Command2 = place(new controls::Button(QStringLiteral("Отмена"), this), "Command2", 3195, 720, 1185, 315);
    connect(Command1, &QPushButton::clicked, this, &frmDuration::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &QDialog::reject);

    controls::centreOnScreen(this);
}

void frmDuration::Command1_Click()
{
    bool ok = false;
    const int typed = Text1->text().toInt(&ok);
    if (!ok || typed < 1 || typed > slides::SlideStore::MaxDuration) {
        m_state.message(this, {QStringLiteral("Длительность слайда — от 1 до %1 кадров.")
                                   .arg(slides::SlideStore::MaxDuration),
                               QString(), controls::MsgIcon::Warning, controls::MsgButtons::Ok});
        Text1->selectAll();
        Text1->setFocus();
        return;
    }
    m_frames = typed;
    accept();
}

void frmDuration::keyPressEvent(QKeyEvent *event)
{
    const int step = event->key() == Qt::Key_Up ? 1 : event->key() == Qt::Key_Down ? -1 : 0;
    if (step == 0) {
        QDialog::keyPressEvent(event);
        return;
    }
    const int now = std::clamp(Text1->text().toInt() + step, 1, slides::SlideStore::MaxDuration);
    Text1->setText(QString::number(now));
    Text1->selectAll();
}
