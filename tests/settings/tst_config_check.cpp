#include "settings/config_check.h"
#include "common/settings_store.h"
#include "keyboard/key_table.h"
#include "support/test_support.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The ordinary mistakes of whoever writes the settings by hand: each is said, in a line that
// names the file and the setting, at start and by `varnex check-config`.
class TstConfigCheck : public QObject
{
    Q_OBJECT
    QTemporaryDir Dir;
    int Files = 0;

    QString Write(const QByteArray &text)
    {
        const QString path = Dir.filePath(QStringLiteral("%1/Zelvane.conf").arg(++Files));
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text);
        return path;
    }
    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NOTIFY_SOCKET", "JOURNAL_STREAM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Dir.filePath(QStringLiteral("runtime")));
        return env;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(Dir.isValid()); }

    void settings_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("said"); // empty: nothing to say
        QTest::addColumn<bool>("fatal");
        QTest::newRow("all well") << QByteArray("CommIpAddress=10.0.0.5\nCheckType=CRC-16/IBM\nifUse0=是\nifUse1=否\nRole=pair\n"
                                                "HttpAddress=\nDatabaseUrl=\nMainWindowPlace=AdnQywADAAA=\n")
                                  << QString() << false;
        QTest::newRow("names match without case") << QByteArray("commipaddress=10.0.0.5\nRECIPPORT=12010\n") << QString() << false;
        QTest::newRow("misspelt name") << QByteArray("CommIpAdress=10.0.0.5\n") << "CommIpAdress — 是否为 CommIpAddress？" << false;
        QTest::newRow("misspelt channel") << QByteArray("ifuse0=是\nIfUes1=是\n") << "IfUes1 — 是否为 ifUse1？" << false;
        QTest::newRow("unknown name") << QByteArray("Frobnicate=1\n") << "Frobnicate 不是本程序的设置名称" << false;
        QTest::newRow("address word") << QByteArray("IpAddress=not-an-ip\n") << "IpAddress = \"not-an-ip\" 不是 IPv4 地址" << false;
        QTest::newRow("address out of range") << QByteArray("IpAddress1=192.168.0.1999\n") << "IpAddress1 = \"192.168.0.1999\" 不是 IPv4 地址" << false;
        QTest::newRow("unknown check type") << QByteArray("CheckType=CRC16\n") << "CheckType = \"CRC16\" 不是可用的校验类型" << false;
        QTest::newRow("channel in English") << QByteArray("ifUse0=yes\n") << "ifUse0 = \"yes\" 既不是 是 也不是 否" << false;
        QTest::newRow("saved in GBK") << QByteArray("ifUse0=\xca\xc7\n") << "不是 UTF-8 编码（看来是 GBK）" << false;
        QTest::newRow("role misspelt") << QByteArray("Role=piar\n") << "Role = \"piar\" 既不是 single 也不是 pair" << true;
        QTest::newRow("web address") << QByteArray("HttpAddress=8089\n") << "HttpAddress = \"8089\" 不是 地址:端口" << false;
    }
    void settings()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, said);
        QFETCH(bool, fatal);
        TSettingsStore store(Write(text));
        store.Open();
        const QList<TConfigCheck::TProblem> problems = TConfigCheck::Settings(store);
        if (said.isEmpty()) {
            QVERIFY2(problems.isEmpty(), qPrintable(problems.value(0).Text));
            return;
        }
        QVERIFY(!problems.isEmpty());
        const auto found = std::find_if(problems.begin(), problems.end(), [&](const auto &p) { return p.Text.contains(said); });
        QVERIFY2(found != problems.end(), qPrintable(problems.first().Text));
        QVERIFY2(found->Text.startsWith(QStringLiteral("设置文件 %1：").arg(store.Path())), qPrintable(found->Text));
        QCOMPARE(found->Fatal, fatal);
    }

    void keyFile_data()
    {
        QTest::addColumn<int>("size"); // -1: no file
        QTest::addColumn<int>("keyboard");
        QTest::addColumn<QString>("said");
        QTest::newRow("as the switch exports it") << int(TKeyTable::FileSize) << 3 << QString();
        QTest::newRow("missing") << -1 << 3 << "不存在";
        QTest::newRow("empty") << 0 << 3 << "有 0 字节，不是调度机导出的 34816 字节";
        QTest::newRow("short") << 1000 << 3 << "有 1000 字节";
        QTest::newRow("long") << 40000 << 3 << "有 40000 字节";
        QTest::newRow("nothing on the keyboard in use") << int(TKeyTable::FileSize) << 5 << "当前键盘 5（设置 CurrentKeyboard）上没有任何键";
    }
    void keyFile()
    {
        QFETCH(int, size);
        QFETCH(int, keyboard);
        QFETCH(QString, said);
        const QString path = Dir.filePath(QStringLiteral("key-%1.dat").arg(++Files));
        if (size >= 0) {
            // Keyboard 3 holds one number.
            QByteArray bytes(size, '\0');
            const qsizetype at = qsizetype(3) * TKeyTable::KeysPerKeyboard * 4;
            if (size > at + 4)
                bytes.replace(at, 4, QByteArray::fromHex("d7070000"));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        const QList<TConfigCheck::TProblem> problems = TConfigCheck::KeyFile(path, keyboard);
        if (said.isEmpty()) {
            QVERIFY2(problems.isEmpty(), qPrintable(problems.value(0).Text));
            return;
        }
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems.first().Text.contains(said) && problems.first().Text.contains(path), qPrintable(problems.first().Text));
    }

    // The command's exit status, and what the program does at start with the same file.
    void commandAndStart_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("checkStatus");
        QTest::addColumn<bool>("starts");
        QTest::addColumn<QString>("said");
        QTest::newRow("clean") << QByteArray("ifUse0=是\nCommIpAddress=127.0.0.1\n") << 0 << true << QString();
        QTest::newRow("misspelt") << QByteArray("ifUse0=是\nCommIpAdress=127.0.0.1\n") << 1 << true << "是否为 CommIpAddress？";
        QTest::newRow("channel 0 off") << QByteArray("ifUse0=否\n") << 1 << true << "第0路未启用";
        QTest::newRow("role unknown") << QByteArray("ifUse0=是\nRole=piar\n") << 1 << false << "Role = \"piar\"";
    }
    void commandAndStart()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, checkStatus);
        QFETCH(bool, starts);
        QFETCH(QString, said);
        const QString settings = Write(text);
        const QString folder = QFileInfo(settings).absolutePath();
        QFile key(folder + QStringLiteral("/key.dat"));
        QVERIFY(key.open(QIODevice::WriteOnly));
        QByteArray bytes(TKeyTable::FileSize, '\0');
        bytes.replace(qsizetype(3) * TKeyTable::KeysPerKeyboard * 4, 4, QByteArray::fromHex("d7070000"));
        key.write(bytes);
        key.close();

        QProcess check;
        check.setProcessEnvironment(Environment());
        check.start(TestSupport::BuildPath(QStringLiteral("varnex")), {QStringLiteral("check-config"), QStringLiteral("--data-dir"), folder});
        QVERIFY(check.waitForFinished(10000));
        const QString listed = QString::fromUtf8(check.readAllStandardOutput());
        QCOMPARE(check.exitCode(), checkStatus);
        QCOMPARE(listed.isEmpty(), said.isEmpty());
        QVERIFY2(listed.contains(said), qPrintable(listed));

        // The program started with it, headless, on ports of its own.
        const QList<int> ports = TestSupport::FreeUdpPorts(3);
        QFile conf(settings);
        QVERIFY(conf.open(QIODevice::Append));
        conf.write(QStringLiteral("CommRecIpPort=%1\nRecIpPort=%2\nIpPort=%3\nIpAddress=127.0.0.1\nHttpAddress=\n")
                       .arg(ports[0]).arg(ports[1]).arg(ports[2]).toUtf8());
        conf.close();
        QProcess program;
        program.setProcessEnvironment(Environment());
        program.start(TestSupport::BuildPath(QStringLiteral("varnex")),
                      {QStringLiteral("--headless"), QStringLiteral("--data-dir"), folder, QStringLiteral("--control"),
                       folder + QStringLiteral("/varnex.ctl")});
        QString log;
        QVERIFY(QTest::qWaitFor([&] {
            log += QString::fromUtf8(program.readAllStandardError());
            return log.contains(QStringLiteral("已启动")) || program.state() == QProcess::NotRunning;
        }, 15000));
        if (starts) {
            program.terminate();
            QVERIFY(program.waitForFinished(10000));
            QCOMPARE(program.exitCode(), 0);
        } else {
            QVERIFY(program.state() == QProcess::NotRunning || program.waitForFinished(10000));
            QCOMPARE(program.exitCode(), 1);
        }
        log += QString::fromUtf8(program.readAllStandardError());
        if (!said.isEmpty())
            QVERIFY2(log.contains(said), qPrintable(log));
        else
            QVERIFY2(!log.contains(QStringLiteral("设置文件 %1：").arg(settings)), qPrintable(log));
    }
};

QTEST_GUILESS_MAIN(TstConfigCheck)
#include "tst_config_check.moc"
