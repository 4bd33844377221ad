#include "platform_link/ldtx_frame.h"
#include "support/test_support.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>

// The .deb as it would be installed: built with cpack, unpacked into a folder, started from there.
class TstPackage : public QObject
{
    Q_OBJECT

    static int Run(const QString &program, const QStringList &arguments, const QString &folder, QString *output)
    {
        QProcess p;
        p.setWorkingDirectory(folder);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, arguments);
        if (!p.waitForFinished(120000))
            return -1;
        *output = QString::fromUtf8(p.readAll());
        return p.exitCode();
    }

private Q_SLOTS:
    void unpackedPackageServes()
    {
        QTemporaryDir dir;
        QString output;
        // ctest builds the package once for this test and the package checks (VARNEX_TEST_PACKAGE
        // names its folder); run by hand, the test builds its own.
        QDir packageFolder(qEnvironmentVariable("VARNEX_TEST_PACKAGE"));
        if (qEnvironmentVariableIsEmpty("VARNEX_TEST_PACKAGE")) {
            QCOMPARE(Run(QStringLiteral("cpack"), {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), dir.path()},
                         TestSupport::BuildPath(QString()), &output),
                     0);
            packageFolder.setPath(dir.path());
        }
        const QStringList debs = packageFolder.entryList({QStringLiteral("varnex_*.deb")});
        QVERIFY2(debs.size() == 1, qPrintable(output + packageFolder.path()));
        const QString deb = packageFolder.absoluteFilePath(debs[0]);
        const QString root = dir.filePath(QStringLiteral("root"));
        QCOMPARE(Run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, root}, dir.path(), &output), 0);
        for (const char *file : {"usr/bin/varnex", "usr/share/varnex/w0.wav", "usr/share/applications/varnex.desktop",
                                 "usr/share/icons/hicolor/scalable/apps/varnex.svg", "usr/lib/systemd/system/varnex.service",
                                 "usr/lib/systemd/system/varnex-web.service",
                                 "usr/share/doc/varnex/examples/site/key.dat"})
            QVERIFY2(QFile::exists(root + QLatin1Char('/') + QLatin1String(file)), file);
        QCOMPARE(Run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Depends")},
                     dir.path(), &output),
                 0);
        QVERIFY2(output.contains(QStringLiteral("libqt6core6")), qPrintable(output));

        QUdpSocket platform;
        QVERIFY(platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        const QList<int> ports = TestSupport::FreeUdpPorts(2);
        QDir().mkpath(dir.filePath(QStringLiteral("state")));
        QFile settings(dir.filePath(QStringLiteral("state/Zelvane.conf")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral("CommIpAddress=127.0.0.1\nCommIpPort=%1\nCommRecIpPort=%2\nRecIpPort=%3\nHttpAddress=\n")
                           .arg(platform.localPort())
                           .arg(ports[0])
                           .arg(ports[1])
                           .toUtf8());
        settings.close();
        QProcess service; // as the unit runs it
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), TestSupport::RuntimeFolder(dir));
        service.setProcessEnvironment(env);
        service.setWorkingDirectory(dir.filePath(QStringLiteral("state")));
        service.start(root + QStringLiteral("/usr/bin/varnex"),
                      {QStringLiteral("--headless"), QStringLiteral("--data-dir"), dir.filePath(QStringLiteral("state"))});
        QVERIFY(service.waitForStarted(10000));
        QTRY_COMPARE_WITH_TIMEOUT(TestSupport::AskCount(platform, ports[0], LdtxFrame::GroupListQuery), 0, 10000);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("state/DATA/ChaDB.sqlite"))));
        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);

        // Installed, the program never puts DATA/ beside itself, even where it could write
        // (root, or as here an unpacked tree): without --data-dir it is the user's data folder.
        QProcess import;
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("user-data")));
        import.setProcessEnvironment(env);
        import.start(root + QStringLiteral("/usr/bin/varnex"),
                     {QStringLiteral("import"), root + QStringLiteral("/usr/share/doc/varnex/examples/site/directory.csv")});
        QVERIFY(import.waitForFinished(30000));
        QVERIFY2(import.exitCode() == 0, import.readAllStandardError().constData());
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("user-data/varnex/DATA/ChaDB.sqlite"))));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/usr/bin/DATA")));
    }
};

QTEST_GUILESS_MAIN(TstPackage)
#include "tst_package.moc"
