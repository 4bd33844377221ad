#pragma once

#include "widgets/data_grid.h"

#include <functional>

#include <QDialog>
#include <optional>

class QLabel;
class QProgressDialog;
class QPushButton;
class QTableView;
class QTimer;
class TExitForm;
class TFrloadNo;
class TNumberImport;
class TInitGroupFrom;
class TKeylessDialog;
class Tinituserfrm;
class TLiveQueryModel;
class TTelBook;

// The directory window: extensions above, groups below, each an editable grid written through
// when a row is left, with the bars of buttons that act on them. It closes itself after 1000
// seconds without keyboard or mouse input, posting a row being edited first.
class TTelBookForm : public QDialog
{
    Q_OBJECT
public:
    TTelBookForm(TTelBook &book, TNumberImport &import, TExitForm &confirm, QWidget *parent = nullptr);

    // The main window's "编组号码设置": reload both lists and show the window modally.
    void Open();
    QPushButton *Button(const QString &caption) const;

    // 初始化 / 初始化组 once the operator has said yes and confirmed the parameters.
    void RunInit(bool groups);
    // Posts what is being edited; false (and a message) when the store refuses it.
    bool PostEdits();
    // 退出 and the idle close: posts first, stays open when that fails.
    bool CloseWindow();
    void IdleTimerTick();
    // 导入: the import window, then the extensions reloaded.
    void ImportClick();
    // 导出: a file chooser, then the listed extensions written to it.
    void ExportClick();

    static QString EmptyExportText() { return QStringLiteral("电话号码列表中没有记录，没有可导出的内容。"); }
    static QString NoMarkedRowText(bool groups)
    {
        return groups ? QStringLiteral("请先在下方的分组列表中选中一个组。") : QStringLiteral("请先在上方的电话号码列表中选中一条记录。");
    }
    static QString AllRowsQuestion() { return QStringLiteral("是否删除当前所有记录？"); }
    static QString NoKeyWarning() { return QStringLiteral("当前键盘上没有这个号码的键位：通知无法呼叫它。"); }

    // How the window learns whether the current keyboard has a key for a number, and which
    // keyboard that is: extensions without a key are tinted, and "无键位分机" lists them all.
    void SetKeyCheck(std::function<bool(int number)> hasKey, std::function<int()> keyboard);
    void ListWithoutKey();

    // Answers the next deletion question or save-file chooser instead of asking (for tests).
    std::optional<bool> NextAnswer;
    std::optional<QString> NextFileName;
    // Whether an exported file is opened with the desktop's application.
    bool OpenExported = true;

    TDataGrid *TelDBGrid;
    TDataGrid *GroupDBGrid;
    TLiveQueryModel *TelModel;
    TLiveQueryModel *GroupModel;
    QLabel *TelCountLabel;
    QLabel *GroupCountLabel;
    Tinituserfrm *inituserfrm;
    TInitGroupFrom *InitGroupFrom;
    TFrloadNo *FrloadNo;
    TKeylessDialog *KeylessDialog;
    QTimer *IdleTimer;

    // Esc and the close box end here too, so an edited row is not lost.
    void reject() override { CloseWindow(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TDataGrid *MakeGrid(TLiveQueryModel *model);
    std::function<bool(int number)> HasKey;
    std::function<int()> Keyboard;
    // Moves the statement's cursor to the row marked in grid; false (and a message) when none is.
    bool MarkRow(QTableView *grid, TLiveQueryModel *model);
    bool Ask(const QString &question);
    void InitClick(bool groups);
    void ShowError(const QString &error);
    void ShowState();

    TTelBook &Book;
    TExitForm &Confirm;
};
