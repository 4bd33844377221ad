#pragma once

#include "history/history_model.h"

#include <QDialog>
#include <memory>
#include <optional>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTableWidget;
class TCutTextDelegate;
class THistory;
class TNoticeDetailDialog;

// "通知记录": the notification history, newest first, filtered by date range, kind and text or
// number; totals per day; the shown entries exported to .xlsx. The list is read a page at a
// time on a thread of its own as it is scrolled, so it opens at once however long the history,
// and takes new entries as they are written while the filter admits them. Totals and export
// follow the filter the list was built with, not fields edited since. A double-click shows
// the entry in the same view as n路详情.
class THistoryWindow : public QDialog
{
    Q_OBJECT
public:
    THistoryWindow(THistory &history, QWidget *parent = nullptr);
    ~THistoryWindow() override;

    // Reads the history again with the filter as set, and shows the window.
    void Open();
    void ApplyFilter();
    void ShowTotals();
    void ExportClick();
    void ShowDetail(const QModelIndex &index);
    // The filter as the fields say now.
    THistoryQuery::TFilter Filter() const;
    // What the state line says instead of how to read the list, when there is nothing in it.
    static QString ReversedRangeText() { return THistoryModel::ReversedRangeText(); }
    static QString NothingFoundText() { return THistoryModel::NothingFoundText(); }

    QDateEdit *FromEdit;
    QDateEdit *ToEdit;
    QComboBox *KindBox;
    QLineEdit *TextEdit;
    QPushButton *TotalsButton;
    QPushButton *ExportButton;
    QTableView *Grid;
    QTableWidget *Totals;
    QLabel *StateLabel;
    THistoryModel *Model;
    TCutTextDelegate *Cells;
    TNoticeDetailDialog *Detail;
    // Tests give the export's file name here instead of the file chooser.
    std::optional<QString> NextFileName;
    // The outcome of the last export, once it has finished.
    QString LastMessage;

private:
    void SizeColumns();

    bool Sized = false;
    TNotice Asked; // the row double-clicked, shown as the list has it if the file no longer does
};
