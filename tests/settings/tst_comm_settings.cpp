#include "settings/comm_settings.h"
#include "app/varnex_core.h"
#include "support/test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
QString FileText(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}
} // namespace

class TstCommSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void forms()
    {
        TConfiguration config;
        const auto host = TCommSettings::Form(TCommSettings::Host, config);
        QCOMPARE(host.Title, QStringLiteral("跟调度机连接通讯设置对话框"));
        QCOMPARE(host.Labels, (QStringList{"左侧CPU地址", "右侧CPU地址", "发送端口号", "接收端口号", "本机内网IP"}));
        QCOMPARE(host.Texts.mid(0, 4), (QStringList{"192.168.0.194", "192.168.0.195", "18196", "12010"}));
        QCOMPARE(host.Entries[3].size(), 8);
        QCOMPARE(host.Entries[3].first(), QStringLiteral("13001"));
        QCOMPARE(host.Entries[4].mid(0, 2), (QStringList{"192.168.0.152", "192.168.0.86"}));
        QCOMPARE(host.Entries[4].size(), 3); // and the host's own address
        const auto platform = TCommSettings::Form(TCommSettings::Platform, config);
        QCOMPARE(platform.Title, QStringLiteral("跟安检系统通讯设置对话框"));
        QCOMPARE(platform.Labels, (QStringList{"安检IP地址", "校验类型", "我方发送端口", "我方接收端口", "本机外网IP"}));
        QCOMPARE(platform.Entries[1], (QStringList{"CRC-16/IBM", "CRC-16/MODBUS"}));
        QCOMPARE(platform.Texts.mid(0, 4), (QStringList{"192.168.0.110", "CRC-16/MODBUS", "20011", "20011"}));
    }

    void confirmWritesInOrderAndTheReceivePortWaits()
    {
        QTemporaryDir dir;
        TRecordingPlayer player;
        auto core = TestSupport::StartCore(dir, {}, &player);
        const int listening = core->HostLink().CommToPabx().LocalPort();
        const auto outcome = TCommSettings::Apply(TCommSettings::Host, {"127.0.0.5", "127.0.0.6", "18200", "13001", "10.0.0.1"},
                                                  core->Config(), core->Settings());
        QCOMPARE(outcome.Error, QString());
        QVERIFY(outcome.Notice.contains(QStringLiteral("13001")));
        QCOMPARE(core->Config().IpAddress, QStringLiteral("127.0.0.5"));
        QCOMPARE(core->Config().IpPort, 18200);
        QCOMPARE(core->Config().RecIpPort, 13001);
        QCOMPARE(int(core->HostLink().CommToPabx().LocalPort()), listening);
        TSettingsStore again(core->Settings().Path());
        again.Open();
        QCOMPARE((QStringList{again.Read("IpAddress"), again.Read("IpAddress1"), again.Read("IpPort"), again.Read("LocalIPAddr")}),
                 (QStringList{"127.0.0.5", "127.0.0.6", "18200", "10.0.0.1"}));
        // Read back at the next start under its own name.
        TConfiguration next;
        QStringList errors;
        next.ReadHostSide(again, errors);
        QCOMPARE(next.RecIpPort, 13001);

        // The new platform address applies to the very next datagram.
        QVERIFY(TCommSettings::Apply(TCommSettings::Platform, {"127.0.0.9", "CRC-16/IBM", "20006", QString::number(core->Config().CommRecIpPort), ""},
                                     core->Config(), core->Settings())
                    .Error.isEmpty());
        core->PlatformLink().CommToMonitorUDPRead(QByteArray("x"), QStringLiteral("127.0.0.1"));
        QCOMPARE(core->PlatformLink().CommConectedIp(), QStringLiteral("安检监控平台通讯状态:不正确IP 127.0.0.1"));
        QCOMPARE(core->Config().CheckType, QStringLiteral("CRC-16/IBM"));
    }

    void receivePortsAreWrittenUnderTheirHistoricNames()
    {
        QTemporaryDir dir;
        TSettingsStore store(TestSupport::WriteSettings(dir, {}));
        store.Open();
        TConfiguration config;
        QVERIFY(TCommSettings::Apply(TCommSettings::Host, {"10.0.0.1", "10.0.0.2", "1", "2", "10.0.0.3"}, config, store).Error.isEmpty());
        QVERIFY(TCommSettings::Apply(TCommSettings::Platform, {"10.0.0.4", "CRC-16/IBM", "3", "4", "10.0.0.5"}, config, store)
                    .Error.isEmpty());
        QCOMPARE(FileText(store.Path()),
                 QStringLiteral("IpAddress=10.0.0.1\nIpAddress1=10.0.0.2\nIpPort=1\nRecIPport=2\nLocalIPAddr=10.0.0.3\n"
                                "CommIpAddress=10.0.0.4\nCheckType=CRC-16/IBM\nCommIpPort=3\nCommRecIPport=4\n"
                                "CommLocalIPAddr=10.0.0.5\n"));
    }

    void badFieldsChangeNothing_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("named");
        const int host = TCommSettings::Host, platform = TCommSettings::Platform;
        QTest::newRow("letters as the send port") << host << QStringList{"1.1.1.1", "2.2.2.2", "abc", "13001", ""} << 2 << "发送端口号";
        QTest::newRow("receive port 0") << host << QStringList{"1.1.1.1", "2.2.2.2", "18196", "0", ""} << 3 << "接收端口号";
        QTest::newRow("receive port 70000") << host << QStringList{"1.1.1.1", "2.2.2.2", "18196", "70000", ""} << 3 << "接收端口号";
        QTest::newRow("empty first field") << host << QStringList{"", "2.2.2.2", "18196", "13001", ""} << 0 << "左侧CPU地址";
        QTest::newRow("letters as the left CPU") << host << QStringList{"abc", "2.2.2.2", "18196", "13001", ""} << 0 << "左侧CPU地址";
        QTest::newRow("three parts") << host << QStringList{"1.1.1.1", "1.2.3", "18196", "13001", ""} << 1 << "右侧CPU地址";
        QTest::newRow("a part over 255") << host << QStringList{"1.1.1.1", "1.2.3.256", "18196", "13001", ""} << 1 << "右侧CPU地址";
        QTest::newRow("blank around") << host << QStringList{" 1.1.1.1", "2.2.2.2", "18196", "13001", ""} << 0 << "左侧CPU地址";
        QTest::newRow("own address a name") << host << QStringList{"1.1.1.1", "2.2.2.2", "18196", "13001", "myhost"} << 4 << "本机内网IP";
        QTest::newRow("platform address") << platform << QStringList{"10.1.31", "CRC-16/IBM", "20006", "20011", ""} << 0 << "安检IP地址";
        QTest::newRow("unknown check type") << platform << QStringList{"10.1.31.240", "CRC-32", "20006", "20011", ""} << 1 << "校验类型";
    }
    void badFieldsChangeNothing()
    {
        QFETCH(int, side);
        QFETCH(QStringList, texts);
        QFETCH(int, row);
        QFETCH(QString, named);
        QCOMPARE(TCommSettings::Check(TCommSettings::TSide(side), texts).Row, row);
        QTemporaryDir dir;
        TSettingsStore store(TestSupport::WriteSettings(dir, {"IpPort=1"}));
        store.Open();
        TConfiguration config;
        const TConfiguration before = config;
        const auto outcome = TCommSettings::Apply(TCommSettings::TSide(side), texts, config, store);
        QVERIFY2(outcome.Error.contains(named), qPrintable(outcome.Error));
        QCOMPARE(config.IpAddress, before.IpAddress);
        QCOMPARE(config.IpPort, before.IpPort);
        QCOMPARE(config.CommIpAddress, before.CommIpAddress);
        QCOMPARE(config.CheckType, before.CheckType);
        QCOMPARE(FileText(store.Path()), QStringLiteral("IpPort=1\n"));
    }
};

QTEST_GUILESS_MAIN(TstCommSettings)
#include "tst_comm_settings.moc"
