#include "sheets/sheet_reader.h"
#include "history/history.h"
#include "history/history_window.h"
#include "history/notice_detail_dialog.h"
#include "app/main_form.h"
#include "support/pg_server.h"
#include "support/window_fixture.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQueryModel>
#include <QTableWidget>
#include <QLabel>
#include <QScrollBar>
#include <QFileInfo>
#include <QHelpEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

class TstHistoryWindow : public QObject, private TWindowFixture
{
    Q_OBJECT

    THistoryWindow *Window() { return Form->HistoryWindow; }
    QString Cell(int row, int column) { return Window()->Model->index(row, column).data().toString(); }
    // The list is read on another thread: true once the filter's first page (or the next) is in.
    bool Read() { return !Window()->Model->IsReading(); }
    // Every row the list holds, its cells as shown.
    QList<QStringList> GridRows()
    {
        QList<QStringList> rows;
        for (int row = 0; row < Window()->Model->rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < Window()->Model->columnCount(); ++column)
                cells << Cell(row, column);
            rows << cells;
        }
        return rows;
    }
    // Exports through the button and reads the file back, heading row left off.
    QList<QStringList> Exported()
    {
        const QString path = Dir->filePath(QStringLiteral("通知记录-%1").arg(++Exports));
        Window()->NextFileName = path;
        Window()->ExportButton->click();
        [&] { QTRY_VERIFY(!Window()->LastMessage.isEmpty()); }();
        [&] { QVERIFY2(Window()->LastMessage.startsWith(QStringLiteral("通知记录已导出")), qPrintable(Window()->LastMessage)); }();
        QList<QStringList> rows;
        QString error;
        [&] { QVERIFY2(TSheetReader::Read(path + QStringLiteral(".xlsx"), &rows, &error), qPrintable(error)); }();
        if (!rows.isEmpty())
            rows.removeFirst();
        // The sheet reader's rows are as wide as its widest; the list's as its columns.
        const qsizetype columns = THistoryQuery::Headings().size();
        for (QStringList &row : rows) {
            while (row.size() > columns && row.last().isEmpty())
                row.removeLast();
            while (row.size() < columns)
                row << QString();
        }
        return rows;
    }
    // Opens the history file again, as the running program has it.
    void ReopenHistory() { Core->History().Open(QFileInfo(Core->History().Where().File).path(), Core->History().Where().Url); }
    int Exports = 0;
    // A double-click as the mouse makes one: press and release, then the second press.
    void DoubleClick(int row)
    {
        const QPoint at = Window()->Grid->visualRect(Window()->Model->index(row, 1)).center();
        QTest::mouseClick(Window()->Grid->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(Window()->Grid->viewport(), Qt::LeftButton, {}, at);
    }

private Q_SLOTS:
    void initTestCase_data() { TestSupport::EnginesData(); }
    void init()
    {
        VARNEX_INIT_ENGINE();
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
        QTRY_VERIFY(Read());
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
        QTRY_VERIFY(Read());
        QCOMPARE(Window()->Model->rowCount(), 1);
        QCOMPARE(Cell(0, 3), QStringLiteral("2002"));
        Window()->KindBox->setCurrentIndex(0);
        Window()->TextEdit->setText(QStringLiteral("2001"));
        Window()->ApplyFilter();
        QTRY_VERIFY(Read());
        QCOMPARE(Window()->Model->rowCount(), 1);
        QCOMPARE(Cell(0, 4), QStringLiteral("3号工作面瓦斯超限"));
        Window()->TextEdit->setText(QStringLiteral("%"));
        Window()->ApplyFilter();
        QTRY_VERIFY(Read());
        QCOMPARE(Window()->Model->rowCount(), 0); // a wildcard typed is a character looked for
        QCOMPARE(Window()->StateLabel->text(), THistoryWindow::NothingFoundText()); // not how to scroll
        Window()->TextEdit->clear();
        Window()->FromEdit->setDate(QDate::currentDate().addDays(-3));
        Window()->ToEdit->setDate(QDate::currentDate().addDays(-1));
        Window()->ApplyFilter();
        QTRY_VERIFY(Read());
        QCOMPARE(Window()->Model->rowCount(), 0);
        // A range that ends before it begins says so.
        Window()->FromEdit->setDate(QDate::currentDate());
        Window()->ToEdit->setDate(QDate::currentDate().addDays(-1));
        Window()->ApplyFilter();
        QTRY_VERIFY(Read());
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
        QTRY_COMPARE(Window()->Totals->rowCount(), 1);
        QCOMPARE(Window()->Totals->item(0, 0)->text(), QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
        QCOMPARE(Window()->Totals->item(0, 1)->text(), QStringLiteral("4"));

        Window()->KindBox->setCurrentText(QStringLiteral("语音通知"));
        QTRY_VERIFY(Read());
        const QString path = Dir->filePath(QStringLiteral("通知记录"));
        Window()->NextFileName = path;
        Window()->ExportButton->click();
        QTRY_VERIFY(!Window()->LastMessage.isEmpty()); // written on the reader's thread
        QVERIFY2(Window()->LastMessage.startsWith(QStringLiteral("通知记录已导出")), qPrintable(Window()->LastMessage));
        QList<QStringList> rows;
        QString error;
        QVERIFY2(TSheetReader::Read(path + QStringLiteral(".xlsx"), &rows, &error), qPrintable(error));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].mid(0, 4), (QStringList{"收到时间", "类型", "消息号", "对象"}));
        QCOMPARE(rows[1].mid(1, 8), (QStringList{"语音通知", "7", "5", "3号工作面瓦斯超限", "2", "已启动", "2001,2002", rows[1][8]}));
        QVERIFY(!rows[1][8].isEmpty()); // when the keys left
    }

    // Export writes what the list shows, whatever was typed into the fields since it was
    // built; a field that applies at once (the kind) rebuilds both.
    void exportIsWhatTheListShows_data()
    {
        QTest::addColumn<QString>("applied");  // text looked for with 查询 first
        QTest::addColumn<QString>("typed");    // then typed or cleared, not applied
        QTest::addColumn<int>("kind");         // then chosen (applies at once); -1 leaves it
        QTest::addColumn<int>("fromDays");     // then the start date moved by this many days, not applied
        QTest::addColumn<int>("rows");
        QTest::newRow("nothing changed") << "" << "" << -1 << 0 << 4;
        QTest::newRow("text cleared with ✕, no 查询") << "2001" << "" << -1 << 0 << 1;
        QTest::newRow("text typed, no 查询") << "" << "2001" << -1 << 0 << 4;
        QTest::newRow("text changed, no 查询") << "2001" << "2002" << -1 << 0 << 1;
        QTest::newRow("kind chosen") << "" << "" << 2 << 0 << 1;
        QTest::newRow("kind chosen after text typed") << "" << "主叫" << 2 << 0 << 1;
        QTest::newRow("start date moved past today, no 查询") << "" << "" << -1 << 31 << 4;
        QTest::newRow("text found nowhere") << "无此文字" << "" << -1 << 0 << 0;
    }
    void exportIsWhatTheListShows()
    {
        QFETCH(QString, applied);
        QFETCH(QString, typed);
        QFETCH(int, kind);
        QFETCH(int, fromDays);
        QFETCH(int, rows);
        Window()->TextEdit->setText(applied);
        Window()->ApplyFilter();
        QTRY_VERIFY(Read());
        Window()->TextEdit->setText(typed);
        if (kind >= 0)
            Window()->KindBox->setCurrentIndex(kind);
        Window()->FromEdit->setDate(Window()->FromEdit->date().addDays(fromDays));
        QTRY_VERIFY(Read());
        QCOMPARE(Window()->Model->rowCount(), rows);
        const QList<QStringList> shown = GridRows();
        QCOMPARE(Exported(), shown);
        Window()->TotalsButton->click();
        QTRY_COMPARE(Window()->Totals->rowCount(), rows > 0 ? 1 : 0);
        if (rows > 0)
            QCOMPARE(Window()->Totals->item(0, 1)->text(), QString::number(rows));
    }

    // A column that does not apply to a row is empty in the list and the export alike; a link
    // event's peer stands under 对象.
    void columnsThatDoNotApplyAreEmpty()
    {
        ReopenHistory();
        Core->History().Event(QStringLiteral("平台通讯连上"), QStringLiteral("127.0.0.1"));
        QTRY_COMPARE(Window()->Model->rowCount(), 5);
        const QList<QStringList> shown = GridRows();
        QCOMPARE(shown[0].mid(1), (QStringList{"平台通讯连上", "", "127.0.0.1", "", "", "", "", "", "", ""}));
        QCOMPARE(shown[4].mid(1), (QStringList{"启动", "", "", "", "", "", "", "", "", ""}));
        QCOMPARE(shown[1][5], QString()); // 平台通讯中断: no play count
        QCOMPARE(shown[1][4], QStringLiteral("60秒未收到数据")); // a text of its own stays
        QCOMPARE(shown[2][5], QStringLiteral("1")); // a call plays once
        QCOMPARE(Exported(), shown);
    }

    // New entries join the open list at their place when its filter admits them, without 查询;
    // an entry written again (its keys sent) changes its row instead of adding one.
    void newEntriesJoinTheOpenList_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("admitted");
        QTest::newRow("every kind") << 0 << "" << true;
        QTest::newRow("its kind") << 1 << "" << true;
        QTest::newRow("another kind") << 2 << "" << false;
        QTest::newRow("its number") << 0 << "2003" << true;
        QTest::newRow("its group's name, other case") << 0 << "abc" << true;
        QTest::newRow("another number") << 0 << "2001" << false;
    }
    void newEntriesJoinTheOpenList()
    {
        QFETCH(int, kind);
        QFETCH(QString, text);
        QFETCH(bool, admitted);
        Window()->KindBox->setCurrentIndex(kind);
        Window()->TextEdit->setText(text);
        Window()->ApplyFilter();
        QTRY_VERIFY(Read());
        const int before = Window()->Model->rowCount();
        ReopenHistory();
        QSignalSpy written(&Core->History(), &THistory::Written);
        Core->History().Notice(QStringLiteral("语音通知"), 9, QStringLiteral("6"), QStringLiteral("撤离"), 1, 0, THistory::Started(),
                               {{QStringLiteral("2003"), QStringLiteral("泵房")}}, QStringLiteral("ABC区"));
        Core->History().Event(QStringLiteral("主机通讯中断"));
        // Both are in the file and the list has been offered them.
        const auto offered = [&written] {
            qsizetype n = 0;
            for (const QList<QVariant> &signal : written)
                n += signal.at(0).value<QList<TNotice>>().size();
            return n;
        };
        QTRY_COMPARE(offered(), qsizetype(2));
        if (!admitted) {
            QCOMPARE(Window()->Model->rowCount(), before);
            QCOMPARE(Exported(), GridRows());
            return;
        }
        QTRY_COMPARE(Window()->Model->rowCount(), before + 1 + (kind == 0 && text.isEmpty() ? 1 : 0));
        const int row = kind == 0 && text.isEmpty() ? 1 : 0;
        QCOMPARE(Cell(row, 2), QStringLiteral("9"));
        QCOMPARE(Cell(row, 3), QStringLiteral("6（ABC区）"));
        QCOMPARE(Cell(row, 9), QStringLiteral("未发送"));
        Core->History().KeysSent(0, true);
        QTRY_COMPARE(Cell(row, 9), QStringLiteral("是"));
        QCOMPARE(Window()->Model->rowCount(), before + 1 + row);
        QCOMPARE(Exported(), GridRows());
    }

    // The times show whole at the default width; a text cut by its column shows whole as a
    // tooltip.
    void columnsFitTheirTimesAndCutTextsHaveTooltips()
    {
        ReopenHistory();
        const QString longText = QString(80, QChar(u'撤')) + QStringLiteral("完");
        Core->History().Notice(QStringLiteral("语音通知"), 10, QStringLiteral("5"), longText, 1, 0, THistory::Queued(), {});
        QTRY_COMPARE(Window()->Model->rowCount(), 5);
        Window()->ApplyFilter(); // columns are sized to the first page
        QTRY_VERIFY(Read());
        QCOMPARE(Cell(0, 4), longText);
        const QFontMetrics metrics = Window()->Grid->fontMetrics();
        for (int column : {0, 8})
            for (int row = 0; row < Window()->Model->rowCount(); ++row)
                QVERIFY2(Window()->Grid->columnWidth(column) > metrics.horizontalAdvance(Cell(row, column)),
                         qPrintable(QStringLiteral("%1: %2").arg(column).arg(Cell(row, column))));
        const auto tooltipAt = [this](int row, int column) {
            QToolTip::hideText();
            (void)QTest::qWaitFor([] { return !QToolTip::isVisible(); });
            const QRect cell = Window()->Grid->visualRect(Window()->Model->index(row, column));
            QHelpEvent help(QEvent::ToolTip, cell.center(), Window()->Grid->viewport()->mapToGlobal(cell.center()));
            QCoreApplication::sendEvent(Window()->Grid->viewport(), &help);
            return QToolTip::isVisible() ? QToolTip::text() : QString();
        };
        QCOMPARE(tooltipAt(0, 4), longText);
        QCOMPARE(tooltipAt(0, 0), QString()); // whole already
        QCOMPARE(tooltipAt(0, 1), QString());
    }

    // A double-click shows the row's entry in the same view as n路详情, numbers and names too.
    void doubleClickShowsTheEntry()
    {
        DoubleClick(2);
        TNoticeDetailDialog *detail = Window()->Detail;
        QTRY_VERIFY(detail->isVisible());
        QVERIFY2(detail->Summary->text().contains(QStringLiteral("3号工作面瓦斯超限")), qPrintable(detail->Summary->text()));
        QVERIFY(detail->Summary->text().contains(QStringLiteral("按键发出于")));
        QCOMPARE(detail->Numbers->rowCount(), 2);
        QCOMPARE(detail->Numbers->item(0, 0)->text(), QStringLiteral("2001"));
        QCOMPARE(detail->Numbers->item(0, 1)->text(), QStringLiteral("井口"));
        QCOMPARE(detail->Numbers->item(1, 2)->text(), QStringLiteral("无键位"));

        // A link event shows what it has.
        detail->close();
        DoubleClick(0);
        QTRY_VERIFY(detail->isVisible());
        QVERIFY2(detail->Summary->text().startsWith(QStringLiteral("平台通讯中断")), qPrintable(detail->Summary->text()));
        QVERIFY(detail->Summary->text().contains(QStringLiteral("60秒未收到数据")));
        QCOMPARE(detail->Numbers->rowCount(), 0);
    }
};

QTEST_MAIN(TstHistoryWindow)
#include "tst_history_window.moc"
