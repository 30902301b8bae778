// Recording slides and the slide commands of the main window.
#include "app/frmMain.h"

void frmMain::SaveBuffer() {}
void frmMain::Command2_Click() {}
void frmMain::Command15_Click() {}
void frmMain::Command1_Click() {}
frmBuffer *frmMain::Buffer() { return m_buffer; }
