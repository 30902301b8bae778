#include "controls/Messages.h"

#include <QMessageBox>
#include <QPushButton>

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
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    // The buttons speak the interface's language, as the system's own boxes do on a Russian desktop.
    if (message.buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
        box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
    }
    if (message.buttons == MsgButtons::YesNoCancel) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
        box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("Отмена"));
        box.setDefaultButton(QMessageBox::Yes);
        // Escape and the close box keep everything as it is.
        box.setEscapeButton(QMessageBox::Cancel);
        const int answer = box.exec();
        return answer == QMessageBox::Yes ? MsgResult::Yes : answer == QMessageBox::No ? MsgResult::No : MsgResult::Cancel;
    }
    if (message.buttons == MsgButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("Отмена"));
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    QPushButton *openFolder = nullptr;
    if (message.buttons == MsgButtons::OkOpenFolder) {
        openFolder = box.addButton(QStringLiteral("Открыть папку"), QMessageBox::ActionRole);
        openFolder->setObjectName(QStringLiteral("OpenFolder"));
        box.setEscapeButton(QMessageBox::Ok);
    }
    box.button(QMessageBox::Ok)->setText(QStringLiteral("ОК"));
    box.setDefaultButton(QMessageBox::Ok);
    const int answer = box.exec();
    if (openFolder && box.clickedButton() == openFolder)
        return MsgResult::OpenFolder;
    return answer == QMessageBox::Ok ? MsgResult::Ok : MsgResult::Cancel;
}

} // namespace controls
