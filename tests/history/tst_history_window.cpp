#include "directory/sheet_reader.h"
#include "history/history.h"
#include "history/history_window.h"
#include "app/main_form.h"
#include "support/window_fixture.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQueryModel>
#include <QTableWidget>
#include <QLabel>
#include <QScrollBar>
#include <QTest>

class TstHistoryWindow : public QObject, private TWindowFixture
{
    Q_OBJECT

    THistoryWindow *Window() { return Form->HistoryWindow; }
    QString Cell(int row, int column) { return Window()->Model->index(row, column).data().toString(); }

private Q_SLOTS:
    void init()
    {
        NewFolder();
        StartProgram();
        THistory &history = Core->History();
        history.Notice(QStringLiteral("语音通知"), 7, QStringLiteral("5"), QStringLiteral("3号工作面瓦斯超限"), 2, 0,
                       THistory::Started(), {{QStringLiteral("2001"), QStringLiteral("井口")}, {QStringLiteral("2002"), {}}});
        history.KeysSent(0, true);
        history.Notice(QStringLiteral("电话拨打"), 8, QStringLiteral("2002"), QStringLiteral("主叫2009"), 1, 0,
                       THistory::Busy(), {{QStringLiteral("2002"), {}}});
        history.Event(QStringLiteral("平台通讯中断"), QStringLiteral("60秒未收到数据"));
        history.Close(); // written; the window reads the file
        Form->Button(QStringLiteral("HistoryBtn"))->click();
        QVERIFY(Window() && Window()->isVisible());
    }
    void cleanup()
    {
        StopProgram();
    }

    void newestFirstAndFiltered()
    {
        QCOMPARE(Window()->Model->rowCount(), 4); // with the start
        QCOMPARE(Cell(0, 1), QStringLiteral("平台通讯中断"));
        QCOMPARE(Cell(1, 1), QStringLiteral("电话拨打"));
        QCOMPARE(Cell(1, 6), QStringLiteral("通道忙"));
        QCOMPARE(Cell(1, 9), QStringLiteral("未发送")); // its keys never left: the switch's state then is unknown
        QCOMPARE(Cell(2, 7), QStringLiteral("2001,2002"));
        QCOMPARE(Cell(2, 9), QStringLiteral("是"));
        QVERIFY(!Cell(2, 10).isEmpty()); // the latency
        QCOMPARE(Cell(3, 1), QStringLiteral("启动"));

        Window()->KindBox->setCurrentText(QStringLiteral("电话拨打"));
        QCOMPARE(Window()->Model->rowCount(), 1);
        QCOMPARE(Cell(0, 3), QStringLiteral("2002"));
        Window()->KindBox->setCurrentIndex(0);
        Window()->TextEdit->setText(QStringLiteral("2001"));
        Window()->ApplyFilter();
        QCOMPARE(Window()->Model->rowCount(), 1);
        QCOMPARE(Cell(0, 4), QStringLiteral("3号工作面瓦斯超限"));
        Window()->TextEdit->setText(QStringLiteral("%"));
        Window()->ApplyFilter();
        QCOMPARE(Window()->Model->rowCount(), 0); // a wildcard typed is a character looked for
        QCOMPARE(Window()->StateLabel->text(), THistoryWindow::NothingFoundText()); // not how to scroll
        Window()->TextEdit->clear();
        Window()->FromEdit->setDate(QDate::currentDate().addDays(-3));
        Window()->ToEdit->setDate(QDate::currentDate().addDays(-1));
        Window()->ApplyFilter();
        QCOMPARE(Window()->Model->rowCount(), 0);
        // A range that ends before it begins says so.
        Window()->FromEdit->setDate(QDate::currentDate());
        Window()->ToEdit->setDate(QDate::currentDate().addDays(-1));
        Window()->ApplyFilter();
        QCOMPARE(Window()->StateLabel->text(), THistoryWindow::ReversedRangeText());
    }

    // Reopened, it starts at its first column, wherever it was left.
    void reopensScrolledToTheLeft()
    {
        Window()->resize(400, Window()->height()); // narrower than its columns
        QScrollBar *bar = Window()->Grid->horizontalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum());
        Window()->close();
        Form->Button(QStringLiteral("HistoryBtn"))->click();
        QCOMPARE(bar->value(), 0);
    }

    void totalsAndExport()
    {
        Window()->TotalsButton->click();
        QCOMPARE(Window()->Totals->rowCount(), 1);
        QCOMPARE(Window()->Totals->item(0, 0)->text(), QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
        QCOMPARE(Window()->Totals->item(0, 1)->text(), QStringLiteral("4"));

        Window()->KindBox->setCurrentText(QStringLiteral("语音通知"));
        const QString path = Dir->filePath(QStringLiteral("通知记录"));
        Window()->NextFileName = path;
        Window()->ExportButton->click();
        QVERIFY2(Window()->LastMessage.startsWith(QStringLiteral("通知记录已导出")), qPrintable(Window()->LastMessage));
        QList<QStringList> rows;
        QString error;
        QVERIFY2(TSheetReader::Read(path + QStringLiteral(".xlsx"), &rows, &error), qPrintable(error));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].mid(0, 4), (QStringList{"收到时间", "类型", "消息号", "对象"}));
        QCOMPARE(rows[1].mid(1, 8), (QStringList{"语音通知", "7", "5", "3号工作面瓦斯超限", "2", "已启动", "2001,2002", rows[1][8]}));
        QVERIFY(!rows[1][8].isEmpty()); // when the keys left
    }
};

QTEST_MAIN(TstHistoryWindow)
#include "tst_history_window.moc"
