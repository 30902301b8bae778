#pragma once
// The progress window " Восстановление слайдов", shown at start while a large
// journal left by a run that ended without saving is read back: a line and a
// bar. Reading a small journal is over before it could be seen, so it shows
// only once reading has taken a moment.

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
namespace controls {
class ProgressBar;
}

class frmRecover : public QDialog {
    Q_OBJECT
public:
    explicit frmRecover(QWidget *parent = nullptr);

    QLabel *Label1;                      // "Чтение несохранённых слайдов…"
    controls::ProgressBar *ProgressBar1;

    // `done` of `total` bytes read: the window shows once 0.3 s have passed, and is painted
    // before this returns. The user's input waits until the reading is over.
    void report(qint64 done, qint64 total);

public slots:
    // The reading cannot be stopped half-way: what it has replayed is the buffer.
    void reject() override {}

private:
    QElapsedTimer m_since;
};
