#pragma once
// " Длительность": asks how many frame times the chosen slides last. The
// number is typed (Up and Down step it); Enter accepts it, and a number
// outside 1 to 99 is refused with a message, the window staying open.

#include <QDialog>

#include "app/AppState.h"

class QLabel;
class QLineEdit;
namespace controls {
class Button;
}

class frmDuration : public QDialog {
    Q_OBJECT
public:
    frmDuration(AppState &state, int start, QWidget *parent = nullptr);

    // The frame count accepted; valid once exec() returned Accepted.
    int frames() const { return m_frames; }

    QLabel *Label1;             // what is asked
    QLineEdit *Text1;           // the number
    controls::Button *Command1; // "ОК"
    controls::Button *Command2; // "Отмена"

    void Command1_Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    AppState &m_state;
    int m_frames = 1;
};
