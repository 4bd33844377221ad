#include "directory/import_window.h"
#include "directory/init_dialogs.h"
#include "directory/keyless_dialog.h"
#include "directory/live_query_model.h"
#include "directory/tel_book_window.h"
#include "widgets/exit_dialog.h"
#include "app/main_form.h"
#include "sheets/sheet_reader.h"
#include "support/modal.h"
#include "support/other_program.h"
#include "support/test_support.h"
#include "support/window_fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <QDate>
#include <QFile>
#include <QHeaderView>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QScrollBar>
#include <QTest>

class TstTelBookWindow : public QObject, private TWindowFixture
{
    Q_OBJECT

    TTelBookForm *Window = nullptr;

    // Opens the window from the main window and runs act inside it; act may leave it open.
    // act starts once the window is active, as an operator's keys reach it: on a busy machine
    // the poll may see it shown first, and a focus set then is lost to the first button in the
    // tab order when the activation arrives.
    void InWindow(const std::function<void()> &act)
    {
        AnswerModal(Window, [this, act] {
            QVERIFY(QTest::qWaitForWindowActive(Window));
            act();
        });
        Form->Button(QStringLiteral("TelBookBtn"))->click();
    }
    void Click(const char *caption) { Window->Button(QString::fromUtf8(caption))->click(); }
    // An extension whose name, place and remark are longer than a column may grow: together
    // they are wider than the window.
    void AddWideExtension()
    {
        QVERIFY(Core->Directory()
                    .AddTelNumber(QStringLiteral("2003"), QStringLiteral("综采工作面运输顺槽机头硐室值班电话"),
                                  QStringLiteral("井下二水平东翼运输大巷三号联络巷口往北五十米处"), {"1", "12"},
                                  QStringLiteral("0"), QStringLiteral("每班交接时须核对通话质量，故障报调度室维修班处理并登记"))
                    .isEmpty());
    }
    QMessageBox *Message()
    {
        QMessageBox *box = nullptr;
        (void)QTest::qWaitFor([&] { return (box = Window->findChild<QMessageBox *>(QStringLiteral("MessageBox"))); }, 2000);
        return box;
    }

private Q_SLOTS:
    void init()
    {
        NewFolder();
        StartProgram();
        Window = Form->TelBookForm;
        Core->Directory().AddTelNumber(QStringLiteral("2001"), QStringLiteral("井口"), {}, {"1"}, QStringLiteral("0"), {});
        Core->Directory().AddTelNumber(QStringLiteral("2002"), QStringLiteral("泵房"), {}, {"2"}, QStringLiteral("0"), {});
    }
    void cleanup()
    {
        StopProgram();
    }

    void opensWithBothLists()
    {
        InWindow([this] {
            QVERIFY(Window->windowTitle().startsWith(QStringLiteral("电话号码(")));
            QCOMPARE(Window->size(), QSize(1310, 690));
            QCOMPARE(Window->TelCountLabel->text(), QStringLiteral("2"));
            QCOMPARE(Window->GroupCountLabel->text(), QStringLiteral("0"));
            QCOMPARE(Window->TelModel->headerData(1, Qt::Horizontal).toString(), QStringLiteral("分机号码"));
            QCOMPARE(Window->TelModel->headerData(13, Qt::Horizontal).toString(), QStringLiteral("备注"));
            QCOMPARE(Window->TelModel->columnCount(), 14);
            QCOMPARE(Window->GroupModel->headerData(3, Qt::Horizontal).toString(), QStringLiteral("组内用户数"));
            QCOMPARE(Window->TelModel->index(1, 2).data().toString(), QStringLiteral("泵房"));
            for (const char *caption : {"导入", "全部", "初始化", "删除", "全删", "导出", "退出", "全部组", "组内分机", "初始化组",
                                        "刷新组内用户数", "删除组", "全删组"})
                QVERIFY2(Window->Button(QString::fromUtf8(caption)), caption);
            Click("退出");
        });
        QVERIFY(!Window->isVisible());
    }

    // 初始化's question defaults to 否: Enter on it writes nothing and opens nothing.
    void initialiseQuestionDefaultsToNo()
    {
        InWindow([this] {
            bool noFocused = false, runDialogOpened = false;
            const int rows = Window->TelModel->rowCount();
            AnswerModal(Form->ExitForm, [this, &noFocused] {
                noFocused = Form->ExitForm->NoButton->isDefault() && Form->ExitForm->focusWidget() == Form->ExitForm->NoButton;
                QTest::keyClick(Form->ExitForm, Qt::Key_Return);
            });
            AnswerModal(Window->inituserfrm, [this, &runDialogOpened] {
                runDialogOpened = true;
                Window->inituserfrm->CancelButton->click();
            });
            Click("初始化");
            QVERIFY(noFocused);
            QVERIFY(!runDialogOpened);
            QCOMPARE(Window->TelModel->rowCount(), rows);
            Click("退出");
        });
    }

    // Esc on a new row that was never written gives it up: no message, the window stays, the
    // table is as it was; a second Esc closes the window.
    void escapeGivesUpANewRow()
    {
        InWindow([this] {
            const int rows = Window->TelModel->rowCount();
            Window->TelDBGrid->setFocus();
            QTest::keyClick(Window->TelDBGrid, Qt::Key_Insert);
            QCOMPARE(Window->TelModel->rowCount(), rows + 1);
            QVERIFY(Window->TelModel->setData(Window->TelModel->index(rows, 1), QStringLiteral("2099")));
            QTest::keyClick(Window->TelDBGrid, Qt::Key_Escape);
            QCOMPARE(Window->TelModel->rowCount(), rows);
            QVERIFY(!Window->TelModel->Pending());
            const QMessageBox *box = Window->findChild<QMessageBox *>(QStringLiteral("MessageBox"));
            QVERIFY2(!box, box ? qPrintable(box->text()) : "");
            QVERIFY(Window->isVisible());
            QTest::keyClick(Window->TelDBGrid, Qt::Key_Escape);
            QTRY_VERIFY(!Window->isVisible());
        });
        QCOMPARE(TestSupport::SqlRows(Core->DirectoryStore().Connection(), QStringLiteral("select count(*) from TelNumber")),
                 QStringList{QStringLiteral("2")});
    }

    // Each opening starts at the left, where 序号 and 分机号码 are, wherever it was left.
    void reopensScrolledToTheLeft()
    {
        AddWideExtension();
        int maximum = 0;
        InWindow([this, &maximum] {
            QScrollBar *bar = Window->TelDBGrid->horizontalScrollBar();
            maximum = bar->maximum();
            bar->setValue(maximum);
            Click("退出");
        });
        QVERIFY(maximum > 0);
        int value = -1;
        InWindow([this, &value] {
            value = Window->TelDBGrid->horizontalScrollBar()->value();
            Click("退出");
        });
        QCOMPARE(value, 0);
    }

    // Columns are as wide as what they hold: a long name whole, a group number no wider than
    // its heading.
    void columnsFitTheirContent()
    {
        const QString name = QStringLiteral("综采工作面运输顺槽机头");
        QVERIFY(Core->Directory().AddTelNumber(QStringLiteral("2003"), name, {}, {"1", "12"}, QStringLiteral("0"), {}).isEmpty());
        InWindow([this, &name] {
            QTableView *grid = Window->TelDBGrid;
            QHeaderView *header = grid->horizontalHeader();
            QVERIFY2(grid->columnWidth(2) >= grid->fontMetrics().horizontalAdvance(name),
                     qPrintable(QString::number(grid->columnWidth(2))));
            for (int column = 4; column < 12; ++column) {
                QCOMPARE(Window->TelModel->headerData(column, Qt::Horizontal).toString(),
                         QStringLiteral("所属组号%1").arg(column - 3));
                QVERIFY2(grid->columnWidth(column) <= header->sectionSizeHint(column),
                         qPrintable(QStringLiteral("%1 > %2").arg(grid->columnWidth(column)).arg(header->sectionSizeHint(column))));
            }
            // Nothing to scroll to: 状态 and 备注 are in view beside the rest.
            QCOMPARE(grid->horizontalScrollBar()->maximum(), 0);
            Click("退出");
        });
    }

    // Scrolled sideways, the grid keeps 分机号码 in view; a cell brought into view by the
    // keyboard is not hidden under it, and 分机号码 is edited where it is seen.
    void numberStaysInViewSideways()
    {
        AddWideExtension();
        InWindow([this] {
            QTableView *grid = Window->TelDBGrid;
            TLiveQueryModel *model = Window->TelModel;
            grid->setFocus();
            grid->setCurrentIndex(model->index(2, 13));
            QVERIFY(grid->horizontalScrollBar()->value() > 0);
            QTableView *frozen = grid->findChild<QTableView *>();
            QVERIFY(frozen && frozen->isVisible());
            const QRect number = frozen->visualRect(model->index(2, 1));
            QVERIFY(frozen->viewport()->rect().contains(number));
            QCOMPARE(frozen->indexAt(number.center()).data().toString(), QStringLiteral("2003"));
            QCOMPARE(frozen->viewport()->mapTo(grid, QPoint()), grid->viewport()->mapTo(grid, QPoint())); // rows line up
            const int covered = frozen->width();
            QVERIFY(grid->visualRect(model->index(2, 13)).left() >= covered);
            QVERIFY(grid->visualRect(model->index(2, 13)).right() < grid->viewport()->width());

            for (int i = 0; i < 11; ++i)
                QTest::keyClick(grid, Qt::Key_Left);
            QCOMPARE(grid->currentIndex(), model->index(2, 2));
            QVERIFY2(grid->visualRect(model->index(2, 2)).left() >= covered,
                     qPrintable(QString::number(grid->visualRect(model->index(2, 2)).left())));

            QTest::keyClick(grid, Qt::Key_Left);
            QCOMPARE(grid->currentIndex(), model->index(2, 1));
            QTest::keyClick(grid, Qt::Key_Return);
            QLineEdit *editor = frozen->viewport()->findChild<QLineEdit *>();
            QVERIFY(editor && editor->isVisible());
            QCOMPARE(editor->text(), QStringLiteral("2003"));
            QTest::keyClick(editor, Qt::Key_Escape);
            QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(grid)); // the keyboard goes back to the grid
            QTest::keyClick(grid, Qt::Key_Up);
            QCOMPARE(grid->currentIndex(), model->index(1, 1));
            Click("退出");
        });
    }

    void initialiseThroughBothDialogs()
    {
        InWindow([this] {
            AnswerModal(Form->ExitForm, [this] {
                QCOMPARE(Form->ExitForm->Label->text(), QStringLiteral("是否进行初始化？"));
                Form->ExitForm->YesButton->click();
            });
            AnswerModal(Window->inituserfrm, [this] {
                Tinituserfrm *d = Window->inituserfrm;
                QCOMPARE(d->windowTitle(), QStringLiteral("初始化用户参数"));
                QCOMPARE(d->startNum->currentText(), QStringLiteral("2001"));
                QCOMPARE(d->status->toolTip(), QStringLiteral("0-正常 1-故障"));
                QCOMPARE(d->Msg->text(), QStringLiteral("井下电话"));
                d->startNum->setEditText(QStringLiteral("3001"));
                d->len->setEditText(QStringLiteral("10"));
                d->OkButton->click();
            });
            Click("初始化");
            QCOMPARE(Window->TelCountLabel->text(), QStringLiteral("10")); // without 全部
            QCOMPARE(Window->TelModel->rowCount(), 10);
            Click("全部");
            QCOMPARE(Window->TelCountLabel->text(), QStringLiteral("10"));
            QCOMPARE(Window->windowTitle(), QStringLiteral("电话号码"));

            // Saying no to the question writes nothing.
            AnswerModal(Form->ExitForm, [this] { Form->ExitForm->NoButton->click(); });
            Click("初始化组");
            Click("全部组");
            QCOMPARE(Window->GroupCountLabel->text(), QStringLiteral("0"));
            Click("退出");
        });
    }

    void editsAreWrittenWhenTheRowIsLeft()
    {
        InWindow([this] {
            QTableView *grid = Window->TelDBGrid;
            grid->setCurrentIndex(Window->TelModel->index(0, 2));
            QVERIFY(Window->TelModel->setData(Window->TelModel->index(0, 2), QStringLiteral("主井口")));
            grid->setCurrentIndex(Window->TelModel->index(1, 2));
            QCOMPARE(Core->Directory().ListMembers(QStringLiteral("1"), false), 1);
            QCOMPARE(Core->Directory().Query().Value(QStringLiteral("TelName")).toString(), QStringLiteral("主井口"));

            // A repeated 序号 is refused: the store's reason is shown and the cursor goes back.
            QVERIFY(Window->TelModel->setData(Window->TelModel->index(1, 0), QStringLiteral("1")));
            grid->setCurrentIndex(Window->TelModel->index(0, 0));
            QMessageBox *box = Message();
            QVERIFY(box);
            box->accept();
            QTRY_COMPARE(grid->currentIndex().row(), 1);
            // Mended, it is written when the window closes.
            QVERIFY(Window->TelModel->setData(Window->TelModel->index(1, 0), QStringLiteral("7")));
            Click("退出");
        });
        QVERIFY(!Window->isVisible());
        QCOMPARE(Core->Directory().ListTelNumbers(), 2);
        Core->Directory().Query().Last();
        QCOMPARE(Core->Directory().Query().Value(QStringLiteral("sequence")).toInt(), 7);
    }

    void idleCloseKeepsARefusedEditOpen()
    {
        InWindow([this] {
            QVERIFY(Window->TelModel->setData(Window->TelModel->index(1, 0), QString())); // 序号 emptied: refused
            Core->TelBook().IdleCountdown = 1;
            Window->IdleTimerTick();
            QVERIFY(Window->isVisible());
            QVERIFY(Message());
            Message()->accept();
            QCOMPARE(Core->TelBook().IdleCountdown, 1000);
            QTRY_VERIFY(!Window->findChild<QMessageBox *>(QStringLiteral("MessageBox")));
            QTest::keyClick(Window, Qt::Key_Escape); // Esc posts first too
            QVERIFY(Window->isVisible());
            QTRY_VERIFY(Message());
            Message()->accept();
            QVERIFY(Window->TelModel->setData(Window->TelModel->index(1, 0), QStringLiteral("2")));
            Core->TelBook().IdleCountdown = 1;
            Window->IdleTimerTick();
            QVERIFY(!Window->isVisible());
        });
    }

    // The idle close waits while a write runs with the window's events served inside it
    // (初始化's progress, an import): the run goes to its end, then the window may close.
    void idleCloseWaitsForARunningWrite()
    {
        InWindow([this] {
            int told = 0;
            const QString error = Core->TelBook().Initialise(
                {QStringLiteral("5001"), QStringLiteral("1"), QStringLiteral("是"), QStringLiteral("1"), {}, {},
                 QStringLiteral("3000")},
                [&](int, int) {
                    ++told;
                    Core->TelBook().IdleCountdown = 1;
                    Window->IdleTimerTick();
                    return Window->isVisible();
                });
            QCOMPARE(error, QString());
            QVERIFY(told >= 3);
            QVERIFY(Window->isVisible());
            QCOMPARE(Core->Directory().ListTelNumbers(), 3000);
            Window->IdleTimerTick(); // nothing runs now: the countdown ran out, the window closes
            QVERIFY(!Window->isVisible());
        });
    }

    void importThroughTheWindow()
    {
        InWindow([this] {
            TFrloadNo *import = Window->FrloadNo;
            AnswerModal(import, [this, import] {
                // A window of its own with a frame and title, not a panel floating over the grid.
                QVERIFY(!(import->windowFlags() & Qt::FramelessWindowHint));
                QVERIFY(import->BrowseButton->isDefault());
                QCOMPARE(import->size(), QSize(482, 110));
                QCOMPARE(import->BrowseButton->text(), QStringLiteral("浏览"));
                QCOMPARE(import->LabelBox->currentText(), QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
                // The whole preset shows, also the longest short date ("2026/12/10", "12/10/26").
                for (const QString &date : {import->LabelBox->currentText(), QStringLiteral("2026/12/10")})
                    QVERIFY2(import->LabelBox->lineEdit()->width() >= import->LabelBox->fontMetrics().horizontalAdvance(date) + 4,
                             qPrintable(date));
                import->NextFileName = TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.ods"));
                import->BrowseClick();
                QVERIFY(import->StartButton->isDefault() && !import->BrowseButton->isDefault()); // Enter imports now
                import->StartImport();
                QCOMPARE(import->LastMessage, QStringLiteral("导入成功！"));
                QCOMPARE(import->CountLabel->text(), QStringLiteral("导入数量:50"));
                QCOMPARE(import->Progress->value(), 100);
                // A bad cell stops the import: the message counts the rows stored before it.
                import->NextFileName = TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-bad-number.xlsx"));
                import->BrowseClick();
                import->StartImport();
                QVERIFY2(import->LastMessage.startsWith(QStringLiteral("已导入 6 行；第 8 行")), qPrintable(import->LastMessage));
                import->LabelBox->setEditText(QString());
                import->StartImport();
                QCOMPARE(import->LastMessage, QStringLiteral("请输入本次导入的标注！"));
                import->ExitButton->click();
            });
            Click("导入");
            QCOMPARE(Window->TelCountLabel->text(), QStringLiteral("50")); // 2001 and 2002 were updated in place
            // Opened again, it shows nothing of the last run.
            bool fresh = false;
            AnswerModal(import, [import, &fresh] {
                fresh = import->Progress->value() == 0 && import->CountLabel->text() == QStringLiteral("导入数量:0")
                    && import->BrowseButton->isDefault();
                import->ExitButton->click();
            });
            Click("导入");
            QVERIFY(fresh);
            Click("退出");
        });
    }

    void exportThroughTheWindow()
    {
        const QString path = Dir->filePath(QStringLiteral("电话号码.xlsx"));
        InWindow([this, path] {
            Window->OpenExported = false;
            Window->NextFileName = path;
            Click("导出");
            QMessageBox *box = Message();
            QVERIFY(box);
            QCOMPARE(box->text(), QStringLiteral("EXCEL数据导出成功!"));
            QCOMPARE(box->windowTitle(), QStringLiteral("提示信息"));
            QCOMPARE(box->icon(), QMessageBox::Information);
            box->accept();
            QTRY_VERIFY(!Window->findChild<QMessageBox *>(QStringLiteral("MessageBox")));
            QVERIFY(QFile::exists(path));

            Window->NextAnswer = true;
            Click("全删");
            const QString none = Dir->filePath(QStringLiteral("none.xlsx"));
            Window->NextFileName = none;
            Click("导出");
            // An empty list is said before any file name is asked for.
            QVERIFY(Message());
            QCOMPARE(Message()->text(), TTelBookForm::EmptyExportText());
            QCOMPARE(Message()->icon(), QMessageBox::Information);
            Message()->accept();
            QCOMPARE(Window->NextFileName, std::optional<QString>(none)); // no file name was asked for
            QVERIFY(!QFile::exists(none));
            Click("退出");
        });
    }

    void groupButtonsActOnTheSelectedGroup()
    {
        InWindow([this] {
            AnswerModal(Form->ExitForm, [this] { Form->ExitForm->YesButton->click(); });
            AnswerModal(Window->InitGroupFrom, [this] {
                Window->InitGroupFrom->len->setEditText(QStringLiteral("3"));
                Window->InitGroupFrom->OkButton->click();
            });
            Click("初始化组");
            Click("全部组");
            Window->GroupDBGrid->setCurrentIndex(Window->GroupModel->index(1, 1));
            Click("组内分机");
            QCOMPARE(Window->TelCountLabel->text(), QStringLiteral("1"));
            QCOMPARE(Window->TelModel->index(0, 1).data().toString(), QStringLiteral("2002"));
            Click("退出");
        });
    }

    // After every reload no row is marked, so 删除 and 删除组 say so and delete nothing; after
    // 导出 the row still marked is the one deleted.
    void deletionsActOnlyOnTheMarkedRow_data()
    {
        QTest::addColumn<QString>("reload");
        QTest::addColumn<bool>("groups");
        for (const char *reload : {"", "全部", "删除", "刷新组内用户数"})
            QTest::newRow(reload[0] ? reload : "opening") << QString::fromUtf8(reload) << false;
        for (const char *reload : {"全部组", "删除组", "刷新组内用户数"})
            QTest::addRow("%s (groups)", reload) << QString::fromUtf8(reload) << true;
    }
    void deletionsActOnlyOnTheMarkedRow()
    {
        QFETCH(QString, reload);
        QFETCH(bool, groups);
        Core->Directory().AddTelNumber(QStringLiteral("2003"), {}, {}, {"1"}, QStringLiteral("0"), {});
        Core->TelBook().InitialiseGroups({QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("是"), {}, {}, {}, QStringLiteral("3")});
        InWindow([this, reload, groups] {
            QTableView *grid = groups ? Window->GroupDBGrid : Window->TelDBGrid;
            TLiveQueryModel *model = groups ? Window->GroupModel : Window->TelModel;
            const char *deletion = groups ? "删除组" : "删除";
            if (reload.startsWith(QStringLiteral("删除"))) {
                grid->setCurrentIndex(model->index(0, 1));
                Window->NextAnswer = true;
            }
            if (!reload.isEmpty())
                Window->Button(reload)->click();
            const int rows = model->rowCount();
            Window->NextAnswer = true;
            Click(deletion);
            QCOMPARE(model->rowCount(), rows);
            QVERIFY(Message());
            // The message names the list the row is to be marked in.
            QCOMPARE(Message()->text(), TTelBookForm::NoMarkedRowText(groups));
            QVERIFY(Message()->text().contains(groups ? QStringLiteral("分组列表") : QStringLiteral("电话号码列表")));
            Message()->accept();
            QTRY_VERIFY(!Window->findChild<QMessageBox *>(QStringLiteral("MessageBox")));
            if (groups) {
                Click("组内分机");
                QVERIFY(Message());
                QCOMPARE(Message()->text(), TTelBookForm::NoMarkedRowText(true));
                Message()->accept();
            }
            Click("退出");
        });
        QCOMPARE(Core->Directory().ListTelNumbers(), reload == QStringLiteral("删除") ? 2 : 3);
        QCOMPARE(Core->Directory().ListGroups(), reload == QStringLiteral("删除组") ? 2 : 3);
    }

    void afterExportTheMarkedRowIsDeleted()
    {
        InWindow([this] {
            Window->OpenExported = false;
            Window->TelDBGrid->setCurrentIndex(Window->TelModel->index(1, 1));
            Window->NextFileName = Dir->filePath(QStringLiteral("list.xlsx"));
            Click("导出");
            QVERIFY(Message());
            Message()->accept();
            QTRY_VERIFY(!Window->findChild<QMessageBox *>(QStringLiteral("MessageBox")));
            Window->NextAnswer = true;
            Click("删除");
            Click("退出");
        });
        QCOMPARE(Core->Directory().ListTelNumbers(), 1);
        QCOMPARE(Core->Directory().Query().Value(QStringLiteral("TelNum")).toInt(), 2001);
    }

    // A row deleted by another program is not reported as saved when edited; the list is read again.
    void anEditToAVanishedRowIsRefused()
    {
        InWindow([this] {
            TOtherProgram other(Dir->filePath(QStringLiteral("DATA/ChaDB.sqlite")),
                                {QStringLiteral("DELETE FROM TelNumber WHERE TelNum = 2002")});
            QVERIFY(other.Ok);
            QTableView *grid = Window->TelDBGrid;
            grid->setCurrentIndex(Window->TelModel->index(1, 2));
            QVERIFY(Window->TelModel->setData(Window->TelModel->index(1, 2), QStringLiteral("新名称")));
            grid->setCurrentIndex(Window->TelModel->index(0, 2));
            QVERIFY(Message());
            QCOMPARE(Message()->text(), TLiveQuery::VanishedText());
            Message()->accept();
            QTRY_COMPARE(Window->TelModel->rowCount(), 1);
            QCOMPARE(Window->TelModel->index(0, 1).data().toString(), QStringLiteral("2001"));
            Click("退出");
        });
        QVERIFY(!Window->isVisible());
        QCOMPARE(Core->Directory().ListTelNumbers(), 1);
    }

    // Deleting a number also held by another row takes both out of the list.
    void deletingANumberListsWhatRemains()
    {
        Core->Directory().Query().Execute(QStringLiteral("insert into TelNumber(TelNum, sequence) values (2001, 9)"));
        InWindow([this] {
            QCOMPARE(Window->TelModel->rowCount(), 3);
            Window->TelDBGrid->setCurrentIndex(Window->TelModel->index(0, 1));
            Window->NextAnswer = true;
            Click("删除");
            QCOMPARE(Window->TelModel->rowCount(), 1);
            QCOMPARE(Window->TelModel->index(0, 1).data().toString(), QStringLiteral("2002"));
            Click("退出");
        });
    }

    void exportAddsTheExtension()
    {
        InWindow([this] {
            Window->OpenExported = false;
            Window->NextFileName = Dir->filePath(QStringLiteral("电话号码"));
            Click("导出");
            QVERIFY(Message());
            QCOMPARE(Message()->text(), QStringLiteral("EXCEL数据导出成功!"));
            Message()->accept();
            Click("退出");
        });
        QList<QStringList> rows;
        QString error;
        QVERIFY2(TSheetReader::Read(Dir->filePath(QStringLiteral("电话号码.xlsx")), &rows, &error), qPrintable(error));
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[2][1], QStringLiteral("2002"));
    }

    void deleteWithAnswers()
    {
        InWindow([this] {
            // The row deleted is the one selected in the grid.
            Window->TelDBGrid->setCurrentIndex(Window->TelModel->index(1, 0));
            Window->NextAnswer = false;
            Click("删除");
            QCOMPARE(Core->Directory().ListTelNumbers(), 2);
            Window->NextAnswer = true;
            Click("删除");
            QCOMPARE(Core->Directory().ListTelNumbers(), 1);
            QCOMPARE(Core->Directory().Query().Value(QStringLiteral("TelNum")).toInt(), 2001);
            Window->NextAnswer = true;
            Click("全删");
            QCOMPARE(Core->Directory().ListTelNumbers(), 0);
            QCOMPARE(Window->TelModel->rowCount(), 0);
            Click("全部");
            QCOMPARE(Window->TelCountLabel->text(), QStringLiteral("0"));
            Click("退出");
        });
    }

    // Enter edits in a grid instead of pressing a default button (导入 was one); Tab leaves a
    // grid, so both halves are reached from the keyboard.
    void keyboardInTheGrids()
    {
        InWindow([this] {
            for (QPushButton *button : Window->findChildren<QPushButton *>())
                if (button->window() == Window)
                    QVERIFY2(!button->isDefault() && !button->autoDefault(), qPrintable(button->text()));
            Window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(Window));
            QTableView *grid = Window->TelDBGrid;
            grid->setFocus();
            grid->setCurrentIndex(Window->TelModel->index(0, 2));
            QTest::keyClick(grid, Qt::Key_Return);
            QVERIFY(!Window->FrloadNo->isVisible());
            auto *editor = grid->viewport()->findChild<QLineEdit *>();
            QVERIFY(editor && editor->isVisible());
            QCOMPARE(editor->text(), QStringLiteral("井口"));
            QTest::keyClick(editor, Qt::Key_Escape);

            grid->setFocus();
            bool reachedGroups = false;
            for (int i = 0; i < 40 && !reachedGroups; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                reachedGroups = QApplication::focusWidget() == Window->GroupDBGrid;
            }
            QVERIFY(reachedGroups);
            QTest::keyClick(Window->GroupDBGrid, Qt::Key_Tab);
            QVERIFY(QApplication::focusWidget() != Window->GroupDBGrid);
            Click("退出");
        });
        QVERIFY(!Window->FrloadNo->isVisible());
    }

    // Extensions the current keyboard has no key for are tinted, and listed on request: the
    // keyboard named, every one of them in a list that scrolls, however many there are.
    void extensionsWithoutKey_data()
    {
        QTest::addColumn<int>("keyboard");
        QTest::addColumn<QList<int>>("withKey");
        QTest::addColumn<int>("added"); // extensions 3001… without a key, after 2001 and 2002
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QStringList>("firstLines");
        QTest::addColumn<int>("lines");
        QTest::newRow("one, keyboard 3") << 3 << QList<int>{2001} << 0
                                         << "当前键盘（键盘号 3）上没有键位的分机共 1 个：" << QStringList{"2002 泵房"} << 1;
        QTest::newRow("none, keyboard 5") << 5 << QList<int>{2001, 2002} << 0
                                          << "电话号码库中每个分机在当前键盘（键盘号 5）上都有键位。" << QStringList() << 0;
        QTest::newRow("61, more than a box shows") << 3 << QList<int>{2001} << 60
                                                   << "当前键盘（键盘号 3）上没有键位的分机共 61 个："
                                                   << QStringList{"2002 泵房", "3001 巷道1"} << 61;
    }
    void extensionsWithoutKey()
    {
        QFETCH(int, keyboard);
        QFETCH(QList<int>, withKey);
        QFETCH(int, added);
        QFETCH(QString, summary);
        QFETCH(QStringList, firstLines);
        QFETCH(int, lines);
        Core->Config().CurrentKeyboard = keyboard;
        for (int i = 0; i < withKey.size(); ++i)
            Core->Keys().KeyTable[size_t(keyboard * 1088 + 74 + i)] = withKey[i];
        for (int i = 1; i <= added; ++i)
            QVERIFY(Core->Directory().AddTelNumber(QString::number(3000 + i), QStringLiteral("巷道%1").arg(i), {}, {"1"},
                                                   QStringLiteral("0"), {}).isEmpty());
        InWindow([&] {
            QCOMPARE(Window->TelModel->index(0, 1).data().toString(), QStringLiteral("2001"));
            QCOMPARE(Window->TelModel->index(0, 1).data(Qt::ToolTipRole), QVariant());
            if (!withKey.contains(2002)) {
                QCOMPARE(Window->TelModel->index(1, 2).data(Qt::ToolTipRole).toString(), TTelBookForm::NoKeyWarning());
                QVERIFY(Window->TelModel->index(1, 0).data(Qt::BackgroundRole).isValid());
            }
            Click("无键位分机");
            TKeylessDialog *dialog = Window->KeylessDialog;
            QTRY_VERIFY(dialog->isVisible());
            QCOMPARE(dialog->windowTitle(), QStringLiteral("无键位分机"));
            QCOMPARE(dialog->Summary->text(), summary);
            const QString listed = dialog->List->toPlainText();
            const QStringList shown = listed.isEmpty() ? QStringList() : listed.split(QLatin1Char('\n'));
            QCOMPARE(shown.size(), lines);
            QCOMPARE(shown.mid(0, firstLines.size()), firstLines);
            QCOMPARE(dialog->List->isVisible(), lines > 0);
            if (lines > 20) {
                QCOMPARE(shown.last(), QStringLiteral("%1 巷道%2").arg(3000 + added).arg(added));
                QVERIFY(dialog->List->verticalScrollBar()->maximum() > 0); // scrolls, inside the dialog
                QVERIFY(dialog->height() < 700);
            }
            QVERIFY(dialog->List->isReadOnly());
            QVERIFY(!Window->findChild<QMessageBox *>(QStringLiteral("MessageBox")));
            QTest::keyClick(dialog, Qt::Key_Escape);
            QTRY_VERIFY(!dialog->isVisible());
            QVERIFY(Window->isVisible());
            Click("退出");
        });
    }

    void deletingEverythingDefaultsToNo()
    {
        InWindow([this] {
            bool defaultIsNo = false;
            QString noText;
            auto *poll = new QTimer(Window);
            connect(poll, &QTimer::timeout, Window, [&, poll] {
                auto *box = Window->findChild<QMessageBox *>(QStringLiteral("QuestionBox"));
                if (!box || !box->isVisible())
                    return;
                poll->stop();
                defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
                noText = box->button(QMessageBox::No)->text();
                QTest::keyClick(box, Qt::Key_Return);
            });
            poll->start(5);
            Click("全删");
            QVERIFY(defaultIsNo);
            QVERIFY2(noText.startsWith(QStringLiteral("否")), qPrintable(noText)); // Qt's own texts in Chinese
            QCOMPARE(Core->Directory().ListTelNumbers(), 2);
            Click("退出");
        });
    }
};

QTEST_MAIN(TstTelBookWindow)
#include "tst_tel_book_window.moc"
