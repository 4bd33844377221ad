#include "common/traffic_log.h"

#include <QSignalSpy>
#include <QTest>

class TstTrafficLog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void writersRule_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("hostTicked");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("shown, host not ticked") << true << false << QStringList{"plain", "always"};
        QTest::newRow("shown, host ticked") << true << true << QStringList{"plain", "host", "always"};
        QTest::newRow("not shown, host ticked") << false << true << QStringList{"always"};
        QTest::newRow("not shown") << false << false << QStringList{"always"};
    }
    void writersRule()
    {
        QFETCH(bool, shown);
        QFETCH(bool, hostTicked);
        QFETCH(QStringList, kept);
        TTrafficLog log;
        log.SetShown(shown);
        log.SetHostMessagesShown(hostTicked);
        log.Append(QStringLiteral("plain"));
        log.AppendHost(QStringLiteral("host"));
        log.AppendAlways(QStringLiteral("always"));
        QCOMPARE(log.Lines(), QStringList{"消息发包显示"} + kept);
    }

    void keepsTheNewestLines()
    {
        TTrafficLog log;
        QSignalSpy added(&log, &TLineLog::LineAdded);
        for (int i = 0; i < TLineLog::MaxLines + 5; ++i)
            log.Append(QString::number(i));
        QCOMPARE(log.Lines().size(), TLineLog::MaxLines);
        QCOMPARE(log.Lines().first(), QStringLiteral("5")); // the first line and lines 0 to 4 dropped off
        QCOMPARE(log.Lines().last(), QString::number(TLineLog::MaxLines + 4));
        QCOMPARE(added.size(), TLineLog::MaxLines + 5);
    }

    void clearRemovesTheFirstLineToo()
    {
        TTrafficLog log;
        QSignalSpy cleared(&log, &TLineLog::Cleared);
        log.Clear();
        QCOMPARE(log.Lines(), QStringList());
        QCOMPARE(cleared.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstTrafficLog)
#include "tst_traffic_log.moc"
