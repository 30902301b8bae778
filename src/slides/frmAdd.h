#pragma once
// The progress window " Добавление слайдов" shown while a saved series is
// read back: a bar and "Отмена". The reading runs on a thread of its own, so
// that the program keeps answering; cancelling leaves the buffer as it was,
// and a program that ends meanwhile does not wait for the reading.

#include <QDialog>

#include <memory>

#include "slides/SeriesReader.h"

class QLabel;
namespace controls {
class Button;
class ProgressBar;
}

class frmAdd : public QDialog {
    Q_OBJECT
public:
    // Starts reading `folder` at once; exec() ends with Accepted when the
    // reading is over and Rejected when it was cancelled.
    frmAdd(const QString &folder, QWidget *parent = nullptr);
    ~frmAdd() override;

    // Waits up to `ms` for the reading to end, keeping the program's
    // windows painted but holding back the user's input until it returns:
    // a small folder is read before any progress window could be seen.
    bool finishedWithin(int ms);

    // What was read, once exec() returned Accepted or finishedWithin() true.
    slides::Series takeSeries();

    QLabel *Label1;                     // "Чтение слайдов…"
    controls::ProgressBar *ProgressBar1;
    controls::Button *Command1;         // "Отмена"

    void Command1_Click();

    struct Shared;

protected:
    void reject() override;

private:
    void poll();
    std::shared_ptr<Shared> m_shared;
};
