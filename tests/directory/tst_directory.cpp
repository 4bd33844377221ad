#include "directory/directory.h"
#include "directory/directory_store.h"
#include "store/change_listener.h"
#include "common/line_log.h"
#include "support/directory_fixture.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>

namespace {

// A directory in a fresh program folder.
struct TStore : TDirectoryFixture
{
    QSqlQuery Sql(const QString &statement)
    {
        QSqlQuery q(QSqlDatabase::database(DM.Connection()));
        q.exec(statement);
        return q;
    }
    QString Add(const QString &num, const QString &name = QString(), const QStringList &groups = {},
                const QString &status = QString(), const QString &msg = QString(), const QString &address = QString())
    {
        return Directory.AddTelNumber(num, name, address, groups, status, msg);
    }
};

} // namespace

class TstDirectory : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase_data() { TestSupport::EnginesData(); }
    void init() { VARNEX_INIT_ENGINE(); }

    void createdAtFirstStartOnly()
    {
        VARNEX_FILES_ONLY();
        TStore s;
        QVERIFY2(s.Prepared, qPrintable(s.Error));
        QVERIFY(QFile::exists(s.Dir.filePath(QStringLiteral("DATA/ChaDB.sqlite"))));
        QCOMPARE(s.Rows(QStringLiteral("select sql from sqlite_master order by name")),
                 (QStringList{TDM::CreateGroup(), TDM::CreateTelNumber(), TDM::CreateTelNumIndex()}));
        QCOMPARE(s.Directory.ListTelNumbers(), 0);
        QCOMPARE(s.Directory.ListGroups(), 0);

        // A DATA folder without tables is left as it is: listings fail, the operator is told once.
        QTemporaryDir other;
        QVERIFY(QDir().mkpath(other.filePath(QStringLiteral("DATA"))));
        TDM dm;
        TLineLog log;
        TDirectory directory(dm, log);
        QString why;
        QVERIFY(dm.Prepare(other.path(), &why));
        QCOMPARE(directory.ListGroups(), 0);
        QCOMPARE(directory.ListGroups(), 0);
        QCOMPARE(log.Lines().size(), 1);
        QVERIFY(log.Lines().first().startsWith(QStringLiteral("电话号码库不可用")));
    }

    // A ChaDB.sqlite that cannot be the directory: what the operator reads, at start or at the
    // first listing, names the file and says what is wrong with it.
    void directoryFileThatCannotBeUsed_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said");
        QTest::newRow("a folder in its place") << "folder" << "是一个文件夹";
        QTest::newRow("a text file in its place") << "text" << "已损坏";
    }
    void directoryFileThatCannotBeUsed()
    {
        VARNEX_FILES_ONLY();
        QFETCH(QString, kind);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("DATA/ChaDB.sqlite"));
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(file));
        } else {
            QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("DATA"))));
            QFile text(file);
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write(QByteArray("序号,分机号码\n").repeated(200));
        }
        TDM dm;
        TLineLog log;
        TDirectory directory(dm, log);
        QString why;
        if (dm.Prepare(dir.path(), &why)) {
            QCOMPARE(directory.ListTelNumbers(), 0);
            why = log.Lines().value(0);
        }
        QVERIFY2(why.contains(QDir::toNativeSeparators(file)), qPrintable(why));
        QVERIFY2(why.contains(said), qPrintable(why));
        // The copy the platform's requests are answered from says the same.
        directory.Copy().Rows();
        QVERIFY2(!log.Lines().isEmpty() && log.Lines().last().contains(said), qPrintable(log.Lines().join(QLatin1Char('\n'))));
    }

    void addOrUpdate()
    {
        TStore s;
        QCOMPARE(s.Add(QStringLiteral("2001"), QStringLiteral("井口"), {"1", "3"}, QStringLiteral("0"), QStringLiteral("井下电话")), QString());
        QCOMPARE(s.Add(QStringLiteral("2002"), QStringLiteral("绞车房")), QString());
        QCOMPARE(s.Directory.NextSequence, 3);
        QCOMPARE(s.Rows(QStringLiteral("select TelNum, sequence, TelName, GroupNo1, GroupNo2, GroupNo3, Msg, Status from TelNumber order by sequence")),
                 (QStringList{"2001|1|井口|1|3||井下电话|0", "2002|2|绞车房|||||NULL"}));

        // The same number again: every column but sequence and ImpFlag is overwritten, empty
        // texts included.
        s.Sql(QStringLiteral("update TelNumber set ImpFlag='重要' where TelNum=2001"));
        QCOMPARE(s.Add(QStringLiteral("2001"), QString(), {QString(), "5"}, QString(), QString()), QString());
        QCOMPARE(s.Rows(QStringLiteral("select TelNum, sequence, TelName, GroupNo1, GroupNo2, Msg, Status, ImpFlag from TelNumber where sequence=1")),
                 QStringList{"2001|1|||5||NULL|重要"});
        QCOMPARE(s.Directory.NextSequence, 3);

        // An empty number writes nothing.
        QCOMPARE(s.Add(QString(), QStringLiteral("x")), QString());
        QCOMPARE(s.Directory.NextSequence, 3);
        QCOMPARE(s.Directory.ListTelNumbers(), 2);
    }

    // A refused value names the column as the windows caption it, never the database's name.
    void conversionErrorsWriteNothing_data()
    {
        QTest::addColumn<QString>("num");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("field");
        QTest::newRow("number") << "20a1" << "0" << "分机号码" << "TelNum";
        QTest::newRow("status") << "2001" << "正常" << "状态" << "Status";
    }
    void conversionErrorsWriteNothing()
    {
        QFETCH(QString, num);
        QFETCH(QString, status);
        QFETCH(QString, caption);
        QFETCH(QString, field);
        TStore s;
        const QString said = s.Add(num, QStringLiteral("x"), {}, status);
        QVERIFY2(said.contains(caption) && !said.contains(field), qPrintable(said));
        QCOMPARE(s.Directory.ListTelNumbers(), 0);
    }

    void widthsInGbkBytes()
    {
        TStore s;
        const QString longName = QString(30, QChar(u'瓦'));          // 60 GBK bytes
        const QString mixed = QStringLiteral("a") + QString(30, QChar(u'斯')); // 61 GBK bytes
        QCOMPARE(s.Add(QStringLiteral("1"), longName, {QStringLiteral("12345678901")}), QString());
        QCOMPARE(s.Add(QStringLiteral("2"), mixed), QString());
        QCOMPARE(s.Rows(QStringLiteral("select TelName, GroupNo1 from TelNumber order by sequence")),
                 (QStringList{QString(25, QChar(u'瓦')) + QStringLiteral("|1234567890"),
                              QStringLiteral("a") + QString(24, QChar(u'斯')) + QStringLiteral("|")}));
    }

    void numbering()
    {
        TStore s;
        QCOMPARE(s.Directory.GetTelNumberAmount(), QString());
        QCOMPARE(s.Directory.NextSequence, 0); // empty table: kept
        for (int n = 1; n <= 40; ++n)
            s.Add(QString::number(3000 + n));
        QCOMPARE(s.Rows(QStringLiteral("select min(sequence), max(sequence) from TelNumber")), QStringList{"1|40"});
        s.Directory.NextSequence = 0;
        QCOMPARE(s.Directory.GetTelNumberAmount(), QString());
        QCOMPARE(s.Directory.NextSequence, 41);
        // Numbering goes on after deletions in the same run.
        s.Sql(QStringLiteral("delete from TelNumber"));
        QCOMPARE(s.Directory.GetTelNumberAmount(), QString());
        QCOMPARE(s.Directory.NextSequence, 41);
        s.Add(QStringLiteral("4000"));
        QCOMPARE(s.Rows(QStringLiteral("select sequence from TelNumber")), QStringList{"41"});
    }

    void members()
    {
        TStore s;
        s.Add(QStringLiteral("2001"), QStringLiteral("a"), {"3", "3"});
        s.Add(QStringLiteral("2002"), QStringLiteral("b"), {"03"});
        s.Add(QStringLiteral("2003"), QStringLiteral("c"), {"1", "2", "4", "5", "6", "7", "8", "3"});
        s.Add(QStringLiteral("2004"), QStringLiteral("d"), {"3' or '1"});
        QCOMPARE(s.Directory.ListMembers(QStringLiteral("3"), true), 2);
        QStringList numbers;
        for (TLiveQuery &q = s.Directory.Query(); !q.Eof(); q.Next())
            numbers << q.Value(QStringLiteral("TelNum")).toString();
        QCOMPARE(numbers, (QStringList{"2001", "2003"}));
        QCOMPARE(s.Directory.ListMembers(QStringLiteral("3' or '1"), false), 1);
        QCOMPARE(s.Directory.ListTelNumbers(), 4);
    }

    void liveEditing()
    {
        TStore s;
        s.Sql(QStringLiteral("insert into \"Group\"(GroupNum, sequence, GroupName) values (1, 1, '1组'), (2, 2, '2组'), (3, 3, '3组')"));
        TLiveQuery q(s.DM.Connection());
        QVERIFY(q.Open(QStringLiteral("Group"), QString(), {}, QStringLiteral("sequence asc")));
        QCOMPARE(q.RowsAffected(), 3);
        q.Last();
        QCOMPARE(q.Value(QStringLiteral("groupname")).toString(), QStringLiteral("3组"));
        q.MoveBy(-2);
        QCOMPARE(q.Value(QStringLiteral("GroupNum")).toInt(), 1);
        QVERIFY(q.Edit());
        QVERIFY(q.Assign(QStringLiteral("GroupMsg"), QStringLiteral("调度")));
        QVERIFY(q.Post());
        q.Next();
        QVERIFY(q.Delete());
        QCOMPARE(q.RecordCount(), 2);
        q.Append();
        QVERIFY(q.Assign(QStringLiteral("GroupNum"), 9));
        QString why;
        QVERIFY(!q.Post(&why)); // sequence is NOT NULL: said by the window's name for it
        QVERIFY2(why.contains(QStringLiteral("序号")) && !why.contains(QStringLiteral("sequence")), qPrintable(why));
        q.Cancel();
        QCOMPARE(q.RecordCount(), 2);
        QCOMPARE(s.Rows(QStringLiteral("select GroupNum, GroupMsg from \"Group\" order by sequence")).first(),
                 QStringLiteral("1|调度"));
        QVERIFY(q.Execute(QStringLiteral("delete from \"Group\"")));
        QCOMPARE(q.RowsAffected(), 2);
    }

    void unusableFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("garbage") << QByteArray(5000, '\x5A');
    }
    void unusableFiles()
    {
        VARNEX_FILES_ONLY();
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("DATA"))));
        QFile file(dir.filePath(QStringLiteral("DATA/ChaDB.sqlite")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        TDM dm;
        TLineLog log;
        TDirectory directory(dm, log);
        QString why;
        dm.Prepare(dir.path(), &why);
        QCOMPARE(directory.ListGroups(), 0);
        QCOMPARE(directory.ListTelNumbers(), 0);
        QVERIFY(!directory.AddTelNumber(QStringLiteral("1"), {}, {}, {}, {}, {}).isEmpty());
        QVERIFY(!log.Lines().isEmpty());
        QFile after(dir.filePath(QStringLiteral("DATA/ChaDB.sqlite")));
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), content); // nothing written over the operator's file
    }

    void lockedByAnotherConnection()
    {
        TStore s;
        s.Add(QStringLiteral("2001"));
        // Another program holds the table: a listing and a write give up after the busy
        // timeout with the store's reason, not a frozen window.
        QSqlDatabase other = s.DM.AddConnection(QStringLiteral("other"), QStringLiteral("test"), false);
        QVERIFY(other.open());
        QSqlQuery lock(other);
        if (TestSupport::OnServer())
            QVERIFY(lock.exec(QStringLiteral("BEGIN")) && lock.exec(QStringLiteral("LOCK TABLE TelNumber IN ACCESS EXCLUSIVE MODE")));
        else
            QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QCOMPARE(s.Directory.ListTelNumbers(), 0);
        const QString refused = s.Add(QStringLiteral("2002"));
        QVERIFY2(refused.startsWith(TDM::BusyText()), qPrintable(refused));
        lock.exec(QStringLiteral("ROLLBACK"));
        lock = QSqlQuery();
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        QCOMPARE(s.Directory.ListTelNumbers(), 1);
    }

    // One number stored on the server, and the copy following it.
    static bool OneNumberFollowed(TDirectory &directory)
    {
        return directory.AddTelNumber(QStringLiteral("2001"), QStringLiteral("井口"), {}, {"7"}, {}, {}).isEmpty()
            && QTest::qWaitFor([&] { return directory.Copy().Rows() && directory.Copy().Rows()->Phones.size() == 1; }, 5000);
    }

    // A failure the server gave no words for is told by its cause alone: no empty brackets.
    void failureWithoutServerWords_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("said");
        QTest::newRow("lock held") << "55P03" << int(QSqlError::StatementError) << TDM::BusyText();
        QTest::newRow("statement timeout") << "57014" << int(QSqlError::StatementError) << TDM::TimedOutText();
        QTest::newRow("connection lost") << "08006" << int(QSqlError::ConnectionError) << TDM::UnreachableText();
        QTest::newRow("disk full") << "53100" << int(QSqlError::StatementError) << TDM::DiskFullText();
    }
    void failureWithoutServerWords()
    {
        VARNEX_NO_STORE();
        QFETCH(QString, state);
        QFETCH(int, type);
        QFETCH(QString, said);
        QCOMPARE(TDM::Explain(QSqlError(QString(), QString(), QSqlError::ErrorType(type), state)), said);
        QCOMPARE(TDM::LostServerText(QString()), TDM::UnreachableText());
        QCOMPARE(TDM::LostServerText(QStringLiteral("timeout expired")), TDM::UnreachableText() + QStringLiteral("(timeout expired)"));
    }

    // A server that hangs (its sockets still take bytes, nothing answers) is noticed by the
    // copy, which keeps answering from what it read; going on again, it is read at once.
    void serverThatHangs()
    {
        if (!TestSupport::OnServer())
            QSKIP("a server of its own");
        TStore s;
        TLineLog log;
        TDirectory directory(s.DM, log);
        TDirectoryCopy &copy = directory.Copy();
        QVERIFY(OneNumberFollowed(directory));

        const auto resume = qScopeGuard([] { TPgServer::Shared().Pause(false); });
        QVERIFY(TPgServer::Shared().Pause(true));
        QTRY_VERIFY_WITH_TIMEOUT((copy.Rows(), log.Lines().size() == 1),
                                 TChangeListener::CheckMs + TChangeListener::AnswerMs + 3000);
        QVERIFY2(log.Lines().first().startsWith(TDirectoryCopy::UnreadableText()), qPrintable(log.Lines().first()));
        QCOMPARE(copy.Rows()->Phones.size(), size_t(1));
        // An operator's edit meanwhile runs where the links run: it fails with the reason after
        // a few seconds rather than hold them until the server wakes.
        QElapsedTimer edit;
        edit.start();
        const QString why = directory.AddTelNumber(QStringLiteral("2002"), {}, {}, {}, {}, {});
        QVERIFY2(why.startsWith(TDM::UnreachableText()), qPrintable(why));
        QVERIFY2(edit.elapsed() < 10000, qPrintable(QString::number(edit.elapsed())));
        QTest::qWait(6000); // a longer outage: the pause between tries must not have grown with it

        QVERIFY(TPgServer::Shared().Pause(false));
        QTRY_VERIFY_WITH_TIMEOUT((copy.Rows(), log.Lines().size() == 2), TChangeListener::MaxRetryMs + 3000);
        QCOMPARE(log.Lines().last(), TDirectoryCopy::ReadableAgainText());
    }

    // The server killed under a running program: the copy keeps answering, the operator is
    // told once, edits are refused with the reason and no wait; back, all works again.
    void serverThatGoesAway()
    {
        if (!TestSupport::OnServer())
            QSKIP("a server of its own");
        TStore s;
        TLineLog log;
        TDirectory directory(s.DM, log);
        TDirectoryCopy &copy = directory.Copy();
        QVERIFY(OneNumberFollowed(directory));

        const auto restart = qScopeGuard([] { TPgServer::Shared().Start(); });
        QVERIFY(TPgServer::Shared().Kill());
        QTRY_VERIFY_WITH_TIMEOUT((copy.Rows(), log.Lines().size() == 1), 5000);
        QVERIFY2(log.Lines().first().startsWith(TDirectoryCopy::UnreadableText()), qPrintable(log.Lines().first()));
        QCOMPARE(copy.Rows()->Phones.size(), size_t(1));
        QElapsedTimer refused;
        refused.start();
        for (int attempt = 0; attempt < 3; ++attempt) {
            const QString why = directory.AddTelNumber(QStringLiteral("2002"), {}, {}, {}, {}, {});
            QVERIFY2(why.startsWith(TDM::UnreachableText()), qPrintable(why));
        }
        QVERIFY(refused.elapsed() < 5000);

        QVERIFY(TPgServer::Shared().Start());
        QTRY_VERIFY_WITH_TIMEOUT((copy.Rows(), log.Lines().size() == 2), 40000);
        QCOMPARE(log.Lines().last(), TDirectoryCopy::ReadableAgainText());
        QTRY_COMPARE_WITH_TIMEOUT(directory.AddTelNumber(QStringLiteral("2002"), {}, {}, {}, {}, {}), QString(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(copy.Rows()->Phones.size() == 2, 2000);
        QCOMPARE(log.Lines().size(), 2);
    }

    // A server not there when the program starts: it starts all the same (the operator is
    // told), and the directory is read as soon as the server comes.
    void serverDownAtStart()
    {
        if (!TestSupport::OnServer())
            QSKIP("a server of its own");
        const QString url = TestSupport::StoreUrl();
        {
            TStore s; // a directory with a row on that server
            QVERIFY(TStoreUrl::Parse(url, &s.Url, &s.Error));
            QVERIFY(s.DM.Prepare(s.Dir.path(), &s.Error, s.Url));
            QCOMPARE(s.Add(QStringLiteral("2001")), QString());
        }
        const auto restart = qScopeGuard([] { TPgServer::Shared().Start(); });
        QVERIFY(TPgServer::Shared().Stop());
        QTemporaryDir dir;
        TDM dm;
        TLineLog log;
        TDirectory directory(dm, log);
        TStoreUrl address;
        QString why;
        QVERIFY(TStoreUrl::Parse(url, &address, &why));
        QVERIFY(dm.Prepare(dir.path(), &why, address));
        QVERIFY2(why.contains(QStringLiteral("无法连接")), qPrintable(why));
        QTRY_VERIFY_WITH_TIMEOUT((directory.Copy().Rows(), log.Lines().size() == 1), 5000);
        QVERIFY2(log.Lines().first().startsWith(TDirectoryCopy::NeverReadText()), qPrintable(log.Lines().first()));
        QVERIFY(!directory.Copy().Rows());
        QVERIFY(TPgServer::Shared().Start());
        QTRY_VERIFY_WITH_TIMEOUT(directory.Copy().Rows() && directory.Copy().Rows()->Phones.size() == 1, 40000);
        QCOMPARE(log.Lines().last(), TDirectoryCopy::FirstReadText());
        // The window's statements open their connection again within the retry pause.
        QTRY_COMPARE_WITH_TIMEOUT(directory.ListTelNumbers(), 1, TDM::RetryMs + 3000);
    }

    // What another program commits reaches the copy the platform is answered from without
    // this program writing anything: the files by their version, a server by its notice.
    void copyFollowsOtherPrograms()
    {
        TStore s;
        s.Add(QStringLiteral("2001"), QStringLiteral("井口"), {"7"});
        TDirectoryCopy &copy = s.Directory.Copy();
        QTRY_VERIFY_WITH_TIMEOUT(copy.Rows() && copy.Rows()->Phones.size() == 1, 5000);
        QCOMPARE(copy.Rows()->Groups.size(), size_t(0));

        QSqlDatabase other = s.DM.AddConnection(QStringLiteral("other"), QStringLiteral("test"), false);
        QVERIFY(other.open());
        QSqlQuery write(other);
        QVERIFY2(write.exec(QStringLiteral("insert into \"Group\"(GroupNum, sequence, GroupName) values (7, 1, '七采区')")),
                 qPrintable(write.lastError().text()));
        QTRY_VERIFY_WITH_TIMEOUT(copy.Rows()->Groups.size() == 1, 2000);
        QCOMPARE(copy.Rows()->Groups.front().Name, QStringLiteral("七采区"));
        QVERIFY(write.exec(QStringLiteral("update TelNumber set TelName='副井口' where TelNum=2001")));
        QTRY_COMPARE_WITH_TIMEOUT(copy.Rows()->Phones.front().Name, QStringLiteral("副井口"), 2000);
        write = QSqlQuery();
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
    }
};

QTEST_GUILESS_MAIN(TstDirectory)
#include "tst_directory.moc"
