#pragma once
// Every message box of the program goes through one seam, so that tests can
// answer them and check their texts without a person clicking.

#include <QString>

#include <functional>

class QWidget;

namespace controls {

enum class MsgIcon { None, Information, Warning, Error, Question };
// YesNo: "Да" is the default. OkOpenFolder: "ОК" (the default) and
// "Открыть папку", after a file was written.
enum class MsgButtons { Ok, OkCancel, YesNo, OkOpenFolder, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No, OpenFolder };

struct Message {
    QString text;
    QString title;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
};

using MessageFn = std::function<MsgResult(QWidget *parent, const Message &message)>;

// Shows a modal message box and waits for the answer.
MsgResult showMessageBox(QWidget *parent, const Message &message);

} // namespace controls
