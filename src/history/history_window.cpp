#include "history/history_window.h"

#include "directory/sheet_export.h"
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
#include <QSqlError>
#include <QSqlQueryModel>
#include <QStandardPaths>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

THistoryWindow::THistoryWindow(const QString &historyPath, QWidget *parent) : QDialog(parent), Query(historyPath)
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

    Model = new QSqlQueryModel(this);
    Grid = new QTableView(this);
    Grid->setModel(Model);
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
}

THistoryWindow::~THistoryWindow()
{
    Model->clear(); // before the query's connection goes
}

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
    QString why;
    if (!Query.Open(&why)) {
        Model->clear();
        StateLabel->setText(QStringLiteral("通知记录无法读取: ") + why);
        return;
    }
    Model->setQuery(Query.Entries(Filter()));
    const QStringList headings = THistoryQuery::Headings();
    for (int c = 0; c < headings.size(); ++c)
        Model->setHeaderData(c, Qt::Horizontal, headings[c]);
    const THistoryQuery::TFilter filter = Filter();
    if (Model->lastError().isValid())
        StateLabel->setText(QStringLiteral("通知记录无法读取: ") + Model->lastError().text());
    else if (filter.From.isValid() && filter.To.isValid() && filter.From > filter.To)
        StateLabel->setText(ReversedRangeText());
    else if (Model->rowCount() == 0)
        StateLabel->setText(NothingFoundText());
    else
        StateLabel->setText(QStringLiteral("最新的在最上面；向下滚动读取更多。"));
    Totals->setRowCount(0);
}

void THistoryWindow::ShowTotals()
{
    const auto totals = Query.TotalsPerDay(Filter());
    Totals->setRowCount(int(totals.size()));
    for (int row = 0; row < totals.size(); ++row) {
        Totals->setItem(row, 0, new QTableWidgetItem(totals[row].first));
        Totals->setItem(row, 1, new QTableWidgetItem(QString::number(totals[row].second)));
    }
}

void THistoryWindow::ExportClick()
{
    QString path = AskExportFile(
        this, NextFileName, QStringLiteral("导出通知记录"),
        QStringLiteral("通知记录-%1.xlsx").arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
    if (path.isEmpty())
        return;
    path = TSheetExport::WithExtension(path);
    const QString error = Query.Export(Filter(), path);
    LastMessage = error.isEmpty() ? QStringLiteral("通知记录已导出到 %1").arg(path) : QStringLiteral("导出失败: ") + error;
    OpenMessage(this, error.isEmpty() ? QMessageBox::Information : QMessageBox::Warning, QStringLiteral("提示信息"), LastMessage);
}
