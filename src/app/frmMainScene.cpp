// The object list: selecting an entry, deleting an object, deleting the background.
#include "app/frmMain.h"

void frmMain::List1_Click() {}
void frmMain::Command5_Click() {}
void frmMain::Command9_Click() {}
