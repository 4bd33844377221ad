#include "widgets/data_grid.h"

#include <QHeaderView>
#include <QScrollBar>

#include <algorithm>

// Shares the grid's model and selection; edits its own cells, so their editors are not hidden
// under it in the grid beneath.
class TDataGrid::TFrozenView : public QTableView
{
public:
    using QTableView::QTableView;
    using QAbstractItemView::edit;
};

TDataGrid::TDataGrid(QWidget *parent) : QTableView(parent)
{
    // By the pixel, so that a column scrolled partly under the frozen ones can be brought out.
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int, int newWidth) { ColumnResized(column, newWidth); });
}

void TDataGrid::setModel(QAbstractItemModel *model)
{
    QTableView::setModel(model);
    ShareModel();
    if (model) {
        // After the views' own handling of the reset, which connected first.
        connect(model, &QAbstractItemModel::modelReset, this, &TDataGrid::FitColumns);
        FitColumns();
    }
}

void TDataGrid::SetFrozenColumns(int count)
{
    FrozenCount = std::max(0, count);
    if (FrozenCount == 0) {
        delete Frozen;
        Frozen = nullptr;
        return;
    }
    if (!Frozen) {
        Frozen = new TFrozenView(this);
        Frozen->setObjectName(objectName().isEmpty() ? QStringLiteral("FrozenColumns") : objectName() + QStringLiteral("Frozen"));
        Frozen->setFrameShape(QFrame::NoFrame);
        Frozen->verticalHeader()->hide();
        Frozen->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
        Frozen->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        Frozen->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        Frozen->setSelectionBehavior(selectionBehavior());
        Frozen->setSelectionMode(selectionMode());
        Frozen->setEditTriggers(editTriggers());
        Frozen->setTabKeyNavigation(false);
        // The keyboard stays with the grid: a click, or an edit that ends, hands it the focus.
        Frozen->setFocusPolicy(Qt::ClickFocus);
        Frozen->setFocusProxy(this);
        connect(Frozen->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int, int newWidth) {
            if (column < FrozenCount && columnWidth(column) != newWidth)
                setColumnWidth(column, newWidth); // dragged on the frozen heading
        });
        connect(Frozen->verticalScrollBar(), &QScrollBar::valueChanged, verticalScrollBar(), &QScrollBar::setValue);
        connect(verticalScrollBar(), &QScrollBar::valueChanged, Frozen->verticalScrollBar(), &QScrollBar::setValue);
        Frozen->show();
        ShareModel();
    }
    HideUnfrozenColumns();
    PlaceFrozen();
}

void TDataGrid::ShareModel()
{
    if (!Frozen || !model())
        return;
    Frozen->setModel(model());
    QItemSelectionModel *own = Frozen->selectionModel(); // made for it by setModel, used by no other view
    Frozen->setSelectionModel(selectionModel());
    delete own;
    HideUnfrozenColumns();
}

void TDataGrid::SetTextColumns(const QList<int> &columns)
{
    TextColumns = columns;
    FitColumns();
}

QTableView *TDataGrid::FrozenView() const
{
    return Frozen;
}

void TDataGrid::HideUnfrozenColumns()
{
    if (!Frozen || !model())
        return;
    for (int column = 0; column < model()->columnCount(); ++column) {
        Frozen->setColumnHidden(column, column >= FrozenCount);
        if (column < FrozenCount)
            Frozen->setColumnWidth(column, columnWidth(column));
    }
}

void TDataGrid::FitColumns()
{
    if (!model())
        return;
    Fitting = true;
    const int columns = model()->columnCount();
    QList<int> kept;
    for (int column = 0; column < columns; ++column)
        kept << columnWidth(column);
    resizeColumnsToContents();
    const int textWidth = fontMetrics().horizontalAdvance(QString(TextColumnChars, QChar(0x4E2D))) + 8; // 中
    for (int column = 0; column < columns; ++column) {
        if (SizedByHand.contains(column))
            setColumnWidth(column, kept[column]);
        else if (columnWidth(column) > MaxColumnWidth)
            setColumnWidth(column, MaxColumnWidth);
        else if (TextColumns.contains(column) && columnWidth(column) < textWidth)
            setColumnWidth(column, textWidth);
    }
    LastFitted = columns > 0 ? columnWidth(columns - 1) : 0;
    FillLastColumn();
    Fitting = false;
    HideUnfrozenColumns();
    PlaceFrozen();
}

void TDataGrid::FillLastColumn()
{
    const int last = model() ? model()->columnCount() - 1 : -1;
    if (last < 0 || SizedByHand.contains(last))
        return;
    const bool fitting = Fitting;
    Fitting = true;
    const int others = horizontalHeader()->length() - columnWidth(last);
    setColumnWidth(last, std::max(LastFitted, viewport()->width() - others));
    Fitting = fitting;
}

void TDataGrid::ColumnResized(int column, int newWidth)
{
    if (!Fitting) {
        SizedByHand.insert(column);
        FillLastColumn();
    }
    if (Frozen && column < FrozenCount) {
        if (Frozen->columnWidth(column) != newWidth)
            Frozen->setColumnWidth(column, newWidth);
        PlaceFrozen();
    }
}

int TDataGrid::FrozenWidth() const
{
    int width = 0;
    for (int column = 0; column < FrozenCount; ++column)
        width += columnWidth(column);
    return width;
}

void TDataGrid::PlaceFrozen()
{
    if (!Frozen)
        return;
    Frozen->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
    Frozen->horizontalHeader()->setFixedHeight(horizontalHeader()->height());
    const QRect inside = viewport()->geometry();
    Frozen->setGeometry(inside.x(), frameWidth(), std::min(FrozenWidth(), inside.width()),
                        inside.bottom() + 1 - frameWidth());
}

void TDataGrid::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    FillLastColumn();
    PlaceFrozen();
}

void TDataGrid::updateGeometries()
{
    QTableView::updateGeometries();
    PlaceFrozen();
}

void TDataGrid::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!Frozen || !index.isValid()) {
        QTableView::scrollTo(index, hint);
        return;
    }
    QScrollBar *sideways = horizontalScrollBar();
    const int before = sideways->value();
    QTableView::scrollTo(index, hint);
    if (index.column() < FrozenCount) {
        sideways->setValue(before); // always in view: only the rows scroll
        return;
    }
    const int covered = FrozenWidth() - visualRect(index).left();
    if (covered > 0)
        sideways->setValue(sideways->value() - covered);
}

bool TDataGrid::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    if (Frozen && index.isValid() && index.column() < FrozenCount)
        return Frozen->edit(index, trigger, event);
    return QTableView::edit(index, trigger, event);
}
