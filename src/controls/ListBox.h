#pragma once
// A single-choice list box: once an entry is chosen, one entry stays chosen.
// A click below the entries, Ctrl+click or Ctrl+Space on the chosen entry,
// or anything else that would empty the choice leaves it as it was; only the
// program itself clears it, with clearChoice().

#include <QListWidget>

namespace controls {

class ListBox : public QListWidget {
    Q_OBJECT
public:
    explicit ListBox(QWidget *parent = nullptr);

    // Leaves no entry chosen and none current, without any signal.
    void clearChoice();

signals:
    // Another entry has been chosen, by the user or the program.
    void choiceChanged();
    // Enter or Return on the current entry. Unlike the list's activation, a click never sends it, whatever
    // the desktop's setting for opening things with one click.
    void entered(QListWidgetItem *item);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event = nullptr) const override;

private:
    void keepChoice();

    QPersistentModelIndex m_chosen;
    bool m_restoring = false;
};

} // namespace controls
