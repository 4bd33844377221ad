#include "widgets/cut_text_delegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

bool TCutTextDelegate::IsCut(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem o = option;
    initStyleOption(&o, index);
    if (o.text.isEmpty())
        return false;
    const QStyle *style = o.widget ? o.widget->style() : QApplication::style();
    const QRect room = style->subElementRect(QStyle::SE_ItemViewItemText, &o, o.widget);
    // The style leaves a margin inside the text rectangle on each side.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, o.widget) + 1;
    return o.fontMetrics.horizontalAdvance(o.text) > room.width() - 2 * margin;
}

bool TCutTextDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                 const QModelIndex &index)
{
    if (event && event->type() == QEvent::ToolTip && index.isValid() && !index.data(Qt::ToolTipRole).isValid()) {
        if (IsCut(option, index)) {
            QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view->viewport(),
                               view->visualRect(index));
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
