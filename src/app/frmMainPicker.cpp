// The four buttons that open the asset picker.
#include "app/frmMain.h"

void frmMain::Command3_Click() {}
void frmMain::Command4_Click() {}
void frmMain::Command6_Click() {}
void frmMain::Command12_Click() {}
frmFon *frmMain::Fon() { return m_fon; }
