#pragma once

#include "history/history_query.h"

#include <QDialog>
#include <memory>
#include <optional>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSqlQueryModel;
class QTableView;
class QTableWidget;

// "通知记录": the notification history, newest first, filtered by date range, kind and text or
// number; totals per day; the shown entries exported to .xlsx. The list fetches rows as it is
// scrolled, so it opens at once however long the history.
class THistoryWindow : public QDialog
{
    Q_OBJECT
public:
    THistoryWindow(const QString &historyPath, QWidget *parent = nullptr);
    ~THistoryWindow() override;

    // Reads the history again with the filter as set, and shows the window.
    void Open();
    void ApplyFilter();
    void ShowTotals();
    void ExportClick();
    THistoryQuery::TFilter Filter() const;
    // What the state line says instead of how to read the list, when there is nothing in it.
    static QString ReversedRangeText() { return QStringLiteral("开始日期晚于结束日期：请调整日期范围。"); }
    static QString NothingFoundText() { return QStringLiteral("没有符合条件的记录。"); }

    QDateEdit *FromEdit;
    QDateEdit *ToEdit;
    QComboBox *KindBox;
    QLineEdit *TextEdit;
    QPushButton *TotalsButton;
    QPushButton *ExportButton;
    QTableView *Grid;
    QTableWidget *Totals;
    QLabel *StateLabel;
    QSqlQueryModel *Model;
    // Tests give the export's file name here instead of the file chooser.
    std::optional<QString> NextFileName;
    QString LastMessage;

private:
    THistoryQuery Query;
};
