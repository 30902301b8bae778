// Panning the background, moving and sizing the selected character, dragging props.
#include <QComboBox>

#include "app/frmMain.h"

void frmMain::Combo1_Click()
{
    const int step = Combo1->currentText().toInt();
    UpDown5->setIncrement(step);
    UpDown3->setIncrement(step);
}

void frmMain::UpDown3_Change() {}
void frmMain::UpDown4_Change() {}
void frmMain::UpDown5_Change() {}
void frmMain::UpDown6_Change() {}
void frmMain::UpDown7_UpClick() {}
void frmMain::UpDown7_DownClick() {}
void frmMain::Image1_MouseDown(int, Qt::MouseButton, Qt::MouseButtons, Qt::KeyboardModifiers, double, double) {}
void frmMain::Image1_MouseMove(int, Qt::MouseButtons, Qt::KeyboardModifiers, double, double) {}
