#pragma once

#include <QSet>
#include <QTableView>

// A grid whose columns are as wide as their heading and values (up to MaxColumnWidth), fitted
// again whenever the model is reset, except columns the operator has sized by hand; the last
// column takes what room is left. Its first columns may be frozen: they stay in view while the
// others scroll sideways beneath them.
class TDataGrid : public QTableView
{
    Q_OBJECT
public:
    static constexpr int MaxColumnWidth = 320;

    explicit TDataGrid(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;

    // Columns of free text (names, places): never narrower than TextColumnChars characters, so
    // that what is typed into an empty one can be seen.
    static constexpr int TextColumnChars = 8;
    void SetTextColumns(const QList<int> &columns);
    // Keeps the first count columns in view; 0 lets every column scroll.
    void SetFrozenColumns(int count);
    // The view that shows the frozen columns over the grid's left edge; null while none are.
    QTableView *FrozenView() const;
    void FitColumns();

protected:
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void updateGeometries() override;

private:
    class TFrozenView;

    void ShareModel();
    int FrozenWidth() const;
    void PlaceFrozen();
    void HideUnfrozenColumns();
    void ColumnResized(int column, int newWidth);
    // The last column as wide as it needs, or as the room the others leave.
    void FillLastColumn();

    TFrozenView *Frozen = nullptr;
    int FrozenCount = 0;
    bool Fitting = false;
    int LastFitted = 0;
    QSet<int> SizedByHand;
    QList<int> TextColumns;
};
