#include "directory/directory.h"
#include "directory/directory_store.h"
#include "directory/tel_book.h"
#include "shell/line_log.h"
#include "shell/trace_sink.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

#include "support/directory_fixture.h"
#include "support/test_support.h"

namespace {

struct TBook : TDirectoryFixture
{
    TTelBook Book{DM, Trace};

    TBook() { Book.Open(); }
    static TTelBook::TRun Run(const QString &start = QStringLiteral("2001"), const QString &position = QStringLiteral("1"),
                              const QString &length = QStringLiteral("100"), const QString &names = QStringLiteral("是"),
                              const QString &status = QStringLiteral("0"))
    {
        return {start, position, names, QStringLiteral("1"), status, QStringLiteral("井下电话"), length};
    }
};

} // namespace

class TstTelBook : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initialiseDefaults()
    {
        TBook b;
        QCOMPARE(b.Book.Initialise(TBook::Run()), QString());
        const QStringList rows = b.Rows(QStringLiteral("select sequence, TelNum, TelName, Address, GroupNo1, GroupNo2, GroupNo8, "
                                                       "Status, Msg from TelNumber order by sequence"));
        QCOMPARE(rows.size(), 100);
        QCOMPARE(rows.first(), QStringLiteral("1|2001|2001||1|||0|井下电话"));
        QCOMPARE(rows.last(), QStringLiteral("100|2100|2100||1|||0|井下电话"));
        QCOMPARE(b.Book.TelCount, 0); // counts change only on opening, 全部 and 组内分机
        QVERIFY(b.Book.ShowAll().isEmpty());
        QCOMPARE(b.Book.TelCount, 100);
        QCOMPARE(b.Book.Title, QStringLiteral("电话号码"));
    }

    void overwriteFromPosition51()
    {
        TBook b;
        b.Book.Initialise(TBook::Run());
        QCOMPARE(b.Book.Initialise(TBook::Run(QStringLiteral("5000"), QStringLiteral("51"), QStringLiteral("100"), QStringLiteral("否"))),
                 QString());
        const QStringList rows = b.Rows(QStringLiteral("select sequence, TelNum, TelName from TelNumber order by sequence"));
        QCOMPARE(rows.size(), 150);
        QCOMPARE(rows[49], QStringLiteral("50|2050|2050"));
        QCOMPARE(rows[50], QStringLiteral("51|5000|2051")); // 名称修改 = 否: the old name stays
        QCOMPARE(rows[99], QStringLiteral("100|5049|2100"));
        QCOMPARE(rows[100], QStringLiteral("101|5050|NULL")); // appended rows get no name
        QCOMPARE(rows[149], QStringLiteral("150|5099|NULL"));
    }

    void emptyStatusIsNull()
    {
        TBook b;
        b.Book.Initialise(TBook::Run(QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("是"), QString()));
        QCOMPARE(b.Rows(QStringLiteral("select Status from TelNumber")), (QStringList{"NULL", "NULL"}));
    }

    void badParametersWriteNothing_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("length");
        QTest::addColumn<QString>("status");
        QTest::newRow("start") << "20x1" << "10" << "0";
        QTest::newRow("length") << "2001" << "" << "0";
        QTest::newRow("status") << "2001" << "10" << "坏";
    }
    void badParametersWriteNothing()
    {
        QFETCH(QString, start);
        QFETCH(QString, length);
        QFETCH(QString, status);
        TBook b;
        QVERIFY(!b.Book.Initialise(TBook::Run(start, QStringLiteral("1"), length, QStringLiteral("是"), status)).isEmpty());
        QCOMPARE(b.Rows(QStringLiteral("select count(*) from TelNumber")), QStringList{"0"});
    }

    void aRefusedRowEndsTheRunAndKeepsWhatWasWritten()
    {
        TBook b;
        b.Rows(QStringLiteral("insert into TelNumber(TelNum, sequence) values (9, 3)"));
        // One row holds sequence 3; a run from position 2 appends sequence 2, then clashes on 3.
        QCOMPARE(b.Book.Initialise(TBook::Run(QStringLiteral("100"), QStringLiteral("2"), QStringLiteral("5"))).isEmpty(), false);
        QCOMPARE(b.Rows(QStringLiteral("select sequence, TelNum from TelNumber order by sequence")),
                 (QStringList{"2|100", "3|9"}));
    }

    void groupsWithTheirNames()
    {
        TBook b;
        QCOMPARE(b.Book.InitialiseGroups({QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("是"), {}, {},
                                          QStringLiteral("井下电话"), QStringLiteral("100")}),
                 QString());
        const QStringList rows = b.Rows(QStringLiteral("select sequence, GroupNum, GroupName, GroupMembers, GroupMsg from \"Group\" order by sequence"));
        QCOMPARE(rows.size(), 100);
        QCOMPARE(rows.first(), QStringLiteral("1|1|1组|NULL|井下电话"));
        QCOMPARE(rows.last(), QStringLiteral("100|100|100组|NULL|井下电话"));
    }

    void deleteANumberHeldByTwoRows()
    {
        TBook b;
        b.Rows(QStringLiteral("insert into TelNumber(TelNum, sequence) values (2001, 1), (2002, 2), (2001, 3)"));
        b.Book.Open();
        b.Book.Query.First();
        QCOMPARE(b.Book.DeleteCurrent(), QString());
        QCOMPARE(b.Rows(QStringLiteral("select TelNum from TelNumber")), QStringList{"2002"});
        // With no current row, the store's reason comes back and nothing is deleted.
        b.Book.Query.Last();
        b.Book.Query.Next();
        QVERIFY(!b.Book.DeleteCurrent().isEmpty());
        QCOMPARE(b.Rows(QStringLiteral("select TelNum from TelNumber")), QStringList{"2002"});
    }

    void deleteAllThenShowAll()
    {
        TBook b;
        b.Book.Initialise(TBook::Run(QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("10")));
        b.Book.DeleteAll();
        QVERIFY(!b.Book.Query.IsOpen());
        QCOMPARE(b.Book.ShowAll(), QString());
        QCOMPARE(b.Book.TelCount, 0);
    }

    void membersAndRecount()
    {
        TBook b;
        b.Directory.AddTelNumber(QStringLiteral("2001"), {}, {}, {"1", "2"}, {}, {});
        b.Directory.AddTelNumber(QStringLiteral("2002"), {}, {}, {"2"}, {}, {});
        b.Directory.AddTelNumber(QStringLiteral("2003"), {}, {}, {"02"}, {}, {});
        b.Book.InitialiseGroups({QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("是"), {}, {}, {}, QStringLiteral("3")});
        b.Book.ShowAllGroups();
        b.Book.GroupQuery.MoveTo(1);
        b.Book.ShowMembers();
        QCOMPARE(b.Book.TelCount, 2);
        b.Book.RecountMembers();
        QCOMPARE(b.Rows(QStringLiteral("select GroupNum, GroupMembers from \"Group\" order by sequence")),
                 (QStringList{"1|1", "2|2", "3|0"}));

        // A deleted and re-created group counts its old members again.
        b.Book.GroupQuery.MoveTo(1);
        QCOMPARE(b.Book.DeleteGroup(), QString());
        QCOMPARE(b.Rows(QStringLiteral("select GroupNum from \"Group\" order by sequence")), (QStringList{"1", "3"}));
        b.Book.InitialiseGroups({QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("是"), {}, {}, {}, QStringLiteral("1")});
        b.Book.RecountMembers();
        QCOMPARE(b.Rows(QStringLiteral("select GroupNum, GroupMembers from \"Group\" order by sequence")),
                 (QStringList{"1|1", "3|0", "2|2"}));

        b.Book.DeleteAllGroups();
        QCOMPARE(b.Rows(QStringLiteral("select count(*) from \"Group\"")), QStringList{"0"});
    }

    void hundredThousandRowsInOneGo()
    {
        TBook b;
        int reports = 0;
        QCOMPARE(b.Book.Initialise(TBook::Run(QStringLiteral("100000"), QStringLiteral("1"), QStringLiteral("100000")),
                                   [&reports](int, int) { ++reports; }),
                 QString());
        QCOMPARE(reports, 100);
        QCOMPARE(b.Rows(QStringLiteral("select count(*), max(sequence), max(TelNum) from TelNumber")),
                 QStringList{"100000|100000|199999"});
    }

    void idleCountdown()
    {
        TBook b;
        QCOMPARE(b.Book.IdleCountdown, 1000);
        for (int i = 0; i < 999; ++i)
            QVERIFY(!b.Book.IdleTick());
        QVERIFY(b.Book.IdleTick());
        QVERIFY(!b.Book.IdleTick());
    }
};

QTEST_GUILESS_MAIN(TstTelBook)
#include "tst_tel_book.moc"
