#pragma once

#include <QAbstractItemDelegate>
#include <QAbstractItemView>
#include <QPersistentModelIndex>

namespace zyl {

/// A list or table whose cells of one column are typed into in place, a row after another.
///
/// Left to themselves, the toolkit's views start some edits through their public edit slot,
/// which writes a warning on standard error when the cell it is handed is gone: a click on a
/// selected cell edits, a double-click interval later, whichever cell is current by then, and
/// Tab edits the next cell whatever it has become. Here both go through the checked edit:
/// the click opens the editor at once (keys typed right after it are no longer taken for a
/// search of the list), and Tab and Backtab go to the same column of the next or previous
/// row, the only cells that are typed into, when they can be edited.
template <class View>
class InPlaceEditing : public View {
  public:
    using View::View;

  protected:
    bool edit(const QModelIndex& index, QAbstractItemView::EditTrigger trigger,
              QEvent* event) override
    {
        if (trigger == QAbstractItemView::SelectedClicked &&
            (this->editTriggers() & QAbstractItemView::SelectedClicked))
            return View::edit(index, QAbstractItemView::AllEditTriggers, nullptr);
        return View::edit(index, trigger, event);
    }

    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override
    {
        const bool next = hint == QAbstractItemDelegate::EditNextItem;
        if (!next && hint != QAbstractItemDelegate::EditPreviousItem) {
            View::closeEditor(editor, hint);
            return;
        }
        // Held across the closing, which commits the value and may change the model.
        const QPersistentModelIndex from = this->currentIndex();
        View::closeEditor(editor, QAbstractItemDelegate::NoHint);
        if (!from.isValid())
            return;
        const QModelIndex to = from.sibling(from.row() + (next ? 1 : -1), from.column());
        if (!to.isValid() || !(to.flags() & Qt::ItemIsEditable))
            return;
        this->setCurrentIndex(to);
        View::edit(to, QAbstractItemView::AllEditTriggers, nullptr);
    }
};

} // namespace zyl
