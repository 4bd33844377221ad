#pragma once

#include <QStyledItemDelegate>

// Draws cells as usual; a cell whose text does not fit its column shows the whole text as its
// tooltip, so a cut time or content can be read without widening the column.
class TCutTextDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The text does not fit the cell as drawn in option's rectangle.
    bool IsCut(const QStyleOptionViewItem &option, const QModelIndex &index) const;

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;
};
