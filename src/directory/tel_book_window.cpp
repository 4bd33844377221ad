#include "directory/tel_book_window.h"

#include "directory/import_window.h"
#include "directory/init_dialogs.h"
#include "directory/keyless_dialog.h"
#include "directory/sheet_export.h"
#include "directory/live_query_model.h"
#include "directory/directory_store.h"
#include "directory/tel_book.h"
#include "widgets/exit_dialog.h"
#include "widgets/messages.h"

#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLocale>
#include <QStandardPaths>
#include <QUrl>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

TTelBookForm::TTelBookForm(TTelBook &book, TNumberImport &import, TExitForm &confirm, QWidget *parent)
    : QDialog(parent), Book(book), Confirm(confirm)
{
    setObjectName(QStringLiteral("TTelBookForm"));
    setWindowTitle(QStringLiteral("电话号码"));
    setFixedSize(1310, 690);
    TelModel = new TLiveQueryModel(book.Query, TTelBook::TelNumberColumns(), TTelBook::TelNumberTitles(), this);
    const QStringList groupColumns{"sequence", "GroupNum", "GroupName", "GroupMembers", "GroupMsg"};
    QStringList groupTitles;
    for (const QString &column : groupColumns)
        groupTitles << TDM::Caption(column);
    GroupModel = new TLiveQueryModel(book.GroupQuery, groupColumns, groupTitles, this);
    inituserfrm = new Tinituserfrm(this);
    InitGroupFrom = new TInitGroupFrom(this);
    FrloadNo = new TFrloadNo(import, this);
    KeylessDialog = new TKeylessDialog(this);

    const auto bar = [this](const QStringList &captions, QLabel *&count, const QString &countCaption) {
        auto *row = new QHBoxLayout;
        for (const QString &caption : captions) {
            auto *button = new QPushButton(caption, this);
            button->setObjectName(caption);
            // No default button: Enter belongs to the grids (a default 导入 opened on every Enter).
            button->setAutoDefault(false);
            row->addWidget(button);
        }
        row->addSpacing(20);
        row->addWidget(new QLabel(countCaption, this));
        count = new QLabel(this);
        row->addWidget(count);
        row->addStretch();
        return row;
    };
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar({"导入", "全部", "初始化", "删除", "全删", "导出", "无键位分机", "退出"}, TelCountLabel,
                          QStringLiteral("记录总数:")));
    TelDBGrid = MakeGrid(TelModel);
    TelDBGrid->setObjectName(QStringLiteral("TelDBGrid"));
    // 序号 and 分机号码 say which extension a row is: they stay while 状态 and 备注 are scrolled to.
    TelDBGrid->SetFrozenColumns(2);
    TelDBGrid->SetTextColumns({2, 3}); // 分机名称, 安装地址
    layout->addWidget(TelDBGrid, 1);
    layout->addLayout(bar({"全部组", "组内分机", "初始化组", "刷新组内用户数", "删除组", "全删组"}, GroupCountLabel,
                          QStringLiteral("分组总数:")));
    GroupDBGrid = MakeGrid(GroupModel);
    GroupDBGrid->setObjectName(QStringLiteral("GroupDBGrid"));
    GroupDBGrid->SetTextColumns({2}); // 分组名称
    GroupDBGrid->setFixedHeight(201);
    layout->addWidget(GroupDBGrid);

    connect(Button(QStringLiteral("导入")), &QPushButton::clicked, this, &TTelBookForm::ImportClick);
    connect(Button(QStringLiteral("导出")), &QPushButton::clicked, this, &TTelBookForm::ExportClick);
    connect(Button(QStringLiteral("全部")), &QPushButton::clicked, this, [this] { ShowError(Book.ShowAll()); });
    connect(Button(QStringLiteral("初始化")), &QPushButton::clicked, this, [this] { InitClick(false); });
    connect(Button(QStringLiteral("删除")), &QPushButton::clicked, this, [this] {
        if (MarkRow(TelDBGrid, TelModel) && Ask(QStringLiteral("是否删除当前记录？")))
            ShowError(Book.DeleteCurrent());
    });
    connect(Button(QStringLiteral("全删")), &QPushButton::clicked, this, [this] {
        if (Ask(AllRowsQuestion()))
            ShowError(Book.DeleteAll());
    });
    connect(Button(QStringLiteral("退出")), &QPushButton::clicked, this, &TTelBookForm::CloseWindow);
    connect(Button(QStringLiteral("无键位分机")), &QPushButton::clicked, this, &TTelBookForm::ListWithoutKey);
    connect(Button(QStringLiteral("全部组")), &QPushButton::clicked, this, [this] { Book.ShowAllGroups(); });
    connect(Button(QStringLiteral("组内分机")), &QPushButton::clicked, this, [this] {
        if (PostEdits() && MarkRow(GroupDBGrid, GroupModel))
            Book.ShowMembers();
    });
    connect(Button(QStringLiteral("初始化组")), &QPushButton::clicked, this, [this] { InitClick(true); });
    connect(Button(QStringLiteral("刷新组内用户数")), &QPushButton::clicked, this, [this] {
        if (PostEdits())
            ShowError(Book.RecountMembers());
    });
    connect(Button(QStringLiteral("删除组")), &QPushButton::clicked, this, [this] {
        if (MarkRow(GroupDBGrid, GroupModel) && Ask(QStringLiteral("是否删除当前记录？")))
            ShowError(Book.DeleteGroup());
    });
    connect(Button(QStringLiteral("全删组")), &QPushButton::clicked, this, [this] {
        if (Ask(AllRowsQuestion()))
            ShowError(Book.DeleteAllGroups());
    });
    connect(&book, &TTelBook::Changed, this, &TTelBookForm::ShowState);
    for (TLiveQueryModel *model : {TelModel, GroupModel})
        connect(model, &TLiveQueryModel::PostFailed, this, &TTelBookForm::ShowError);

    IdleTimer = new QTimer(this);
    IdleTimer->setInterval(1000);
    connect(IdleTimer, &QTimer::timeout, this, &TTelBookForm::IdleTimerTick);
}

TDataGrid *TTelBookForm::MakeGrid(TLiveQueryModel *model)
{
    auto *grid = new TDataGrid(this);
    grid->setModel(model);
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->setTabKeyNavigation(false); // Tab leaves the grid, so the group half can be reached
    grid->verticalHeader()->setDefaultSectionSize(22);
    // Leaving a row writes it; a refused row keeps the cursor so the operator can mend it.
    connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [grid, model](const QModelIndex &current, const QModelIndex &previous) {
                if (!current.isValid() || current.row() == previous.row())
                    return;
                // Back to a refused row only while it still waits to be mended.
                if (!model->SetCurrentRow(current.row()) && previous.isValid() && model->Pending())
                    QTimer::singleShot(0, grid, [grid, previous] { grid->setCurrentIndex(previous); });
            });
    grid->installEventFilter(this);
    return grid;
}

bool TTelBookForm::MarkRow(QTableView *grid, TLiveQueryModel *model)
{
    // The row acted on is the one the operator sees marked, never a cursor left by a reload.
    const QModelIndex current = grid->currentIndex();
    if (!current.isValid() || !grid->selectionModel()->isSelected(current)) {
        ShowError(NoMarkedRowText(grid == GroupDBGrid));
        return false;
    }
    return model->SetCurrentRow(current.row());
}

void TTelBookForm::SetKeyCheck(std::function<bool(int number)> hasKey, std::function<int()> keyboard)
{
    HasKey = std::move(hasKey);
    Keyboard = std::move(keyboard);
    TelModel->RowWarning = [this](const std::function<QVariant(const QString &)> &value) {
        const QVariant number = value(QStringLiteral("TelNum"));
        return HasKey && !number.isNull() && !HasKey(number.toInt()) ? NoKeyWarning() : QString();
    };
}

void TTelBookForm::ListWithoutKey()
{
    if (!HasKey || !Keyboard)
        return;
    QString error;
    const QStringList keyless = Book.WithoutKey(HasKey, &error);
    if (!error.isEmpty()) {
        ShowError(error);
        return;
    }
    KeylessDialog->Show(Keyboard(), keyless);
}

QPushButton *TTelBookForm::Button(const QString &caption) const
{
    return findChild<QPushButton *>(caption);
}

void TTelBookForm::Open()
{
    Book.Open();
    // Each opening starts at the left, where 序号 and 分机号码 are.
    for (QTableView *grid : {TelDBGrid, GroupDBGrid})
        grid->horizontalScrollBar()->setValue(0);
    IdleTimer->start();
    qApp->installEventFilter(this);
    exec();
    qApp->removeEventFilter(this);
    IdleTimer->stop();
}

void TTelBookForm::ShowState()
{
    setWindowTitle(Book.Title);
    TelCountLabel->setText(QString::number(Book.TelCount));
    GroupCountLabel->setText(QString::number(Book.GroupCount));
    TelModel->Reload();
    GroupModel->Reload();
}

bool TTelBookForm::Ask(const QString &question)
{
    if (NextAnswer) {
        const bool answer = *NextAnswer;
        NextAnswer.reset();
        return answer;
    }
    // Deleting everything is not what Enter should do by mistake: those questions default to 否.
    QMessageBox box(QMessageBox::Question, QStringLiteral("提示信息"), question, QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("QuestionBox"));
    KeepTitleWhole(&box);
    box.setDefaultButton(question == AllRowsQuestion() ? QMessageBox::No : QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void TTelBookForm::InitClick(bool groups)
{
    // Its yes overwrites rows from the start position on: Enter twice must not do that.
    if (!PostEdits() || !Confirm.Ask(QStringLiteral("是否进行初始化？"), false))
        return;
    (groups ? static_cast<QDialog *>(InitGroupFrom) : inituserfrm)->exec();
    RunInit(groups);
}

void TTelBookForm::RunInit(bool groups)
{
    const TInitRunDialog *dialog = groups ? static_cast<TInitRunDialog *>(InitGroupFrom) : inituserfrm;
    if (!dialog->Answer())
        return;
    QProgressDialog progress(QStringLiteral("正在写入…"), QStringLiteral("取消"), 0, 1, this);
    progress.setObjectName(QStringLiteral("InitProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    const auto report = [&progress](int written, int total) {
        progress.setMaximum(total);
        progress.setValue(written);
        return !progress.wasCanceled();
    };
    const TTelBook::TRun run = dialog->Run();
    const QString error = groups ? Book.InitialiseGroups(run, report) : Book.Initialise(run, report);
    // The list and its count show what is stored now, the new rows included.
    if (groups)
        Book.ShowAllGroups();
    else
        Book.ShowAll();
    ShowError(error);
}

void TTelBookForm::ImportClick()
{
    if (!PostEdits())
        return;
    FrloadNo->BrowseButton->setText(QStringLiteral("浏览"));
    FrloadNo->LabelBox->setEditText(QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
    FrloadNo->exec();
    ShowError(Book.ShowAll());
}

void TTelBookForm::ExportClick()
{
    if (!PostEdits())
        return;
    // Said before a file name is asked for: there is nothing to write into it.
    if (Book.Query.RecordCount() == 0) {
        OpenMessage(this, QMessageBox::Information, QStringLiteral("提示信息"), EmptyExportText());
        return;
    }
    QString path = AskExportFile(this, NextFileName, QStringLiteral("导出"), TSheetExport::DefaultFileName());
    if (path.isEmpty())
        return;
    path = TSheetExport::WithExtension(path); // so that 导入 reads it back
    const QString error = TSheetExport::Write(Book.Query, path);
    Book.Query.Last();
    Book.Query.Next(); // the list's cursor ends past the last row
    OpenMessage(this, error.isEmpty() ? QMessageBox::Information : QMessageBox::Warning, QStringLiteral("提示信息"),
                error.isEmpty() ? QStringLiteral("EXCEL数据导出成功!")
                                : TSheetExport::FailureText(error, QStringLiteral("\n")));
    if (error.isEmpty() && OpenExported)
        QDesktopServices::openUrl(QUrl::fromLocalFile(path)); // no application to open it is no error
}

bool TTelBookForm::PostEdits()
{
    return TelModel->Post() && GroupModel->Post();
}

bool TTelBookForm::CloseWindow()
{
    if (!PostEdits()) {
        Book.ResetIdle();
        return false;
    }
    Book.Query.Close();
    TelModel->Reload();
    accept();
    return true;
}

void TTelBookForm::IdleTimerTick()
{
    // A write is running (a statement waiting for a lock, 初始化's progress, an import's rows):
    // the window's event loop runs nested inside it, and closing now would close the list under it.
    if (TDM::Writing())
        return;
    if (Book.IdleTick() && !CloseWindow())
        IdleTimer->start();
}

bool TTelBookForm::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
    case QEvent::Wheel:
        if (auto *widget = qobject_cast<QWidget *>(watched); widget && (widget == this || isAncestorOf(widget)))
            Book.ResetIdle();
        break;
    default:
        break;
    }
    if (event->type() == QEvent::KeyPress && (watched == TelDBGrid || watched == GroupDBGrid)) {
        auto *grid = static_cast<QTableView *>(watched);
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Insert) {
            auto *model = static_cast<TLiveQueryModel *>(grid->model());
            if (model->AppendRow())
                grid->setCurrentIndex(model->index(model->rowCount() - 1, 0));
            return true;
        }
        // Esc gives up a new row that was never written, instead of trying to write it (and
        // saying again what it lacks) on the way to closing the window.
        if (key == Qt::Key_Escape && static_cast<TLiveQueryModel *>(grid->model())->CancelNewRow())
            return true;
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && grid->currentIndex().isValid()) {
            grid->edit(grid->currentIndex()); // Enter edits the cell (an open editor takes Enter itself)
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TTelBookForm::ShowError(const QString &error)
{
    if (error.isEmpty())
        return;
    OpenMessage(this, QMessageBox::Warning, QStringLiteral("提示信息"), error);
}
