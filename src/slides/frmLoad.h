#pragma once
// "  Vellumo": tells the user that the slide folder holds old files and
// deletes them with "&Ok". Made for one save and destroyed after it.

#include <QDialog>

#include <functional>

class QLabel;
namespace controls {
class Button;
}

class frmLoad : public QDialog {
    Q_OBJECT
public:
    // What exec() returns. Rejected (close box, Escape) means: do not save.
    enum Result { Cancelled = QDialog::Rejected, Deleted = QDialog::Accepted, DeleteFailed = 2 };

    explicit frmLoad(const QString &folder, QWidget *parent = nullptr);

    QLabel *Label1;             // the old-slides notice, red
    QLabel *Label2;             // "Подтвердите удаление.", blue
    QWidget *Line1[2];          // the etched separator: dark line, light line
    controls::Button *Command1; // "&Ok"

    void Command1_Click();

    // Runs just before the old files go, once the user has said they may.
    std::function<void()> beforeDeleting;

private:
    QString m_folder;
};
