// Running and stepping the selected character's animation.
#include "app/frmMain.h"

void frmMain::DoPicture() {}
void frmMain::Command7_Click() {}
void frmMain::Command11_Click() {}
void frmMain::AniGIF1_FrameChanged(int) {}
