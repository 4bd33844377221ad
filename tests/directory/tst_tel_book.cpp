#include "directory/directory.h"
#include "directory/directory_store.h"
#include "directory/tel_book.h"
#include "common/line_log.h"
#include "common/trace_sink.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>

#include "directory/number_import.h"
#include "support/directory_fixture.h"
#include "support/other_program.h"
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
    void initTestCase_data() { TestSupport::EnginesData(); }
    void init() { VARNEX_INIT_ENGINE(); }

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

    // A number typed over the marked row but never saved is given up before the deletion: the
    // stored row's number goes, never the typed one; the operator is told what was given up.
    void deleteActsOnTheStoredRow_data()
    {
        QTest::addColumn<bool>("groups");
        QTest::newRow("删除") << false;
        QTest::newRow("删除组") << true;
    }
    void deleteActsOnTheStoredRow()
    {
        QFETCH(bool, groups);
        TBook b;
        const QString table = groups ? QStringLiteral("\"Group\"") : QStringLiteral("TelNumber");
        const QString column = groups ? QStringLiteral("GroupNum") : QStringLiteral("TelNum");
        b.Rows(QStringLiteral("insert into %1(%2, sequence) values (2001, 1), (2010, 2), (2010, 3)").arg(table, column));
        b.Book.Open();
        TLiveQuery &query = groups ? b.Book.GroupQuery : b.Book.Query;
        if (groups)
            b.Book.ShowAllGroups();
        query.First();
        QVERIFY(query.Edit());
        QVERIFY(query.Assign(column, QStringLiteral("2010")));
        const QString said = groups ? b.Book.DeleteGroup() : b.Book.DeleteCurrent();
        QVERIFY2(said.contains(QStringLiteral("2010")) && said.contains(QStringLiteral("放弃")), qPrintable(said));
        QCOMPARE(b.Rows(QStringLiteral("select %1 from %2 order by sequence").arg(column, table)), (QStringList{"2010", "2010"}));
        QVERIFY(!query.Pending());
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

    // The counts follow deletions: never more rows counted than the list holds.
    void countsFollowDeletions()
    {
        TBook b;
        b.Book.Initialise(TBook::Run(QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("5")));
        b.Book.InitialiseGroups({QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("是"), {}, {}, {}, QStringLiteral("3")});
        QVERIFY(b.Book.ShowAll().isEmpty());
        b.Book.ShowAllGroups();
        QCOMPARE(b.Book.TelCount, 5);
        QCOMPARE(b.Book.GroupCount, 3);
        b.Book.Query.MoveTo(2);
        QCOMPARE(b.Book.DeleteCurrent(), QString());
        QCOMPARE(b.Book.TelCount, 4);
        b.Book.GroupQuery.MoveTo(0);
        QCOMPARE(b.Book.DeleteGroup(), QString());
        QCOMPARE(b.Book.GroupCount, 2);
        QCOMPARE(b.Book.DeleteAll(), QString());
        QCOMPARE(b.Book.TelCount, 0);
        QCOMPARE(b.Book.DeleteAllGroups(), QString());
        QCOMPARE(b.Book.GroupCount, 0);
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
        // The title says the list is one group's, until 全部.
        QVERIFY2(b.Book.Title.contains(QStringLiteral("只显示组 2 的分机")), qPrintable(b.Book.Title));
        QVERIFY(b.Book.ShowAll().isEmpty());
        QCOMPARE(b.Book.Title, QStringLiteral("电话号码"));
        b.Book.GroupQuery.MoveTo(1);
        b.Book.ShowMembers();
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
                                   [&reports](int, int) { ++reports; return true; }),
                 QString());
        QVERIFY(reports >= 100); // every 1000 rows, and every few milliseconds besides
        QCOMPARE(b.Rows(QStringLiteral("select count(*), max(sequence), max(TelNum) from TelNumber")),
                 QStringList{"100000|100000|199999"});
    }

    // Another program reading the directory keeps every multi-row write from committing: the
    // operator is told so, nothing is stored, and no transaction stays open afterwards.
    void aFailedCommitStoresNothing_data()
    {
        QTest::addColumn<QString>("action");
        for (const char *action : {"import", "init", "initGroups", "delete", "deleteGroup", "deleteAll", "deleteAllGroups", "recount"})
            QTest::newRow(action) << QString::fromLatin1(action);
    }
    void aFailedCommitStoresNothing()
    {
        VARNEX_FILES_ONLY();
        QFETCH(QString, action);
        TBook b;
        b.Rows(QStringLiteral("insert into TelNumber(TelNum, sequence, GroupNo1) values (2001, 1, '1'), (2002, 2, '1'), (2001, 3, '2')"));
        b.Rows(QStringLiteral("insert into \"Group\"(GroupNum, sequence) values (1, 1), (2, 2)"));
        b.Book.Open();
        b.Book.ShowAllGroups();
        const auto all = [&b] {
            return b.Rows(QStringLiteral("select * from TelNumber order by sequence"))
                + b.Rows(QStringLiteral("select * from \"Group\" order by sequence"));
        };
        const QStringList before = all();
        const QString file = b.DM.Folder() + QStringLiteral("ChaDB.sqlite");
        QString error;
        {
            TOtherProgram reader(file, TOtherProgram::Reading());
            QVERIFY(reader.Ok);
            TNumberImport import(b.Directory, b.DM);
            if (action == QLatin1String("import"))
                error = import.Run(TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.xlsx")), QStringLiteral("a")).Message();
            else if (action == QLatin1String("init"))
                error = b.Book.Initialise(TBook::Run(QStringLiteral("5001"), QStringLiteral("1"), QStringLiteral("50")));
            else if (action == QLatin1String("initGroups"))
                error = b.Book.InitialiseGroups(TBook::Run(QStringLiteral("7"), QStringLiteral("1"), QStringLiteral("5")));
            else if (action == QLatin1String("delete"))
                error = b.Book.DeleteCurrent();
            else if (action == QLatin1String("deleteGroup"))
                error = b.Book.DeleteGroup();
            else if (action == QLatin1String("deleteAll"))
                error = b.Book.DeleteAll();
            else if (action == QLatin1String("deleteAllGroups"))
                error = b.Book.DeleteAllGroups();
            else
                error = b.Book.RecountMembers();
        }
        QVERIFY2(error.contains(TDM::BusyText()), qPrintable(error));
        QVERIFY2(!error.contains(QStringLiteral("导入成功")), qPrintable(error));
        QCOMPARE(all(), before);
        // What the window lists is what the table holds.
        if (b.Book.Query.IsOpen())
            QCOMPARE(b.Book.Query.RecordCount(), 3);
        if (b.Book.GroupQuery.IsOpen())
            QCOMPARE(b.Book.GroupQuery.RecordCount(), 2);
        // No transaction of ours is left open: another program gets the whole file at once.
        TOtherProgram writer(file, {QStringLiteral("BEGIN EXCLUSIVE")});
        QVERIFY(writer.Ok);
    }

    // A run that cannot be made says the store's own reason.
    void aMissingTableIsNamed_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("extensions") << "TelNumber";
        QTest::newRow("groups") << "Group";
    }
    void aMissingTableIsNamed()
    {
        QFETCH(QString, table);
        TBook b;
        b.Rows(QStringLiteral("drop table %1").arg(TLiveQuery::TableSql(table)));
        const QString error = table == QLatin1String("Group") ? b.Book.InitialiseGroups(TBook::Run())
                                                              : b.Book.Initialise(TBook::Run());
        QVERIFY2(error.contains(QRegularExpression(QStringLiteral("no such table|does not exist"))), qPrintable(error));
    }

    void runsStopBeforeTheLargestNumber_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("position");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("numbers pass it") << "2147483647" << "1" << false;
        QTest::newRow("sequence passes it") << "1" << "2147483646" << false;
        QTest::newRow("numbers end on it") << "2147483645" << "1" << true;
    }
    void runsStopBeforeTheLargestNumber()
    {
        QFETCH(QString, start);
        QFETCH(QString, position);
        QFETCH(bool, accepted);
        TBook b;
        const QString error = b.Book.Initialise(TBook::Run(start, position, QStringLiteral("3")));
        QCOMPARE(error.isEmpty(), accepted);
        QCOMPARE(b.Rows(QStringLiteral("select count(*) from TelNumber where TelNum < 0 or sequence < 0")), QStringList{"0"});
        QCOMPARE(b.Rows(QStringLiteral("select count(*) from TelNumber")), QStringList{accepted ? "3" : "0"});
    }

    void aCancelledRunKeepsWhatWasWritten()
    {
        TBook b;
        const QString said = b.Book.Initialise(TBook::Run(QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("5000")),
                                               [](int written, int) { return written < 2000; });
        QCOMPARE(said, QStringLiteral("已取消，已写入 2000 条记录。"));
        QCOMPARE(b.Rows(QStringLiteral("select count(*) from TelNumber")), QStringList{"2000"});
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
