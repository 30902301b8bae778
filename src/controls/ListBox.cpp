#include "controls/ListBox.h"

#include <QKeyEvent>
#include <QSignalBlocker>

namespace controls {

ListBox::ListBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemSelectionChanged, this, &ListBox::keepChoice);
}

void ListBox::clearChoice()
{
    const QSignalBlocker quiet(this);
    const QSignalBlocker quietModel(selectionModel());
    m_chosen = QPersistentModelIndex();
    clearSelection();
    setCurrentItem(nullptr);
}

QItemSelectionModel::SelectionFlags ListBox::selectionCommand(const QModelIndex &index, const QEvent *event) const
{
    // The toolkit deselects on Ctrl+click or Ctrl+Space and on a press below the
    // entries; a single-choice list box only ever moves its choice.
    if (!index.isValid())
        return QItemSelectionModel::NoUpdate;
    QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return QItemSelectionModel::NoUpdate;
    return command;
}

void ListBox::keepChoice()
{
    if (m_restoring)
        return;
    const QModelIndexList chosen = selectionModel()->selectedIndexes();
    if (!chosen.isEmpty()) {
        if (chosen.first() == m_chosen)
            return;
        m_chosen = chosen.first();
        emit choiceChanged();
        return;
    }
    // Emptied by something other than the program: choose the entry again,
    // quietly, since to the user nothing has changed.
    if (!m_chosen.isValid())
        return;
    m_restoring = true;
    {
        const QSignalBlocker quiet(this);
        selectionModel()->setCurrentIndex(m_chosen, QItemSelectionModel::ClearAndSelect);
    }
    m_restoring = false;
}

void ListBox::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !(event->modifiers() & ~Qt::KeypadModifier) && currentItem())
        emit entered(currentItem());
    QListWidget::keyPressEvent(event);
}

} // namespace controls
