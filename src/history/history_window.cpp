#include "history/history_window.h"

#include "history/history.h"
#include "history/notice_detail_dialog.h"
#include "sheets/sheet_writer.h"
#include "store/sql_engine.h"
#include "widgets/cut_text_delegate.h"
#include "widgets/messages.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
// Columns whose every text is a full time: always wide enough for one.
constexpr int ReceivedColumn = 0;
constexpr int SentColumn = 8;
// A column sized to a long content or number list stops here; the tooltip shows the rest.
constexpr int MaxColumnWidth = 360;
} // namespace

THistoryWindow::THistoryWindow(THistory &history, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("通知记录"));
    resize(1200, 640);

    FromEdit = new QDateEdit(QDate::currentDate().addDays(-30), this);
    ToEdit = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit *edit : {FromEdit, ToEdit}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    KindBox = new QComboBox(this);
    KindBox->addItem(QStringLiteral("全部类型"));
    KindBox->addItems(THistoryQuery::Kinds());
    TextEdit = new QLineEdit(this);
    TextEdit->setPlaceholderText(QStringLiteral("号码或文字"));
    TextEdit->setClearButtonEnabled(true);
    auto *find = new QPushButton(QStringLiteral("查询"), this);
    TotalsButton = new QPushButton(QStringLiteral("每日合计"), this);
    ExportButton = new QPushButton(QStringLiteral("导出"), this);
    for (QPushButton *b : {find, TotalsButton, ExportButton})
        b->setAutoDefault(false);
    find->setDefault(true); // Enter in the text field looks

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("日期从"), this));
    bar->addWidget(FromEdit);
    bar->addWidget(new QLabel(QStringLiteral("到"), this));
    bar->addWidget(ToEdit);
    bar->addWidget(KindBox);
    bar->addWidget(TextEdit, 1);
    bar->addWidget(find);
    bar->addWidget(TotalsButton);
    bar->addWidget(ExportButton);

    Model = new THistoryModel(history.Where(), this);
    Grid = new QTableView(this);
    Grid->setModel(Model);
    Cells = new TCutTextDelegate(Grid);
    Grid->setItemDelegate(Cells);
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid->verticalHeader()->hide();
    Grid->verticalHeader()->setDefaultSectionSize(22);
    Grid->setTabKeyNavigation(false);
    Totals = new QTableWidget(0, 2, this);
    Totals->setHorizontalHeaderLabels({QStringLiteral("日期"), QStringLiteral("条数")});
    Totals->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Totals->verticalHeader()->hide();
    Totals->setFixedWidth(200);
    StateLabel = new QLabel(this);
    Detail = new TNoticeDetailDialog(history, this);

    auto *middle = new QHBoxLayout;
    middle->addWidget(Grid, 1);
    middle->addWidget(Totals);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addLayout(middle, 1);
    layout->addWidget(StateLabel);

    connect(find, &QPushButton::clicked, this, &THistoryWindow::ApplyFilter);
    connect(TextEdit, &QLineEdit::returnPressed, this, &THistoryWindow::ApplyFilter);
    connect(KindBox, &QComboBox::currentIndexChanged, this, &THistoryWindow::ApplyFilter);
    connect(TotalsButton, &QPushButton::clicked, this, &THistoryWindow::ShowTotals);
    connect(ExportButton, &QPushButton::clicked, this, &THistoryWindow::ExportClick);
    connect(Grid, &QTableView::doubleClicked, this, &THistoryWindow::ShowDetail);

    connect(&history, &THistory::Written, Model, &THistoryModel::Take);
    const auto showState = [this] { StateLabel->setText(Model->StateText()); };
    connect(Model, &THistoryModel::PageArrived, this, [this, showState] {
        showState();
        if (!Sized) {
            Sized = true;
            SizeColumns();
        }
    });
    connect(Model, &QAbstractItemModel::rowsInserted, this, showState);
    connect(Model, &QAbstractItemModel::modelReset, this, showState);
    connect(Model, &THistoryModel::TotalsRead, this, [this](const QList<QPair<QString, int>> &totals, const QString &why) {
        Totals->setRowCount(int(totals.size()));
        for (int row = 0; row < totals.size(); ++row) {
            Totals->setItem(row, 0, new QTableWidgetItem(totals[row].first));
            Totals->setItem(row, 1, new QTableWidgetItem(QString::number(totals[row].second)));
        }
        if (!why.isEmpty())
            StateLabel->setText(TSqlEngine::WithReason(QStringLiteral("每日合计无法读取"), why));
    });
    connect(Model, &THistoryModel::Exported, this, [this](const QString &path, const QString &error) {
        ExportButton->setEnabled(true);
        LastMessage = error.isEmpty() ? QStringLiteral("通知记录已导出到 %1").arg(path) : QStringLiteral("导出失败: ") + error;
        OpenMessage(this, error.isEmpty() ? QMessageBox::Information : QMessageBox::Warning, QStringLiteral("提示信息"), LastMessage);
    });
    connect(Model, &THistoryModel::EntryRead, this, [this](const TNotice &entry, bool found) {
        if (entry.Id == Asked.Id || !found)
            Detail->ShowEntry(found ? entry : Asked);
    });
}

THistoryWindow::~THistoryWindow() = default;

THistoryQuery::TFilter THistoryWindow::Filter() const
{
    return {FromEdit->date(), ToEdit->date(), KindBox->currentIndex() > 0 ? KindBox->currentText() : QString(),
            TextEdit->text()};
}

void THistoryWindow::Open()
{
    ToEdit->setDate(std::max(ToEdit->date(), QDate::currentDate()));
    ApplyFilter();
    Grid->horizontalScrollBar()->setValue(0); // each opening starts at 收到时间
    show();
    raise();
    activateWindow();
}

void THistoryWindow::ApplyFilter()
{
    Sized = false;
    Model->Show(Filter());
    Totals->setRowCount(0);
}

void THistoryWindow::SizeColumns()
{
    Grid->resizeColumnsToContents();
    const int margin = 2 * (Grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, Grid) + 1) + 8;
    const int timeWidth = Grid->fontMetrics().horizontalAdvance(TNotice::TimeText(QDateTime(QDate(2000, 12, 28), QTime(20, 58, 58, 888))))
        + margin;
    for (int column = 0; column < Model->columnCount(); ++column) {
        if (column == ReceivedColumn || column == SentColumn)
            Grid->setColumnWidth(column, std::max(Grid->columnWidth(column), timeWidth));
        else if (Grid->columnWidth(column) > MaxColumnWidth)
            Grid->setColumnWidth(column, MaxColumnWidth);
    }
}

void THistoryWindow::ShowTotals()
{
    Model->ReadTotals();
}

void THistoryWindow::ExportClick()
{
    QString path = AskExportFile(
        this, NextFileName, QStringLiteral("导出通知记录"),
        QStringLiteral("通知记录-%1.xlsx").arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
    if (path.isEmpty())
        return;
    LastMessage.clear();
    ExportButton->setEnabled(false); // one export at a time; it ends with a message
    Model->Export(TSheetWriter::WithExtension(path));
}

void THistoryWindow::ShowDetail(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    Asked = Model->EntryAt(index.row());
    Model->ReadEntry(Asked.Id);
}
