#pragma once
// The program minimises and comes back as a whole. A modal window minimised
// alone would leave its owner on the screen, unable to take a click, and on a
// desktop without a task bar nothing to bring the modal window back: so a
// modal window that is minimised takes the main window with it, and the main
// window coming back brings every minimised modal window back on top of it.

#include <QObject>

class QWidget;

namespace controls {

class MinimiseTogether : public QObject {
    Q_OBJECT
public:
    // Watches every window of the application on behalf of `main`, and lives as long as it.
    explicit MinimiseTogether(QWidget *main);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_main;
};

} // namespace controls
