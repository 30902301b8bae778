// The exit button and its warning about unsaved slides.
#include "app/frmMain.h"

void frmMain::Command14_Click() { m_state.endProgram(); }
