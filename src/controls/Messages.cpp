#include "controls/Messages.h"

#include <QMessageBox>

namespace controls {

MsgResult showMessageBox(QWidget *parent, const Message &message)
{
    QMessageBox box(parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    // An empty title would be replaced by the program's name on X11; a space shows as empty.
    box.setWindowTitle(message.title.isEmpty() ? QStringLiteral(" ") : message.title);
    box.setText(message.text);
    switch (message.icon) {
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    if (message.buttons == MsgButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? MsgResult::Ok : MsgResult::Cancel;
}

} // namespace controls
