#include "directory/directory_store.h"
#include "platform_link/ldtx_frame.h"
#include "history/history_writer.h"
#include "support/other_program.h"
#include "support/pg_server.h"
#include "support/small_disk.h"
#include "support/test_support.h"

#include <QDate>
#include <QNetworkDatagram>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <memory>
#include <vector>

// The built program from outside: headless as a service, and its directory commands beside it.
class TstCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir Dir;
    QUdpSocket Platform;
    QUdpSocket Switch; // a stand-in switch CPU
    int ListenPort = 0;
    int HostPort = 0;

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Dir.filePath(QStringLiteral("config")));
        // A control socket of this test's own: programs of other tests run meanwhile.
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), TestSupport::RuntimeFolder(Dir));
        return env;
    }
    // Runs a command to its end; its standard error in *said, its standard output in *printed.
    int Command(const QStringList &arguments, QString *said = nullptr, const QString &dataDir = QString(),
                QString *printed = nullptr, const QString &workingDir = QString())
    {
        QProcess p;
        p.setProcessEnvironment(Environment());
        p.setWorkingDirectory(workingDir.isEmpty() ? Dir.path() : workingDir);
        const QString data = dataDir.isEmpty() ? Dir.filePath(QStringLiteral("data")) : dataDir;
        QStringList store;
        if (TestSupport::OnServer() && !arguments.contains(QStringLiteral("--database")) && !QFileInfo::exists(data + QStringLiteral("/Zelvane.conf")))
            store = QStringList{QStringLiteral("--database"), UrlFor(data)};
        p.start(TestSupport::BuildPath(QStringLiteral("varnex")), arguments + QStringList{QStringLiteral("--data-dir"), data} + store);
        if (!p.waitForFinished(30000))
            return -1;
        if (said)
            *said = QString::fromUtf8(p.readAllStandardError());
        if (printed)
            *printed = QString::fromUtf8(p.readAllStandardOutput());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    // On the server, each data folder of a test row has a database of its own.
    QHash<QString, QString> Databases;
    QString UrlFor(const QString &dataDir)
    {
        if (!TestSupport::OnServer())
            return QString();
        if (!Databases.contains(dataDir))
            Databases.insert(dataDir, TPgServer::Shared().NewDatabase());
        return Databases.value(dataDir);
    }
    // The statements run on the directory in dataDir (made when missing); the last one's rows.
    QStringList Sql(const QString &dataDir, const QStringList &statements)
    {
        TDM store;
        QString why;
        TStoreUrl url;
        TStoreUrl::Parse(UrlFor(dataDir), &url, &why);
        if (!store.Prepare(dataDir, &why, url))
            return {why};
        QStringList rows;
        for (const QString &statement : statements)
            rows = TestSupport::SqlRows(store.Connection(), statement);
        return rows;
    }
    static QByteArray Bytes(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    int Ask(uint8_t type) { return TestSupport::AskCount(Platform, ListenPort, type); }

private Q_SLOTS:
    void initTestCase_data() { TestSupport::EnginesData(); }
    void init() { VARNEX_INIT_ENGINE(); }
    void initTestCase()
    {
        QVERIFY(Platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        QVERIFY(Switch.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        const QList<int> ports = TestSupport::FreeUdpPorts(2);
        ListenPort = ports[0];
        HostPort = ports[1];
        QDir().mkpath(Dir.filePath(QStringLiteral("config")));
        TestSupport::WriteSettings(Dir, {QStringLiteral("CommIpAddress=127.0.0.1"),
                                         QStringLiteral("CommIpPort=%1").arg(Platform.localPort()),
                                         QStringLiteral("CommRecIpPort=%1").arg(ports[0]),
                                         QStringLiteral("RecIpPort=%1").arg(ports[1]), QStringLiteral("CurrentKeyboard=3"),
                                         QStringLiteral("IpAddress=127.0.0.1"), QStringLiteral("IpAddress1=127.0.0.1"),
                                         QStringLiteral("IpPort=%1").arg(Switch.localPort()), QStringLiteral("HttpAddress=")});
        QFile keys(Dir.filePath(QStringLiteral("key.dat")));
        QVERIFY(keys.open(QIODevice::WriteOnly));
        keys.write(TestSupport::KeyFile({{3 * 1088, 2001}, {3 * 1088 + 1, 9999}}));
        keys.close();
        QFile::rename(Dir.filePath(QStringLiteral("Zelvane.conf")), Dir.filePath(QStringLiteral("config/Zelvane.conf")));
    }

    // Help, version and Qt's own options, with no display.
    void helpAndVersion_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("printed");
        QTest::newRow("--help") << QStringList{"--help"} << 0
                                << QStringList{"Usage: varnex", "--headless", "import", "export", "check-keys", "--data-dir",
                                               "groups init FROM TO", "--force", ".csv", "check-config", "migrate --to URL", "ctl watch", "  web  ", "--append"};
        QTest::newRow("--help-all") << QStringList{"--help-all"} << 0 << QStringList{"Usage: varnex", "-platform"};
        QTest::newRow("--version") << QStringList{"--version"} << 0 << QStringList{"varnex 0."};
        QTest::newRow("Qt's -platform") << QStringList{"-platform", "offscreen", "--version"} << 0 << QStringList{"varnex 0."};
        QTest::newRow("Qt's options, other forms")
            << QStringList{"--platform=offscreen", "-style", "fusion", "-reverse", "--version"} << 0 << QStringList{"varnex 0."};
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << 2 << QStringList{"unknown command", "Usage: varnex"};
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << QStringList{"frobnicate"};
    }
    void helpAndVersion()
    {
        VARNEX_NO_STORE();
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, printed);
        QProcess p;
        p.setProcessEnvironment(Environment()); // no display
        p.start(TestSupport::BuildPath(QStringLiteral("varnex")), arguments);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        const QString output = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        QVERIFY2(p.exitCode() == exitCode, qPrintable(output));
        for (const QString &text : printed)
            QVERIFY2(output.contains(text), qPrintable(text + QStringLiteral(" not in: ") + output));
    }

    // `--label` marks every row the import writes; without it today's date does. A label
    // longer than its column would be cut: it is refused and nothing is stored.
    void importLabel_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("stored"); // rows per label: count|label
        QTest::addColumn<QString>("said");
        QTest::newRow("given") << QStringList{"--label", "春检"} << 0 << QStringList{"50|春检"} << "导入成功";
        QTest::newRow("today's date") << QStringList{} << 0
                                      << QStringList{"50|" + QDate::currentDate().toString(Qt::ISODate)} << "导入成功";
        QTest::newRow("too long") << QStringList{"--label", "2024年春季大检修"} << 1 << QStringList{} << "太长";
    }
    void importLabel()
    {
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QStringList, stored);
        QFETCH(QString, said);
        const QString data = Dir.filePath(QStringLiteral("label-%1").arg(QTest::currentDataTag()));
        QString output;
        QCOMPARE(Command(QStringList{"import", TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.xlsx"))} + options, &output, data),
                 exitCode);
        QVERIFY2(output.contains(said), qPrintable(output));
        QCOMPARE(Sql(data, {"select count(*), ImpFlag from TelNumber group by ImpFlag"}), stored);
    }

    // An import into a directory this program never opened: a DATA/ folder made by hand (no
    // file yet) gets its tables, and the old system's file without our index gets the index
    // (else every looked-up number scans the whole table).
    void importPreparesTheDirectory_data()
    {
        QTest::addColumn<bool>("oldFile");
        QTest::newRow("DATA made by hand") << false;
        QTest::newRow("old system's file") << true;
    }
    void importPreparesTheDirectory()
    {
        VARNEX_FILES_ONLY();
        QFETCH(bool, oldFile);
        const QString data = Dir.filePath(QStringLiteral("prepared-%1").arg(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(data + QStringLiteral("/DATA")));
        if (oldFile) {
            const QString name = QStringLiteral("old-system");
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
                db.setDatabaseName(data + QStringLiteral("/DATA/ChaDB.sqlite"));
                QVERIFY(db.open());
                QSqlQuery q(db);
                QVERIFY(q.exec(TDM::CreateTelNumber()));
                QVERIFY(q.exec(TDM::CreateGroup()));
            }
            QSqlDatabase::removeDatabase(name);
        }
        QString output;
        QCOMPARE(Command({"import", TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.xlsx"))}, &output, data), 0);
        QVERIFY2(output.contains(QStringLiteral("导入成功")), qPrintable(output));
        QCOMPARE(Sql(data, {"select count(*) from TelNumber"}), QStringList{"50"});
        QCOMPARE(Sql(data, {"select count(*) from sqlite_master where type = 'index' and name = 'TelNumberByTelNum'"}), QStringList{"1"});
    }

    // check-keys lists on standard output and exits as checkers do: 1 when it found extensions
    // without a key or keys not in the directory, 0 when it found none, 2 when it cannot check.
    void checkKeys_data()
    {
        QTest::addColumn<QByteArray>("directory"); // a .csv imported first
        QTest::addColumn<bool>("keyFile");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("printed");
        QTest::addColumn<QString>("said");
        QByteArray sample = Bytes(TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.csv")));
        QTest::newRow("keyless extensions, an unknown key")
            << sample << true << 1
            << QStringList{"无键位: 2002 采掘一队01", "不在电话号码库中: 键位 0*0 行1 号码 9999",
                           "键盘 3: 49 个分机无键位，1 个键位的号码不在电话号码库中。"}
            << "";
        QTest::newRow("clean") << QByteArray("序号,分机号码\n1,2001\n2,9999\n") << true << 0
                               << QStringList{"键盘 3: 0 个分机无键位，0 个键位的号码不在电话号码库中。"} << "";
        QTest::newRow("no key file") << sample << false << 2 << QStringList{} << "未能读取键位数据";
    }
    void checkKeys()
    {
        QFETCH(QByteArray, directory);
        QFETCH(bool, keyFile);
        QFETCH(int, exitCode);
        QFETCH(QStringList, printed);
        QFETCH(QString, said);
        const QString data = Dir.filePath(QStringLiteral("keys-%1").arg(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(data));
        QFile csv(data + QStringLiteral("/directory.csv"));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write(directory);
        csv.close();
        QCOMPARE(Command({QStringLiteral("import"), csv.fileName()}, nullptr, data), 0);
        QString out, err;
        QCOMPARE(Command({QStringLiteral("check-keys")}, &err, data, &out, keyFile ? Dir.path() : data), exitCode);
        for (const QString &line : printed)
            QVERIFY2(out.contains(line), qPrintable(line + QStringLiteral(" not in: ") + out));
        if (printed.isEmpty())
            QCOMPARE(out, QString());
        // Standard error names the folders in use, and the reason when it could not check.
        QVERIFY2(err.contains(QStringLiteral("数据文件夹 ") + data) && err.contains(said), qPrintable(err));
    }

    // What import cannot read is named by its real cause, nothing is stored, the exit status
    // is 1, and none of the file's bytes reach the terminal.
    void importRefusesWhatItCannotRead_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("kind"); // file, folder or missing
        QTest::addColumn<QString>("cause");
        QTest::newRow("empty file") << "empty.csv" << QByteArray() << "file" << "导入 0 条：文件 empty.csv 是空的（0 字节）";
        QTest::newRow("headings only") << "headings.csv" << QByteArray("序号,分机号码\n") << "file" << "导入 0 条";
        QTest::newRow("no 分机号码 in any row") << "unnumbered.csv" << QByteArray("序号,分机号码\n1,\n2,\n") << "file"
                                             << "导入 0 条：unnumbered.csv 的 2 个数据行都没有分机号码";
        QTest::newRow("a folder") << "folder.csv" << QByteArray() << "folder" << "folder.csv: 是一个文件夹";
        QTest::newRow("a folder without an extension") << "plainfolder" << QByteArray() << "folder" << "plainfolder: 是一个文件夹";
        QTest::newRow("missing") << "missing.csv" << QByteArray() << "missing" << "文件不存在（No such file or directory）";
        QTest::newRow(".xlsx renamed .csv") << "renamed.csv"
                                            << Bytes(TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.xlsx")))
                                            << "file" << "zip 压缩的电子表格";
        QTest::newRow(".xls renamed .txt") << "renamed.txt"
                                           << Bytes(TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.xls")))
                                           << "file" << ".xls 电子表格";
        QTest::newRow("binary .txt") << "binary.txt" << QByteArray("\x1b[31m\x01\x02\x00\xff", 9) << "file" << "二进制文件";
        QTest::newRow("quote never closed") << "quote.csv" << QByteArray("序号,分机号码,分机名称\n1,2001,\"调度\n2,2002,x\n")
                                            << "file" << "第 2 行的引号没有配对";
    }
    void importRefusesWhatItCannotRead()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, kind);
        QFETCH(QString, cause);
        const QString data = Dir.filePath(QStringLiteral("unread"));
        const QString path = Dir.filePath(QStringLiteral("unread-files/") + name);
        QVERIFY(QDir().mkpath(Dir.filePath(QStringLiteral("unread-files"))));
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == QLatin1String("file")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        QString said, printed;
        QCOMPARE(Command({QStringLiteral("import"), path}, &said, data, &printed), 1);
        QVERIFY2(said.contains(cause), qPrintable(said));
        QVERIFY(!said.contains(QStringLiteral("导入成功")));
        for (const QChar c : said + printed)
            QVERIFY2(c == QLatin1Char('\n') || (c.category() != QChar::Other_Control && c != QChar::ReplacementCharacter),
                     qPrintable(QStringLiteral("U+%1 in: ").arg(c.unicode(), 4, 16, QLatin1Char('0')) + said));
        QCOMPARE(Sql(data, {"select count(*) from TelNumber"}), QStringList{"0"});
    }

    // An import that stops at a row whose 分机号码 is not a number keeps the rows before it,
    // and says how many, or that there are none: never only the bad row, as if nothing was kept.
    void importStopsAtABadRow_data()
    {
        QTest::addColumn<QByteArray>("sheet");
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("said");
        const QByteArray head("序号,分机号码,分机名称\n");
        QTest::newRow("first row") << head + "1,20x1,甲\n2,2002,乙\n3,2003,丙\n" << 0 << "未导入任何行；第 2 行";
        QTest::newRow("middle row") << head + "1,2001,甲\n2,20x2,乙\n3,2003,丙\n" << 1 << "已导入 1 行；第 3 行";
        QTest::newRow("last row") << head + "1,2001,甲\n2,2002,乙\n3,20x3,丙\n" << 2 << "已导入 2 行；第 4 行";
    }
    void importStopsAtABadRow()
    {
        QFETCH(QByteArray, sheet);
        QFETCH(int, stored);
        QFETCH(QString, said);
        const QString data = Dir.filePath(QStringLiteral("bad-row-%1").arg(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')));
        QVERIFY(QDir().mkpath(data));
        QFile csv(data + QStringLiteral("/directory.csv"));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write(sheet);
        csv.close();
        QString output;
        QCOMPARE(Command({QStringLiteral("import"), csv.fileName()}, &output, data), 1);
        QVERIFY2(output.contains(said) && output.contains(QStringLiteral("20x")) && !output.contains(QStringLiteral("导入成功")),
                 qPrintable(output));
        QCOMPARE(Sql(data, {"select count(*) from TelNumber"}), QStringList{QString::number(stored)});
    }

    // A directory that cannot be read or written is said in the operator's words, naming what
    // failed, with at most the database's reason in brackets: no statement, no Qt wrapper
    // ("Unable to execute statement"), no English line.
    void storeFailuresInOperatorWords_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("cause");
        QTest::newRow("import, no tables") << "no tables" << "import" << "导入失败，未导入任何记录：电话号码库";
        QTest::newRow("export, no tables") << "no tables" << "export" << "导出数据出错！电话号码库";
        QTest::newRow("check-keys, no tables") << "no tables" << "check-keys" << "电话号码库";
        QTest::newRow("import, locked") << "locked" << "import" << TDM::BusyText();
        QTest::newRow("import, read-only disk") << "read-only disk" << "import" << "导入失败，未导入任何记录";
    }
    void storeFailuresInOperatorWords()
    {
        VARNEX_FILES_ONLY();
        QFETCH(QString, fault);
        QFETCH(QString, command);
        QFETCH(QString, cause);
        const QString sample = TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.csv"));
        std::unique_ptr<TSmallDisk> disk;
        QString data = Dir.filePath(QStringLiteral("faulty-%1").arg(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')));
        if (fault == QLatin1String("read-only disk")) {
            disk = std::make_unique<TSmallDisk>(8 * 1024 * 1024);
            if (!disk->Problem().isEmpty())
                QSKIP(qPrintable(disk->Problem()));
            data = disk->Path();
        }
        QVERIFY(QDir().mkpath(data + QStringLiteral("/DATA")));
        if (fault == QLatin1String("no tables")) {
            // A directory file some other tool left empty.
            QFile empty(TDM::FileIn(data));
            QVERIFY(empty.open(QIODevice::WriteOnly));
        } else {
            QCOMPARE(Command({QStringLiteral("import"), sample}, nullptr, data), 0);
        }
        if (disk)
            QVERIFY(disk->MakeReadOnly());
        const QString holder = QStringLiteral("lock-holder");
        const auto letGo = qScopeGuard([&holder] { QSqlDatabase::removeDatabase(holder); });
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), holder);
            if (fault == QLatin1String("locked")) {
                db.setDatabaseName(TDM::FileIn(data));
                QVERIFY(db.open());
                QVERIFY(QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE")));
            }
            QString said, printed;
            QStringList arguments{command};
            if (command == QLatin1String("import"))
                arguments << sample;
            else if (command == QLatin1String("export"))
                arguments << data + QStringLiteral("/list.csv");
            QCOMPARE(Command(arguments, &said, data, &printed), command == QLatin1String("check-keys") ? 2 : 1);
            QVERIFY2(said.contains(cause), qPrintable(said));
            static const QRegularExpression statement(QStringLiteral("\\b(SELECT|INSERT|UPDATE|DELETE|CREATE|ALTER|DROP|PRAGMA|BEGIN|COMMIT)\\b"),
                                                      QRegularExpression::CaseInsensitiveOption);
            QVERIFY2(!statement.match(said + printed).hasMatch(), qPrintable(said));
            QVERIFY2(!said.contains(QStringLiteral("Unable to")), qPrintable(said));
            // Every line starts in Chinese: none is the database's English alone.
            for (const QString &line : said.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                QVERIFY2(line.at(0).script() == QChar::Script_Han, qPrintable(line));
            db.close();
        }
    }

    // export writes by the file's extension: .csv as comma-separated UTF-8 text, .xlsx as a
    // workbook, anything else refused. A file there already stays as it was unless --force.
    // Nothing but the finished file is left in the folder.
    void exportTargets_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("existing"); // null: no file there
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("starts"); // the file afterwards; null: none
        QTest::addColumn<QString>("said");
        QTest::newRow(".csv") << "list.csv" << QByteArray() << QStringList{} << 0
                              << QByteArray("\xEF\xBB\xBF序号,分机号码,分机名称,安装地址,所属组号1") << "CSV数据导出成功";
        QTest::newRow(".CSV") << "LIST.CSV" << QByteArray() << QStringList{} << 0 << QByteArray("\xEF\xBB\xBF序号,") << "(50)";
        QTest::newRow("unknown extension") << "list.ods" << QByteArray() << QStringList{} << 1 << QByteArray()
                                           << "不能导出为 \"ods\" 文件";
        QTest::newRow("there already") << "list.xlsx" << QByteArray("kept") << QStringList{} << 1 << QByteArray("kept")
                                       << "文件 %1 已存在，未改动；要替换它请加 --force";
        QTest::newRow("there already, --force") << "list.csv" << QByteArray("old") << QStringList{"--force"} << 0
                                                << QByteArray("\xEF\xBB\xBF序号,") << "(50)";
    }
    void exportTargets()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, existing);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, starts);
        QFETCH(QString, said);
        const QString data = Dir.filePath(QStringLiteral("exports"));
        if (Sql(data, {"select count(*) from TelNumber"}) == QStringList{"0"})
            QCOMPARE(Command({QStringLiteral("import"), TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.xlsx"))}, nullptr, data), 0);
        QTemporaryDir folder;
        const QString path = folder.filePath(name);
        if (!existing.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(existing);
        }
        QString output;
        QCOMPARE(Command(QStringList{QStringLiteral("export"), path} + options, &output, data), exitCode);
        if (said.contains(QLatin1String("%1")))
            said = said.arg(path);
        QVERIFY2(output.contains(said), qPrintable(output));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
                 starts.isNull() ? QStringList{} : QStringList{name});
        if (!starts.isNull())
            QVERIFY2(Bytes(path).startsWith(starts), Bytes(path).left(80).toHex().constData());
    }

    // A .csv export read back by import changes nothing, whatever its cells hold: separators,
    // quotes, line breaks, group texts with a leading zero, empty and NULL cells.
    void exportedCsvReadsBack()
    {
        const QString data = Dir.filePath(QStringLiteral("csv-from"));
        QCOMPARE(Command({QStringLiteral("import"), TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.xlsx"))}, nullptr, data), 0);
        // Texts as the program stores them: empty cells as empty texts, an unknown 状态 as NULL.
        Sql(data, {"insert into TelNumber(TelNum, sequence, TelName, Address, GroupNo1, GroupNo2, GroupNo3, GroupNo4, "
                   "GroupNo5, GroupNo6, GroupNo7, GroupNo8, Msg) values "
                   "(2100, 51, '井下,\"一号\"', '第一行\n第二行', '03', '12', '', '', '', '', '', '', 'a\tb')"});
        const QString columns = QStringLiteral("select sequence, TelNum, TelName, Address, GroupNo1, GroupNo2, GroupNo3, GroupNo4, "
                                               "GroupNo5, GroupNo6, GroupNo7, GroupNo8, Status, Msg from TelNumber order by sequence");
        const QStringList before = Sql(data, {columns});
        QCOMPARE(before.size(), 51);
        const QString csv = Dir.filePath(QStringLiteral("read-back-%1.csv").arg(TestSupport::OnServer() ? "server" : "files"));
        QString said;
        QVERIFY2(Command({QStringLiteral("export"), csv}, &said, data) == 0, qPrintable(said));
        const QString again = Dir.filePath(QStringLiteral("csv-to"));
        QCOMPARE(Command({QStringLiteral("import"), csv}, &said, again), 0);
        QCOMPARE(Sql(again, {columns}), before);
    }

    // groups init adds the groups FROM to TO after the group table's last row, named as the
    // directory window's 初始化组 names them; it overwrites nothing, makes no group twice, and
    // refuses numbers that are no group numbers.
    void groupsInit_data()
    {
        QTest::addColumn<QStringList>("seed");
        QTest::addColumn<QStringList>("numbers");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("groups"); // GroupNum|sequence|GroupName afterwards
        QTest::addColumn<QString>("said");
        QTest::newRow("empty table") << QStringList{} << QStringList{"1", "3"} << 0 << QStringList{"1|1|1组", "2|2|2组", "3|3|3组"}
                                     << "初始化组成功! 组 1 到 3（3 个";
        QTest::newRow("after rows with a gap") << QStringList{"insert into \"Group\"(GroupNum, sequence, GroupName) values (1, 1, '调度'), (2, 3, '2组')"}
                                               << QStringList{"7", "8"} << 0
                                               << QStringList{"1|1|调度", "2|3|2组", "7|4|7组", "8|5|8组"} << "分组总数 4";
        QTest::newRow("one there already") << QStringList{"insert into \"Group\"(GroupNum, sequence, GroupName) values (3, 1, '三')"}
                                           << QStringList{"1", "5"} << 1 << QStringList{"3|1|三"} << "组 3 已在电话号码库中";
        QTest::newRow("TO below FROM") << QStringList{} << QStringList{"5", "3"} << 2 << QStringList{} << "FROM 5 is greater than TO 3";
        QTest::newRow("not a number") << QStringList{} << QStringList{"1", "x"} << 2 << QStringList{} << "TO \"x\" is not a group number";
        QTest::newRow("zero") << QStringList{} << QStringList{"0", "2"} << 2 << QStringList{} << "FROM \"0\" is not a group number";
        QTest::newRow("too many") << QStringList{} << QStringList{"1", "10001"} << 2 << QStringList{} << "more than 10000";
    }
    void groupsInit()
    {
        QFETCH(QStringList, seed);
        QFETCH(QStringList, numbers);
        QFETCH(int, exitCode);
        QFETCH(QStringList, groups);
        QFETCH(QString, said);
        const QString data = Dir.filePath(QStringLiteral("groups-%1").arg(QTest::currentDataTag()));
        const QString list = QStringLiteral("select GroupNum, sequence, GroupName from \"Group\" order by sequence");
        Sql(data, seed);
        QString output;
        QCOMPARE(Command(QStringList{"groups", "init"} + numbers, &output, data), exitCode);
        QVERIFY2(output.contains(said), qPrintable(output));
        QCOMPARE(Sql(data, {list}), groups);
    }

    // The address of the server: from the settings file or --database, refused with a reason
    // when it is no address, and a password in it never printed.
    void serverAddress_data()
    {
        QTest::addColumn<QString>("address"); // %1: the server's socket folder, %2: a database made for the row
        QTest::addColumn<bool>("inSettings");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::newRow("in the settings file") << "postgresql://varnex@/%2?host=%1" << true << 0 << "导入成功";
        QTest::newRow("--database") << "postgresql://varnex@/%2?host=%1" << false << 0 << "导入成功";
        // Reached but refused: said as refused, not as a server that cannot be reached.
        QTest::newRow("a database that is not there") << "postgresql://varnex:Geheim-77@/nosuchdb?host=%1" << false << 1
                                                     << "拒绝连接（请检查地址中的用户名、密码和数据库名）";
        QTest::newRow("a user that is not there") << "postgresql://nosuchuser@/%2?host=%1" << false << 1 << "拒绝连接";
        QTest::newRow("a server that is not there") << "postgresql://varnex:Geheim-77@/x?host=/nonexistent" << false << 1
                                                    << "无法连接";
        QTest::newRow("not an address") << "mysql://varnex@localhost/x" << false << 1 << "数据库地址应为";
        QTest::newRow("an unknown option") << "postgresql://varnex@/x?host=%1&sslmod=require" << false << 1 << "sslmod";
    }
    void serverAddress()
    {
        if (!TestSupport::OnServer())
            QSKIP("about the server's address");
        QFETCH(QString, address);
        QFETCH(bool, inSettings);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        const QString database = TPgServer::Shared().NewDatabase().section(QLatin1Char('/'), 3).section(QLatin1Char('?'), 0, 0);
        address.replace(QStringLiteral("%1"), TPgServer::Shared().SocketFolder()).replace(QStringLiteral("%2"), database);
        const QString data = Dir.filePath(QStringLiteral("address-%1").arg(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(data));
        QStringList arguments{QStringLiteral("import"), TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.csv"))};
        if (inSettings) {
            // A settings file beside DATA/ is the one --data-dir uses.
            QFile settings(data + QStringLiteral("/Zelvane.conf"));
            QVERIFY(settings.open(QIODevice::WriteOnly));
            settings.write(QStringLiteral("DatabaseUrl=%1\n").arg(address).toUtf8());
        } else {
            arguments << QStringLiteral("--database") << address;
        }
        QString output;
        const int rc = Command(arguments, &output, data);
        QCOMPARE(rc, exitCode);
        QVERIFY2(output.contains(said), qPrintable(output));
        QVERIFY2(!output.contains(QStringLiteral("Geheim")), qPrintable(output));
        if (exitCode == 0) {
            TDM store;
            QString why;
            TStoreUrl url;
            QVERIFY(TStoreUrl::Parse(address, &url, &why));
            QVERIFY(store.Prepare(data, &why, url));
            QCOMPARE(TestSupport::SqlRows(store.Connection(), QStringLiteral("select count(*) from TelNumber")), QStringList{"50"});
        }
    }

    // A site moved to a server and back: every row arrives with its counts said, the source
    // stays byte for byte, a target with rows is refused unless appending, and an append
    // writes no history entry twice.
    void migrateThereAndBack()
    {
        if (!TestSupport::OnServer())
            QSKIP("needs the server");
        const QString site = Dir.filePath(QStringLiteral("migrate-site"));
        QVERIFY(QDir().mkpath(site));
        QStringList arguments{QStringLiteral("import"), TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.xlsx")),
                              QStringLiteral("--database"), QString()};
        QCOMPARE(Command(arguments, nullptr, site), 0);
        QCOMPARE(Command({QStringLiteral("groups"), QStringLiteral("init"), QStringLiteral("1"), QStringLiteral("6"),
                          QStringLiteral("--database"), QString()}, nullptr, site), 0);
        {
            THistoryWriter writer(TStorePlace{site + QStringLiteral("/DATA/History.sqlite"), {}});
            writer.Open();
            for (int i = 1; i <= 40; ++i) {
                TNotice n;
                n.Id = 1700000000000000ll + i * 1000;
                n.At = QDateTime::fromMSecsSinceEpoch(n.Id / 1000);
                n.Kind = QStringLiteral("语音通知");
                n.MessageId = i;
                n.Target = QStringLiteral("5");
                n.Content = QStringLiteral("撤离 %1").arg(i);
                n.Numbers = {{QStringLiteral("2001"), QStringLiteral("井口"), QStringLiteral("组1 行2 列1"), {}},
                             {QStringLiteral("2002"), QStringLiteral("泵房"), TNotice::NoKeyText(), {}}};
                writer.Put(n);
            }
            writer.Close();
        }
        QSqlDatabase::removeDatabase(THistoryWriter::ConnectionName(TStorePlace{site + QStringLiteral("/DATA/History.sqlite"), {}}));
        const QByteArray directoryBytes = Bytes(site + QStringLiteral("/DATA/ChaDB.sqlite"));
        const QByteArray historyBytes = Bytes(site + QStringLiteral("/DATA/History.sqlite"));
        const QString everything[] = {
            QStringLiteral("select sequence, TelNum, TelName, Address, GroupNo1, GroupNo2, GroupNo8, Msg, Status, ImpFlag from TelNumber order by sequence"),
            QStringLiteral("select sequence, GroupNum, GroupName, GroupMembers from \"Group\" order by sequence"),
            QStringLiteral("select Id, At, Kind, MessageId, Target, Content, Numbers from Entry order by Id"),
            QStringLiteral("select EntryId, Seq, Number, Name, KeyPosition from EntryNumber order by EntryId, Seq")};
        const auto rows = [&](const TStorePlace &directory, const TStorePlace &history) {
            QList<QStringList> all;
            for (int i = 0; i < 4; ++i)
                all << TestSupport::PlaceRows(i < 2 ? directory : history, everything[i]);
            return all;
        };
        const TStorePlace filesDirectory{site + QStringLiteral("/DATA/ChaDB.sqlite"), {}};
        const TStorePlace filesHistory{site + QStringLiteral("/DATA/History.sqlite"), {}};
        const QList<QStringList> source = rows(filesDirectory, filesHistory);
        QCOMPARE(source[0].size(), 50);
        QCOMPARE(source[3].size(), 80);

        const QString url = TPgServer::Shared().NewDatabase();
        QString said;
        QCOMPARE(Command({QStringLiteral("migrate"), QStringLiteral("--to"), url}, &said, site), 0);
        QVERIFY2(said.contains(QStringLiteral("迁移成功：电话号码 50 条，分组 6 个，通知记录 40 条（其中号码 80 条）")), qPrintable(said));
        TStorePlace server{QString(), {}};
        QString why;
        QVERIFY(TStoreUrl::Parse(url, &server.Url, &why));
        QCOMPARE(rows(server, server), source);
        QCOMPARE(Bytes(site + QStringLiteral("/DATA/ChaDB.sqlite")), directoryBytes);
        QCOMPARE(Bytes(site + QStringLiteral("/DATA/History.sqlite")), historyBytes);
        for (const char *left : {"ChaDB.sqlite-wal", "ChaDB.sqlite-shm", "History.sqlite-wal", "History.sqlite-shm"})
            QVERIFY2(!QFileInfo::exists(site + QStringLiteral("/DATA/") + QLatin1String(left)), left);

        // Again into the same database: refused, nothing written.
        QCOMPARE(Command({QStringLiteral("migrate"), QStringLiteral("--to"), url}, &said, site), 1);
        QVERIFY2(said.contains(QStringLiteral("目标中已有数据")) && said.contains(QStringLiteral("--append")), qPrintable(said));
        QCOMPARE(rows(server, server), source);
        // Appended: the directory's rows after the server's own, no entry twice.
        QCOMPARE(Command({QStringLiteral("migrate"), QStringLiteral("--to"), url, QStringLiteral("--append")}, &said, site), 0);
        QVERIFY2(said.contains(QStringLiteral("电话号码 50 条，分组 6 个，通知记录 0 条（其中号码 0 条）。目标现有 电话号码 100 条，分组 12 个，通知记录 40 条")),
                 qPrintable(said));
        QCOMPARE(TestSupport::PlaceRows(server, QStringLiteral("select min(sequence), max(sequence), count(distinct TelNum) from TelNumber")),
                 QStringList{"1|100|50"});

        // Back into the files of another folder: the same rows as on the server.
        const QString back = Dir.filePath(QStringLiteral("migrate-back"));
        QCOMPARE(Command({QStringLiteral("migrate"), QStringLiteral("--from"), url, QStringLiteral("--to-files")}, &said, back), 0);
        QVERIFY2(said.contains(QStringLiteral("电话号码 100 条，分组 12 个，通知记录 40 条（其中号码 80 条）")), qPrintable(said));
        QCOMPARE(rows({back + QStringLiteral("/DATA/ChaDB.sqlite"), {}}, {back + QStringLiteral("/DATA/History.sqlite"), {}}),
                 rows(server, server));
    }

    void migrateRefuses_data()
    {
        QTest::addColumn<QStringList>("arguments"); // %1: the server's socket folder
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::newRow("no direction") << QStringList{"migrate"} << 2 << "migrate needs either --to URL, or --from URL --to-files";
        QTest::newRow("both directions") << QStringList{"migrate", "--to", "postgresql://a@/b", "--from", "postgresql://a@/c", "--to-files"}
                                         << 2 << "migrate needs";
        QTest::newRow("not an address") << QStringList{"migrate", "--to", "sqlite:///x"} << 2 << "数据库地址应为";
        QTest::newRow("no address after --to") << QStringList{"migrate", "--to", ""} << 2 << "--to needs a PostgreSQL address";
        QTest::newRow("no address after --from") << QStringList{"migrate", "--from", " ", "--to-files"} << 2
                                                 << "--from needs a PostgreSQL address";
        QTest::newRow("no directory in the folder") << QStringList{"migrate", "--to", "postgresql://varnex@/x?host=%1"} << 1
                                                    << "中没有电话号码库";
        QTest::newRow("server not there") << QStringList{"migrate", "--from", "postgresql://varnex:Geheim-77@/x?host=/nonexistent", "--to-files"}
                                          << 1 << "不能打开";
    }
    void migrateRefuses()
    {
        if (!TestSupport::OnServer())
            QSKIP("needs the server");
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        for (QString &argument : arguments)
            argument.replace(QStringLiteral("%1"), TPgServer::Shared().SocketFolder());
        const QString empty = Dir.filePath(QStringLiteral("migrate-empty-%1").arg(QTest::currentDataTag()));
        QString output;
        QCOMPARE(Command(arguments, &output, empty), exitCode);
        QVERIFY2(output.contains(said), qPrintable(output));
        QVERIFY2(!output.contains(QStringLiteral("Geheim")), qPrintable(output));
        QVERIFY(!QFileInfo::exists(empty + QStringLiteral("/DATA/ChaDB.sqlite")));
    }

    // `varnex import` on a nearly full disk (8 MB, 3 MB free, 120,000 rows): nothing of it is
    // stored, the rows there before stay, the exit status is 1 and the disk is named as the
    // cause; `varnex export` onto it says the same.
    void importOnAFullDisk()
    {
        VARNEX_FILES_ONLY();
        TSmallDisk disk(8 * 1024 * 1024);
        if (!disk.Problem().isEmpty())
            QSKIP(qPrintable(disk.Problem() + QStringLiteral("; tst_import_export's page-limit rows cover the import")));
        QString said;
        QCOMPARE(Command({QStringLiteral("import"), TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.csv"))}, &said,
                         disk.Path()),
                 0);
        const QString file = Dir.filePath(QStringLiteral("many.csv"));
        QFile csv(file);
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write("序号,分机号码,分机名称,安装地址\n");
        for (int r = 1; r <= 120000; ++r)
            csv.write(QStringLiteral("%1,%2,分机名称%1,安装地址在第%1号巷道\n").arg(r).arg(100000 + r).toUtf8());
        csv.close();
        QVERIFY(disk.LeaveFree(3 * 1024 * 1024));
        QCOMPARE(Command({QStringLiteral("import"), file}, &said, disk.Path()), 1);
        QVERIFY2(said.contains(QStringLiteral("导入失败，未导入任何记录")) && said.contains(QStringLiteral("磁盘已满")), qPrintable(said));
        // SQLite's own rollback is finished: no journal is left for the next program, and the
        // room the import took is free again.
        QVERIFY(!QFile::exists(disk.Path() + QStringLiteral("/DATA/ChaDB.sqlite-journal")));
        QVERIFY2(disk.Free() > 2 * 1024 * 1024, qPrintable(QString::number(disk.Free())));
        // An export onto the same disk, full, names it too, and asks for no format to be checked.
        QVERIFY(disk.LeaveFree(0));
        QCOMPARE(Command({QStringLiteral("export"), disk.Path() + QStringLiteral("/list")}, &said, disk.Path()), 1);
        QVERIFY2(said.contains(QStringLiteral("磁盘已满")) && !said.contains(QStringLiteral("请检查文件的格式")), qPrintable(said));
        disk.Release();
        QCOMPARE(Command({QStringLiteral("export"), Dir.filePath(QStringLiteral("after-full"))}, &said, disk.Path()), 0);
        QVERIFY2(said.contains(QStringLiteral("(50)")), qPrintable(said));
    }

    // Headless, with no display: serves the platform, takes an import made beside it, and stops
    // cleanly on SIGTERM; the commands meet a locked directory with a clear message.
    // Programs started together on an empty shared database all come up: the directory's
    // tables, its change notices and the history's tables are made once, by whoever is first.
    void startTogetherOnEmptyServer()
    {
        if (!TestSupport::OnServer())
            QSKIP("about a shared database");
        constexpr int Programs = 4;
        for (int round = 0; round < 3; ++round) {
            const QString url = TPgServer::Shared().NewDatabase();
            const QList<int> ports = TestSupport::FreeUdpPorts(2 * Programs);
            std::vector<std::unique_ptr<QProcess>> programs;
            std::vector<QString> said(Programs);
            const auto stopAll = qScopeGuard([&] {
                for (auto &p : programs)
                    if (p->state() != QProcess::NotRunning) {
                        p->kill();
                        p->waitForFinished(5000);
                    }
            });
            for (int i = 0; i < Programs; ++i) {
                const QString folder = Dir.filePath(QStringLiteral("together-%1-%2").arg(round).arg(i));
                QVERIFY(QDir().mkpath(folder + QStringLiteral("/config")));
                QFile conf(folder + QStringLiteral("/config/Zelvane.conf"));
                QVERIFY(conf.open(QIODevice::WriteOnly));
                conf.write(QStringLiteral("CommIpAddress=127.0.0.1\nCommRecIpPort=%1\nRecIpPort=%2\nIpAddress=127.0.0.1\n"
                                          "IpAddress1=127.0.0.1\nDatabaseUrl=%3\nHttpAddress=\n")
                               .arg(ports[2 * i])
                               .arg(ports[2 * i + 1])
                               .arg(url)
                               .toUtf8());
                conf.close();
                QProcessEnvironment env = Environment();
                env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder + QStringLiteral("/config"));
                // Each its own control socket, as on machines of their own.
                QVERIFY(QDir().mkpath(folder + QStringLiteral("/run")));
                QFile::setPermissions(folder + QStringLiteral("/run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
                env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder + QStringLiteral("/run"));
                auto &p = programs.emplace_back(std::make_unique<QProcess>());
                p->setProcessEnvironment(env);
                p->setWorkingDirectory(folder);
                p->start(TestSupport::BuildPath(QStringLiteral("varnex")),
                         {QStringLiteral("--headless"), QStringLiteral("--data-dir"), folder + QStringLiteral("/data")});
            }
            const auto started = [&](int i) {
                said[i] += QString::fromUtf8(programs[i]->readAllStandardError());
                return said[i].contains(QStringLiteral("Varnex 已启动")) || programs[i]->state() == QProcess::NotRunning;
            };
            for (int i = 0; i < Programs; ++i) {
                QTRY_VERIFY_WITH_TIMEOUT(started(i), 20000);
                QVERIFY2(programs[i]->state() == QProcess::Running && said[i].contains(QStringLiteral("数据库 postgresql://")),
                         qPrintable(said[i]));
            }
            for (int i = 0; i < Programs; ++i) {
                ::kill(pid_t(programs[i]->processId()), SIGTERM);
                QVERIFY(programs[i]->waitForFinished(10000));
                said[i] += QString::fromUtf8(programs[i]->readAllStandardError());
                QVERIFY2(programs[i]->exitCode() == 0 && !said[i].contains(QStringLiteral("exists"))
                             && !said[i].contains(QStringLiteral("duplicate")) && !said[i].contains(QStringLiteral("无法")),
                         qPrintable(said[i]));
            }
        }
    }

    // A server away at start is waited for, and the operator is told which one.
    void serverAwayAtStart()
    {
        if (!TestSupport::OnServer())
            QSKIP("about a shared database");
        QProcess service;
        service.setProcessEnvironment(Environment());
        service.setWorkingDirectory(Dir.path());
        const QString away = QStringLiteral("postgresql://varnex:Geheim-77@/site?host=/nonexistent");
        service.start(TestSupport::BuildPath(QStringLiteral("varnex")), {QStringLiteral("--headless"), QStringLiteral("--data-dir"),
                                                                          Dir.filePath(QStringLiteral("away")), QStringLiteral("--database"), away});
        QString said;
        QTRY_VERIFY_WITH_TIMEOUT((said += QString::fromUtf8(service.readAllStandardError())).contains(QStringLiteral("Varnex 已启动"))
                                     || service.state() == QProcess::NotRunning,
                                 20000);
        const auto stop = qScopeGuard([&] {
            ::kill(pid_t(service.processId()), SIGTERM);
            service.waitForFinished(10000);
        });
        const QString shown = QStringLiteral("postgresql://varnex@/site?host=/nonexistent");
        QVERIFY2(said.contains(QStringLiteral("数据库服务器 %1 无法连接").arg(shown)) && said.contains(QStringLiteral("稍后自动重试"))
                     && said.contains(QStringLiteral("数据库 %1").arg(shown)) && !said.contains(QStringLiteral("Geheim-77")),
                 qPrintable(said));
    }

    // What the server says outside any statement (its shutdown ending the connections) is a
    // line of the program's log with its time, not libpq's bare text on standard error.
    void serverWordsInTheLog()
    {
        if (!TestSupport::OnServer())
            QSKIP("about a shared database");
        QProcess service;
        service.setProcessEnvironment(Environment());
        service.setWorkingDirectory(Dir.path());
        service.start(TestSupport::BuildPath(QStringLiteral("varnex")),
                      {QStringLiteral("--headless"), QStringLiteral("--data-dir"), Dir.filePath(QStringLiteral("words")),
                       QStringLiteral("--database"), TPgServer::Shared().NewDatabase()});
        QString said;
        QTRY_VERIFY_WITH_TIMEOUT((said += QString::fromUtf8(service.readAllStandardError())).contains(QStringLiteral("Varnex 已启动")),
                                 20000);
        {
            const auto restart = qScopeGuard([] { TPgServer::Shared().Start(); });
            QVERIFY(TPgServer::Shared().Stop());
        }
        QTRY_VERIFY_WITH_TIMEOUT((said += QString::fromUtf8(service.readAllStandardError())).contains(QStringLiteral("又可以读取了")),
                                 15000);
        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        said += QString::fromUtf8(service.readAllStandardError());
        static const QRegularExpression timed(QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d |\\s)"));
        for (const QString &line : said.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            QVERIFY2(timed.match(line).hasMatch(), qPrintable(line));
    }

    void headlessServiceAndCommands()
    {
        VARNEX_FILES_ONLY();
        QProcess service;
        service.setProcessEnvironment(Environment());
        service.setWorkingDirectory(Dir.path());
        service.start(TestSupport::BuildPath(QStringLiteral("varnex")),
                      {QStringLiteral("--headless"), QStringLiteral("--data-dir"), Dir.filePath(QStringLiteral("data"))});
        QVERIFY(service.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(Ask(LdtxFrame::DeviceStatusQuery) == 0, 10000);

        QString said;
        QCOMPARE(Command({QStringLiteral("import"), TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.xlsx"))}, &said), 0);
        QVERIFY2(said.contains(QStringLiteral("导入成功！")), qPrintable(said));
        QTRY_COMPARE_WITH_TIMEOUT(Ask(LdtxFrame::DeviceStatusQuery), 50, 5000); // the service sees the other program's commit

        QString printed;
        QCOMPARE(Command({QStringLiteral("check-keys")}, &said, QString(), &printed), 1);
        QVERIFY2(printed.contains(QStringLiteral("无键位: 2002")) && !printed.contains(QStringLiteral("无键位: 2001 "))
                     && printed.contains(QStringLiteral("号码 9999")),
                 qPrintable(printed));

        const QString exported = Dir.filePath(QStringLiteral("list"));
        QCOMPARE(Command({QStringLiteral("export"), exported}, &said), 0);
        QVERIFY(QFile::exists(exported + QStringLiteral(".xlsx")));
        {
            TOtherProgram locker(Dir.filePath(QStringLiteral("data/DATA/ChaDB.sqlite")), {QStringLiteral("BEGIN EXCLUSIVE")});
            QVERIFY(locker.Ok);
            QCOMPARE(Command({QStringLiteral("export"), Dir.filePath(QStringLiteral("again"))}, &said), 1);
            QVERIFY2(said.contains(TDM::BusyText()), qPrintable(said));
            QCOMPARE(Command({QStringLiteral("import"), TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/directory-sample.csv"))}, &said), 1);
            QVERIFY2(said.contains(TDM::BusyText()), qPrintable(said));
            QCOMPARE(Ask(LdtxFrame::DeviceStatusQuery), 50); // the service answers from its copy
        }

        // The switch link: a CPU makes contact, the platform calls 2001, and after the eight
        // seconds off-hook the key commands reach the CPU.
        QTimer alive; // the CPU keeps the link up
        QObject::connect(&alive, &QTimer::timeout, &Switch,
                         [this] { Switch.writeDatagram(QByteArray(1, '\x01'), QHostAddress::LocalHost, quint16(HostPort)); });
        alive.start(1000);
        Switch.writeDatagram(QByteArray(1, '\x01'), QHostAddress::LocalHost, quint16(HostPort));
        QByteArray call(8, 0);
        call[0] = char(0xD1);
        call[1] = char(0x07);
        call[4] = char(0xD1);
        call[5] = char(0x07);
        Platform.writeDatagram(LdtxFrame::Build(call, LdtxFrame::PhoneCall, 0, 2, QStringLiteral("CRC-16/MODBUS"))->Bytes,
                               QHostAddress::LocalHost, quint16(ListenPort));
        QByteArray keyCommands;
        QTRY_VERIFY_WITH_TIMEOUT((keyCommands += Switch.hasPendingDatagrams() ? Switch.receiveDatagram().data() : QByteArray())
                                     .contains(QByteArray::fromHex("A5A5A5")),
                                 15000);

        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        const QString log = QString::fromUtf8(service.readAllStandardError());
        QVERIFY2(log.contains(QStringLiteral("Varnex 已启动")) && log.contains(QStringLiteral("Varnex 已停止。")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("电话号码库暂时无法读取")), qPrintable(log));
    }

    // With its window (offscreen), a signal stops the program as closing the window does: the
    // window's place saved, 停止 after 启动 in the history, status 0. A second copy, whose
    // control socket the first one holds, shows why, ends with status 1 and records nothing in
    // the shared history.
    void windowStopsOnSignals_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void windowStopsOnSignals()
    {
        VARNEX_NO_STORE();
        QFETCH(int, signalNumber);
        const QString data = Dir.filePath(QStringLiteral("window-%1").arg(signalNumber));
        QProcessEnvironment env = Environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const auto start = [&](QProcess &p) {
            p.setProcessEnvironment(env);
            p.setWorkingDirectory(Dir.path());
            p.start(TestSupport::BuildPath(QStringLiteral("varnex")), {QStringLiteral("--data-dir"), data});
            QVERIFY(p.waitForStarted(10000));
        };
        const auto stop = [&](QProcess &p, int exitCode) {
            ::kill(pid_t(p.processId()), signalNumber);
            QVERIFY(p.waitForFinished(10000));
            QCOMPARE(p.exitStatus(), QProcess::NormalExit);
            QCOMPARE(p.exitCode(), exitCode);
        };
        const QString settings = Dir.filePath(QStringLiteral("config/Zelvane.conf"));
        { // the place of an earlier row goes: this run must write its own
            QFile conf(settings);
            QVERIFY(conf.open(QIODevice::ReadOnly));
            QByteArrayList lines = conf.readAll().split('\n');
            conf.close();
            lines.removeIf([](const QByteArray &line) { return line.startsWith("MainWindowPlace="); });
            QVERIFY(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
            conf.write(lines.join('\n'));
        }
        QProcess running;
        start(running);
        QTRY_VERIFY_WITH_TIMEOUT(Ask(LdtxFrame::GroupListQuery) == 0, 10000);
        QProcess second; // its control socket and ports are taken: it says so and waits to be closed
        start(second);
        QString secondSaid;
        QTRY_VERIFY_WITH_TIMEOUT((secondSaid += QString::fromUtf8(second.readAllStandardError()))
                                     .contains(QStringLiteral("已被另一个正在运行的程序使用")),
                                 10000);
        stop(second, 1);
        stop(running, 0);

        QFile conf(settings);
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QVERIFY(conf.readAll().contains("MainWindowPlace="));
        const QString connection = QStringLiteral("history-%1").arg(signalNumber);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(data + QStringLiteral("/DATA/History.sqlite"));
            QVERIFY(db.open());
            QCOMPARE(TestSupport::SqlRows(connection, QStringLiteral("SELECT Kind FROM Entry WHERE Kind IN ('启动', '停止') ORDER BY Id")),
                     (QStringList{"启动", "停止"}));
        }
        QSqlDatabase::removeDatabase(connection);
    }
};

QTEST_GUILESS_MAIN(TstCommandLine)
#include "tst_command_line.moc"
