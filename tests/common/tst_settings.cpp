#include "common/configuration.h"
#include "common/settings_store.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TstSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstStartUsesDefaultsAndWritesNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sub/Zelvane.conf"));
        TSettingsStore store(path);
        store.Open();
        QVERIFY(QFile::exists(path)); // the key is created
        TConfiguration config;
        QStringList errors;
        config.ReadHostSide(store, errors);
        config.ReadPlatformSide(store, errors);
        config.ReadKeyboard(store, errors);
        QVERIFY(errors.isEmpty());
        QCOMPARE(config.IpAddress, QStringLiteral("192.168.0.194"));
        QCOMPARE(config.IpAddress1, QStringLiteral("192.168.0.195"));
        QCOMPARE(config.IpPort, 18196);
        QCOMPARE(config.RecIpPort, 12010);
        QCOMPARE(config.CommIpAddress, QStringLiteral("192.168.0.110"));
        QCOMPARE(config.CheckType, QStringLiteral("CRC-16/MODBUS"));
        QCOMPARE(config.CommIpPort, 20011);
        QCOMPARE(config.CommRecIpPort, 20011);
        QCOMPARE(config.CurrentKeyboard, 3);
        QCOMPARE(config.StartKeyboard, 3);
        QCOMPARE(QFileInfo(path).size(), 0); // defaults are not written back
    }

    void values_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("recIpPort");
        QTest::addColumn<int>("commRecIpPort");
        QTest::addColumn<QString>("commIpAddress");
        QTest::addColumn<int>("errors");
        QTest::newRow("names in any case") << QStringList{"RecIPport=5000", "CommRecIPport=5001", "commipaddress=10.0.0.9"}
                                           << 5000 << 5001 << "10.0.0.9" << 0;
        QTest::newRow("empty means default") << QStringList{"RecIpPort=", "CommRecIpPort=", "CommIpAddress="} << 12010
                                             << 20011 << "192.168.0.110" << 0;
        QTest::newRow("blanks around a number") << QStringList{"RecIpPort= 7000 "} << 7000 << 20011 << "192.168.0.110" << 0;
        QTest::newRow("not a number falls back") << QStringList{"RecIpPort=12x", "CommRecIpPort=0x10"} << 12010 << 20011
                                                 << "192.168.0.110" << 2;
        QTest::newRow("beyond 32 bits") << QStringList{"RecIpPort=4294967296"} << 12010 << 20011 << "192.168.0.110" << 1;
        QTest::newRow("last of two spellings wins") << QStringList{"RECIPPORT=1", "RecIpPort=2"} << 2 << 20011
                                                    << "192.168.0.110" << 0;
        QTest::newRow("last of three lines wins") << QStringList{"RecIpPort=1", "RecIpPort=2", "recipport=3"} << 3
                                                  << 20011 << "192.168.0.110" << 0;
        QTest::newRow("value holding '='") << QStringList{"CommIpAddress=a=b"} << 12010 << 20011 << "a=b" << 0;
        QTest::newRow("garbage lines") << QStringList{"\x01\x02=", "=5", "no equals", "\xff\xfe"} << 12010 << 20011
                                       << "192.168.0.110" << 0;
    }
    void values()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, recIpPort);
        QFETCH(int, commRecIpPort);
        QFETCH(QString, commIpAddress);
        QFETCH(int, errors);
        QTemporaryDir dir;
        TSettingsStore store(TestSupport::WriteSettings(dir, lines));
        store.Open();
        TConfiguration config;
        QStringList problems;
        config.ReadHostSide(store, problems);
        config.ReadPlatformSide(store, problems);
        QCOMPARE(config.RecIpPort, recIpPort);
        QCOMPARE(config.CommRecIpPort, commRecIpPort);
        QCOMPARE(config.CommIpAddress, commIpAddress);
        QCOMPARE(problems.size(), errors);
        for (const QString &p : problems)
            QVERIFY2(p.contains(QStringLiteral("RecIpPort")), qPrintable(p));
    }

    void binaryFileReadsAsDefaults()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Zelvane.conf"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray junk;
        for (int i = 0; i < 70000; ++i)
            junk += char((i * 7919) & 0xFF);
        f.write(junk);
        f.close();
        TSettingsStore store(path);
        store.Open();
        TConfiguration config;
        QStringList errors;
        config.ReadPlatformSide(store, errors);
        QCOMPARE(config.CheckType, QStringLiteral("CRC-16/MODBUS"));
    }

    void writeKeepsOtherValuesAndSpelling()
    {
        QTemporaryDir dir;
        const QString path = TestSupport::WriteSettings(dir, {"RecIPport=5000", "IpAddress=10.1.1.1"});
        TSettingsStore store(path);
        store.Open();
        QVERIFY(store.Write(QStringLiteral("RecIpPort"), QStringLiteral("6000")));
        QVERIFY(store.Write(QStringLiteral("CheckType"), QStringLiteral("CRC-16/IBM")));
        TSettingsStore again(path);
        again.Open();
        QCOMPARE(again.Read(QStringLiteral("recipport")), QStringLiteral("6000"));
        QCOMPARE(again.Read(QStringLiteral("IpAddress")), QStringLiteral("10.1.1.1"));
        QCOMPARE(again.Read(QStringLiteral("CheckType")), QStringLiteral("CRC-16/IBM"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("RecIPport=6000\nIpAddress=10.1.1.1\nCheckType=CRC-16/IBM\n"));
    }

    void unusableStoreFailsClearly()
    {
        QTemporaryDir dir;
        // A folder where the file should be: nothing can be read or written, and nothing crashes.
        const QString path = dir.filePath(QStringLiteral("Zelvane.conf"));
        QVERIFY(QDir().mkpath(path));
        TSettingsStore store(path);
        store.Open();
        QCOMPARE(store.Read(QStringLiteral("RecIpPort")), QString());
        QString why;
        QVERIFY(!store.Write(QStringLiteral("RecIpPort"), QStringLiteral("1"), &why));
        QVERIFY(!why.isEmpty());
        QCOMPARE(store.Read(QStringLiteral("RecIpPort")), QString()); // memory unchanged on failure
    }

    void valuesThatCannotBeStored()
    {
        QTemporaryDir dir;
        TSettingsStore store(dir.filePath(QStringLiteral("Zelvane.conf")));
        store.Open();
        QVERIFY(!store.Write(QStringLiteral("IpAddress"), QStringLiteral("1.2.3.4\nRecIpPort=1")));
        QVERIFY(!store.Write(QStringLiteral("a=b"), QStringLiteral("1")));
        QCOMPARE(store.Read(QStringLiteral("RecIpPort")), QString());
    }
};

QTEST_GUILESS_MAIN(TstSettings)
#include "tst_settings.moc"
