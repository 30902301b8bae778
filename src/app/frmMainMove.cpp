// Panning the background, moving and sizing the selected character, dragging props.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

#include <cmath>

#include "app/frmMain.h"
#include "controls/Events.h"
#include "controls/NumberFormat.h"
#include "controls/Twips.h"

void frmMain::Combo1_Click()
{
    const int step = Combo1->currentText().toInt();
    UpDown5->setIncrement(step);
    UpDown3->setIncrement(step);
}

void frmMain::afterMove()
{
    // The order matters: the slide must show the moved character on its new frame.
    if (Check1->isChecked())
        DoPicture();
    controls::doEvents();
    if (Check2->isChecked())
        SaveBuffer();
}

void frmMain::UpDown3_Change()
{
    const int x = UpDown3->value();
    twips::move(Picture3, x, twips::top(Picture3));
    Label2->setText(numfmt::pos4(x));
    afterMove();
}

void frmMain::UpDown4_Change()
{
    // Vertical panning neither steps frames nor records.
    twips::move(Picture3, twips::left(Picture3), UpDown4->value());
}

void frmMain::UpDown5_Change()
{
    if (anigif::AniGif *c = selectedCharacter())
        twips::move(c, UpDown5->value(), twips::top(c));
    controls::doEvents();
    showCharacterX();
    controls::doEvents();
    afterMove();
}

void frmMain::showCharacterX()
{
    const QString x = numfmt::pos4(UpDown5->value());
    Label4->setText(x);
    if (QLabel *l = Label1.at(6))
        l->setText(QStringLiteral("X = ") + x);
}

void frmMain::UpDown6_Change()
{
    // The control counts upwards, the screen's Y axis downwards.
    if (anigif::AniGif *c = selectedCharacter())
        twips::move(c, twips::left(c), -UpDown6->value());
    controls::doEvents();
    showCharacterY();
    controls::doEvents();
    afterMove();
}

void frmMain::showCharacterY()
{
    Label9->setText(QStringLiteral("Y = ") + numfmt::pos4(UpDown6->value()));
}

void frmMain::UpDown7_DownClick()
{
    anigif::AniGif *c = selectedCharacter();
    if (!c)
        return;
    QRectF r = twips::geometry(c);
    // Never narrower than 500 twips.
    if (r.width() - 500 < 500)
        return;
    c->setAutoSize(false);
    c->setSizeMode(2);
    r.setWidth(r.width() - 500);
    // A height that would go negative stays; the other steps still run.
    if (r.height() - 500 >= 0)
        r.setHeight(r.height() - 500);
    // Shifts of 220 and 350, not half the size change; grow shifts back by the same.
    r.moveTo(r.left() + 220, r.top() + 350);
    twips::setGeometry(c, r);
}

void frmMain::UpDown7_UpClick()
{
    anigif::AniGif *c = selectedCharacter();
    if (!c)
        return;
    c->setAutoSize(false);
    c->setSizeMode(2);
    QRectF r = twips::geometry(c);
    r = QRectF(r.left() - 220, r.top() - 350, r.width() + 500, r.height() + 500);
    twips::setGeometry(c, r);
}

void frmMain::Image1_MouseDown(int, Qt::MouseButton button, Qt::MouseButtons buttons, Qt::KeyboardModifiers,
                               double x, double y)
{
    if (button != Qt::LeftButton || buttons != Qt::LeftButton)
        return;
    GrabX = int(std::lround(x));
    GrabY = int(std::lround(y));
}

void frmMain::Image1_MouseMove(int index, Qt::MouseButtons buttons, Qt::KeyboardModifiers, double x, double y)
{
    controls::ImageControl *prop = Image1.at(index);
    if (!prop || buttons != Qt::LeftButton)
        return;
    // The grabbed point stays under the pointer; no limit keeps the prop on the stage.
    twips::move(prop, twips::left(prop) + x - GrabX, twips::top(prop) + y - GrabY);
}
