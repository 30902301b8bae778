// Opening the preview player.
#include "app/frmMain.h"

void frmMain::Command8_Click() {}
frmView *frmMain::View() { return m_view; }
