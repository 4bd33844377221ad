#include "directory/directory.h"
#include "directory/directory_store.h"
#include "directory/number_import.h"
#include "directory/sheet_export.h"
#include "sheets/sheet_reader.h"
#include "directory/tel_book.h"
#include "common/line_log.h"
#include "common/trace_sink.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include "support/directory_fixture.h"
#include "support/small_disk.h"
#include "support/test_support.h"

#include <ixion/address.hpp>
#include <ixion/model_context.hpp>
#include <orcus/orcus_xlsx.hpp>
#include <orcus/spreadsheet/document.hpp>
#include <orcus/spreadsheet/factory.hpp>
#include <xlsxwriter.h>

namespace {

QString Fixture(const QString &name)
{
    return TestSupport::SourcePath(QStringLiteral("tests/data/spreadsheets/") + name);
}

struct TStore : TDirectoryFixture
{
    TNumberImport Import{Directory, DM};

    QStringList Table() { return Rows(QStringLiteral("select * from TelNumber order by sequence")); }
    // Rows of Table() as an import labelled label leaves them: ImpFlag, the last column, is its label.
    static QStringList Labelled(QStringList rows, const QString &label)
    {
        for (QString &row : rows)
            row = row.section(QLatin1Char('|'), 0, -2) + QLatin1Char('|') + label;
        return rows;
    }
    QString Copy(const QString &fixture, const QString &name)
    {
        const QString path = Dir.filePath(name);
        QFile::copy(Fixture(fixture), path);
        return path;
    }
};

} // namespace

class TstImportExport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase_data() { TestSupport::EnginesData(); }
    void init() { VARNEX_INIT_ENGINE(); }

    void cellText_data()
    {
        QTest::addColumn<double>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 2001.0 << "2001";
        QTest::newRow("negative whole") << -5.0 << "-5";
        QTest::newRow("fraction") << 2007.5 << "2007.5";
        QTest::newRow("shortest") << 0.1 << "0.1";
        QTest::newRow("huge") << 1e20 << "1e+20";
    }
    void cellText()
    {
        QFETCH(double, number);
        QFETCH(QString, text);
        QCOMPARE(TSheetReader::NumberText(number), text);
        QCOMPARE(TSheetReader::CleanText(QStringLiteral(" \t\u0001 带空格 \r\n")), QStringLiteral("带空格"));
    }

    void fixtures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("error"); // part of the message when the import ends early
        for (const char *ext : {"xlsx", "xls", "ods", "csv"})
            QTest::addRow("sample.%s", ext) << QStringLiteral("directory-sample.%1").arg(QLatin1String(ext)) << 50 << 50 << "";
        QTest::newRow("sample GBK txt") << "directory-sample-gbk.txt" << 50 << 50 << "";
        QTest::newRow("blank A30 xlsx") << "directory-blank-a30.xlsx" << 28 << 28 << "";
        QTest::newRow("blank A30 xls") << "directory-blank-a30.xls" << 28 << 28 << "";
        QTest::newRow("skip B") << "directory-skip-b.xlsx" << 10 << 9 << "";
        // Stopped at sheet row 8: the six rows before it are stored, and said to be.
        QTest::newRow("bad number xlsx") << "directory-bad-number.xlsx" << 10 << 6 << "已导入 6 行；第 8 行: 分机号码: '2007.5'";
        QTest::newRow("bad number xls") << "directory-bad-number.xls" << 10 << 6 << "已导入 6 行；第 8 行: 分机号码: '2007.5'";
    }
    void fixtures()
    {
        QFETCH(QString, file);
        QFETCH(int, rows);
        QFETCH(int, stored);
        QFETCH(QString, error);
        TStore s;
        int lastDone = 0, total = 0;
        const auto outcome = s.Import.Run(Fixture(file), QStringLiteral("2026-12-10"), [&](int done, int all) {
            lastDone = done;
            total = all;
        });
        QCOMPARE(s.Rows(QStringLiteral("select count(*) from TelNumber")), QStringList{QString::number(stored)});
        if (error.isEmpty()) {
            QCOMPARE(outcome.Message(), QStringLiteral("导入成功！"));
            QCOMPARE(total, rows);
            QCOMPARE(lastDone, rows);
        } else {
            QVERIFY2(outcome.Message().contains(error), qPrintable(outcome.Message()));
            QVERIFY(!outcome.Message().contains(QStringLiteral("导入成功")));
        }
        QCOMPARE(s.Rows(QStringLiteral("select TelNum, sequence from TelNumber where sequence = 1")), QStringList{"2001|1"});
        if (file.startsWith(QLatin1String("directory-sample"))) {
            const QStringList table = s.Rows(QStringLiteral("select TelNum, TelName, GroupNo1, GroupNo2, Status, Msg from TelNumber order by sequence"));
            QCOMPARE(table[0], QStringLiteral("2001|调度员00|1|8|0|井下电话"));
            QCOMPARE(table[3].section(QLatin1Char('|'), 1, 1), QStringLiteral("带空格的名称"));
            QCOMPARE(table[7].section(QLatin1Char('|'), 1, 1), QStringLiteral("超长名称").repeated(6) + QStringLiteral("超"));
            QCOMPARE(table[9].section(QLatin1Char('|'), 5, 5), QString());      // sheet row 11: empty 备注
            QCOMPARE(table[12].section(QLatin1Char('|'), 4, 4), QStringLiteral("NULL")); // sheet row 14: empty 状态
            QCOMPARE(table[5].section(QLatin1Char('|'), 4, 4), QStringLiteral("1")); // sheet row 7: 状态 1
        }
    }

    // Text files as spreadsheet applications save them: "Unicode text" (UTF-16 with its byte
    // order mark, tab-separated), and quoted cells holding separators, quotes and line breaks.
    void textFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("rows"); // columns A to C of the data rows
        const QString unicode = QStringLiteral("序号\t分机号码\t分机名称\r\n1\t2001\t调度\r\n2\t2002\t井口\r\n");
        QTest::newRow("UTF-16 little-endian") << "unicode.txt"
                                              << QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char *>(unicode.utf16()), unicode.size() * 2)
                                              << QStringList{"1|2001|调度", "2|2002|井口"};
        QTest::newRow("quoted cells over lines") << "quoted.csv"
                                                 << QByteArray("序号,分机号码,分机名称\r\n1,2001,\"井下,\"\"一号\"\"\n调度\"\r\n2,2002,x\r\n")
                                                 << QStringList{"1|2001|井下,\"一号\"\n调度", "2|2002|x"};
    }
    void textFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, rows);
        QTemporaryDir dir;
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        QList<QStringList> read;
        QString why;
        QVERIFY2(TSheetReader::Read(file.fileName(), &read, &why), qPrintable(why));
        QStringList got;
        for (const QStringList &row : read.mid(1))
            got << row.mid(0, 3).join(QLatin1Char('|'));
        QCOMPARE(got, rows);
    }

    // Texts stored every way a writer may store them, in one sheet: shared strings (plain, in
    // rich-text runs, with a phonetic guide, empty), inline strings (plain, in runs, with kept
    // blanks), a text formula's last value, a number stored as text, and a row whose cells carry
    // no reference. Each cell reads as its own text, whatever the others are.
    // directory-inline-strings.xlsx is made by make-inline-strings.py beside it: the XML parts
    // written by hand and zipped with Python's zipfile (its shared-string part is named by an
    // absolute target, as some writers do).
    void sharedAndInlineStrings()
    {
        QList<QStringList> rows;
        QString why;
        QVERIFY2(TSheetReader::Read(Fixture(QStringLiteral("directory-inline-strings.xlsx")), &rows, &why), qPrintable(why));
        QCOMPARE(rows.size(), 7);
        QCOMPARE(rows[0], TSheetExport::Headings());
        const auto row = [](const QString &no, const QString &name, const QString &place, const QString &group,
                            const QString &state, const QString &note) {
            QStringList cells{QString(), no, name, place, group, "", "", "", "", "", "", "", state, note};
            return cells;
        };
        const QList<QStringList> expected{
            row("3001", "调度台", "主井口", "1", "0", "井下电话"),
            row("3002", "绞车房", "副井", "2", "0", "地面"),
            row("3003", "变电所", "中央泵房", "1", "0", "备用"),
            row("3004", "风机房", "回风井", "3", "0", ""),
            row("3005", "水泵房", "井底车场", "2", "0", "井下"),
            row("3006", "采区", "工作面", "4", "1", "新装"),
        };
        for (int r = 1; r < rows.size(); ++r) {
            QStringList want = expected[r - 1];
            want[0] = QString::number(r);
            QCOMPARE(rows[r], want);
        }

        TStore s;
        QCOMPARE(s.Import.Run(Fixture(QStringLiteral("directory-inline-strings.xlsx")), QStringLiteral("a")).Message(),
                 QStringLiteral("导入成功！"));
        QCOMPARE(s.Rows(QStringLiteral("select TelNum, TelName, Address, Msg from TelNumber order by TelNum")),
                 (QStringList{"3001|调度台|主井口|井下电话", "3002|绞车房|副井|地面", "3003|变电所|中央泵房|备用",
                              "3004|风机房|回风井|", "3005|水泵房|井底车场|井下", "3006|采区|工作面|新装"}));
    }

    // An import that meets a full disk stores all its rows or none, leaves the rows there before
    // it as they were, and says that the disk is full. SQLite may roll the transaction back by
    // itself (a page spill that cannot be written) or only the statement (the directory's page
    // limit): neither may end with some rows stored, or with rows written one by one outside a
    // transaction. A disk of 0 bytes means the directory's page limit stands for a full disk.
    // The server refuses the commit itself (here a deferred check; in life a server that
    // stops or fills up at that moment): nothing of the import is stored, and it says so.
    void importWhoseCommitTheServerRefuses()
    {
        if (!TestSupport::OnServer())
            QSKIP("the files' failed commits are the full-disk and locked cases");
        TStore s;
        QVERIFY2(s.Prepared, qPrintable(s.Error));
        s.Rows(QStringLiteral("CREATE FUNCTION refuse_at_commit() RETURNS trigger LANGUAGE plpgsql AS "
                              "$$BEGIN RAISE EXCEPTION 'refused at commit'; END$$"));
        s.Rows(QStringLiteral("CREATE CONSTRAINT TRIGGER refuse AFTER INSERT ON TelNumber DEFERRABLE INITIALLY DEFERRED "
                              "FOR EACH ROW EXECUTE FUNCTION refuse_at_commit()"));
        const int next = s.Directory.NextSequence;
        const auto outcome = s.Import.Run(Fixture(QStringLiteral("directory-sample.xlsx")), QStringLiteral("a"));
        QVERIFY2(outcome.Message().contains(QStringLiteral("导入失败，未导入任何记录")) && outcome.Message().contains(QStringLiteral("refused at commit")),
                 qPrintable(outcome.Message()));
        QCOMPARE(outcome.Imported, 0);
        QCOMPARE(s.Table(), QStringList());
        QCOMPARE(s.Directory.NextSequence, next);
        // Nothing stays open: the next import, the check gone, stores its rows.
        s.Rows(QStringLiteral("DROP TRIGGER refuse ON TelNumber"));
        QCOMPARE(s.Import.Run(Fixture(QStringLiteral("directory-sample.xlsx")), QStringLiteral("a")).Error, QString());
        QCOMPARE(s.Table().size(), 50);
    }

    void importOnAFullDisk_data()
    {
        QTest::addColumn<qint64>("disk");
        QTest::addColumn<qint64>("free");
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("fits");
        constexpr qint64 MB = 1024 * 1024;
        QTest::newRow("8 MB disk, 3 MB free, 120,000 rows") << 8 * MB << 3 * MB << 120000 << false;
        QTest::newRow("8 MB disk, 3 MB free, 2,000 rows") << 8 * MB << 3 * MB << 2000 << true;
        QTest::newRow("8 MB disk, 256 KB free, 5,000 rows") << 8 * MB << qint64(256 * 1024) << 5000 << false;
        QTest::newRow("2 MB disk, 1 MB free, 30,000 rows") << 2 * MB << MB << 30000 << false;
        QTest::newRow("page limit, 3 MB more, 120,000 rows") << qint64(0) << 3 * MB << 120000 << false;
        QTest::newRow("page limit, 3 MB more, 2,000 rows") << qint64(0) << 3 * MB << 2000 << true;
    }
    void importOnAFullDisk()
    {
        VARNEX_FILES_ONLY();
        QFETCH(qint64, disk);
        QFETCH(qint64, free);
        QFETCH(int, rows);
        QFETCH(bool, fits);
        TStore s;
        std::unique_ptr<TSmallDisk> small;
        if (disk > 0) {
            small = std::make_unique<TSmallDisk>(disk);
            if (!small->Problem().isEmpty())
                QSKIP(qPrintable(small->Problem() + QStringLiteral("; the page-limit rows stand for this one")));
            QString why;
            QVERIFY2(s.DM.Prepare(small->Path(), &why), qPrintable(why));
        }
        const QString file = s.Dir.filePath(QStringLiteral("many.csv"));
        {
            QFile csv(file);
            QVERIFY(csv.open(QIODevice::WriteOnly));
            QByteArray text = TSheetExport::Headings().join(QLatin1Char(',')).toUtf8() + "\n";
            for (int r = 1; r <= rows; ++r)
                text += QStringLiteral("%1,%2,分机名称%1,安装地址在第%1号巷道,1,2,3,,,,,,0,导入的备注%1\n")
                            .arg(r).arg(100000 + r).toUtf8();
            csv.write(text);
        }
        for (int n = 1; n <= 10; ++n) // rows already there
            QCOMPARE(s.Directory.AddTelNumber(QString::number(n), QStringLiteral("原有"), {}, {"1"}, QStringLiteral("0"), {}), QString());
        const QStringList before = s.Table();
        if (small) {
            QVERIFY(small->LeaveFree(free));
        } else {
            const QStringList pages = s.Rows(QStringLiteral("pragma page_count"));
            QVERIFY(!pages.isEmpty());
            s.Rows(QStringLiteral("pragma max_page_count = %1").arg(pages[0].toLongLong() + free / 4096));
        }

        const TNumberImport::TOutcome outcome = s.Import.Run(file, QStringLiteral("满"));
        const QStringList count = s.Rows(QStringLiteral("select count(*) from TelNumber"));
        if (fits) {
            QCOMPARE(outcome.Message(), QStringLiteral("导入成功！"));
            QCOMPARE(outcome.Imported, rows);
            QCOMPARE(count, QStringList{QString::number(rows + 10)});
            return;
        }
        QVERIFY2(outcome.Message().contains(QStringLiteral("导入失败，未导入任何记录")), qPrintable(outcome.Message()));
        QVERIFY2(outcome.Message().contains(QStringLiteral("磁盘已满")), qPrintable(outcome.Message()));
        QCOMPARE(outcome.Imported, 0);
        QCOMPARE(count, QStringList{"10"});
        QCOMPARE(s.Table(), before);

        // SQLite's own rollback is finished: no journal is left behind for another program.
        if (small)
            QVERIFY(!QFile::exists(small->Path() + QStringLiteral("/DATA/ChaDB.sqlite-journal")));
        // With room again the directory is whole and takes the next import at once.
        if (small)
            small->Release();
        else
            s.Rows(QStringLiteral("pragma max_page_count = 1073741823"));
        QCOMPARE(s.Rows(QStringLiteral("pragma integrity_check")), QStringList{"ok"});
        QCOMPARE(s.Import.Run(Fixture(QStringLiteral("directory-sample.csv")), QStringLiteral("b")).Message(), QStringLiteral("导入成功！"));
        QCOMPARE(s.Rows(QStringLiteral("select count(*) from TelNumber")), QStringList{"60"});
        QCOMPARE(s.Rows(QStringLiteral("select min(sequence), max(sequence) from TelNumber where TelNum >= 2001")),
                 QStringList{"11|60"});
    }

    // Another program holds the directory's write lock past the wait: the import stops at the
    // first row that cannot be written and stores nothing, although SQLite keeps the
    // transaction open after a lock (unlike after a full disk, which ends it). Going on would
    // store the rows after the lock was let go, as if the first one had been refused.
    void importStopsAtAnotherProgramsLock()
    {
        VARNEX_FILES_ONLY();
        TStore s;
        QVERIFY2(s.Prepared, qPrintable(s.Error));
        const QString file = s.Dir.filePath(QStringLiteral("five.csv"));
        {
            QFile csv(file);
            QVERIFY(csv.open(QIODevice::WriteOnly));
            QByteArray text = TSheetExport::Headings().join(QLatin1Char(',')).toUtf8() + "\n";
            for (int r = 1; r <= 5; ++r)
                text += QStringLiteral("%1,%2,分机%1,,1,,,,,,,,0,\n").arg(r).arg(3000 + r).toUtf8();
            csv.write(text);
        }
        std::atomic<bool> locked{false};
        std::thread other([&locked, path = s.DM.File()] {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other program"));
                db.setDatabaseName(path);
                if (db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"))) {
                    locked = true;
                    // Past the import's wait for a lock (1.5 s), then let go.
                    std::this_thread::sleep_for(std::chrono::milliseconds(2 * TDM::BusyTimeoutMs));
                    QSqlQuery(db).exec(QStringLiteral("COMMIT"));
                }
                locked = true;
            }
            QSqlDatabase::removeDatabase(QStringLiteral("other program"));
        });
        QTRY_VERIFY_WITH_TIMEOUT(locked, 5000);
        const TNumberImport::TOutcome outcome = s.Import.Run(file, QStringLiteral("锁"));
        other.join();
        QVERIFY2(outcome.Message().contains(QStringLiteral("导入失败，未导入任何记录")), qPrintable(outcome.Message()));
        QCOMPARE(outcome.Imported, 0);
        QCOMPARE(s.Rows(QStringLiteral("select count(*) from TelNumber")), QStringList{"0"});
    }

    void reimportUpdatesInPlace()
    {
        TStore s;
        s.Import.Run(Fixture(QStringLiteral("directory-sample.xlsx")), QStringLiteral("a"));
        const QStringList before = s.Table();
        QCOMPARE(s.Import.Run(Fixture(QStringLiteral("directory-sample.xls")), QStringLiteral("b")).Message(),
                 QStringLiteral("导入成功！"));
        QCOMPARE(s.Table(), TStore::Labelled(before, QStringLiteral("b")));
    }

    void filesThatAreNotRead_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("unsupported type") << "numbers.doc" << QByteArray("x");
        QTest::newRow("zero-byte xlsx") << "empty.xlsx" << QByteArray();
        QTest::newRow("text renamed xlsx") << "notes.xlsx" << QByteArray("序号,分机号码\n1,2001\n");
        QTest::newRow("garbage xls") << "junk.xls" << QByteArray(4096, '\x7F');
        QTest::newRow("zero-byte ods") << "empty.ods" << QByteArray();
    }
    void filesThatAreNotRead()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        TStore s;
        QFile f(s.Dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        const auto outcome = s.Import.Run(f.fileName(), QStringLiteral("a"));
        QVERIFY(!outcome.Error.isEmpty());
        QVERIFY(!outcome.Message().contains(QStringLiteral("导入成功")));
        QCOMPARE(s.Rows(QStringLiteral("select count(*) from TelNumber")), QStringList{"0"});
    }

    // A file saved with a password is named as such, and nothing is written.
    void passwordProtectedFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("xlsx") << "directory-password.xlsx";
        QTest::newRow("ods") << "directory-password.ods";
        QTest::newRow("xls") << "directory-password.xls";
    }
    void passwordProtectedFiles()
    {
        QFETCH(QString, name);
        TStore s;
        QString path = Fixture(name);
        if (name.endsWith(QLatin1String(".xls"))) {
            // An .xls saved with a password starts its workbook stream with BOF, then FILEPASS.
            QFile in(Fixture(QStringLiteral("directory-sample.xls")));
            QVERIFY(in.open(QIODevice::ReadOnly));
            QByteArray bytes = in.readAll();
            const qsizetype bof = bytes.indexOf(QByteArray::fromHex("09081000"));
            QVERIFY(bof > 0);
            bytes[bof + 20] = char(0x2F);
            bytes[bof + 21] = char(0x00);
            QFile out(path = s.Dir.filePath(name));
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(bytes);
        }
        QVERIFY(TSheetReader::IsPasswordProtected(path));
        const auto outcome = s.Import.Run(path, QStringLiteral("a"));
        QVERIFY2(outcome.Message().contains(TSheetReader::ProtectedText()), qPrintable(outcome.Message()));
        QCOMPARE(s.Rows(QStringLiteral("select count(*) from TelNumber")), QStringList{"0"});
        // The files they were made from are not taken for protected ones.
        QVERIFY(!TSheetReader::IsPasswordProtected(Fixture(QStringLiteral("directory-sample.") + TSheetReader::ExtensionOf(name))));
    }

    void truncatedXlsx()
    {
        TStore s;
        QFile in(Fixture(QStringLiteral("directory-sample.xlsx")));
        QVERIFY(in.open(QIODevice::ReadOnly));
        QFile out(s.Dir.filePath(QStringLiteral("cut.xlsx")));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(in.readAll().left(3000));
        out.close();
        QVERIFY(!s.Import.Run(out.fileName(), QStringLiteral("a")).Error.isEmpty());
    }

    void realExtensionDecides()
    {
        TStore s;
        QCOMPARE(s.Import.Run(s.Copy(QStringLiteral("directory-sample.xls"), QStringLiteral("data.2020.xls")), QStringLiteral("a")).Message(),
                 QStringLiteral("导入成功！"));
        QCOMPARE(s.Rows(QStringLiteral("select count(*) from TelNumber")), QStringList{"50"});
    }

    void emptyPathOrLabel()
    {
        TStore s;
        QCOMPARE(s.Import.Run(QString(), QStringLiteral("a")).Error, QStringLiteral("请选择电话号码文件！"));
        QCOMPARE(s.Import.Run(Fixture(QStringLiteral("directory-sample.csv")), QString()).Error, QStringLiteral("请输入本次导入的标注！"));
    }

    void oddCellsInAGeneratedSheet()
    {
        TStore s;
        const QString path = s.Dir.filePath(QStringLiteral("odd.xlsx"));
        lxw_workbook *book = workbook_new(QFile::encodeName(path).constData());
        lxw_worksheet *sheet = workbook_add_worksheet(book, nullptr);
        worksheet_write_string(sheet, 0, 0, "序号", nullptr);
        worksheet_write_number(sheet, 1, 0, 1, nullptr);
        worksheet_write_formula_num(sheet, 1, 1, "=2000+1", nullptr, 2001);
        worksheet_write_boolean(sheet, 1, 2, 1, nullptr);
        worksheet_write_string(sheet, 1, 3, QString(10000, QLatin1Char('x')).toUtf8().constData(), nullptr);
        worksheet_write_number(sheet, 1, 999, 5, nullptr); // far beyond the fourteen columns
        QCOMPARE(workbook_close(book), LXW_NO_ERROR);
        QCOMPARE(s.Import.Run(path, QStringLiteral("a")).Message(), QStringLiteral("导入成功！"));
        QCOMPARE(s.Rows(QStringLiteral("select TelNum, TelName, length(Address) from TelNumber")), QStringList{"2001|TRUE|50"});
    }

    void exportThenImportChangesNothing()
    {
        TStore s;
        s.Import.Run(Fixture(QStringLiteral("directory-sample.xlsx")), QStringLiteral("a"));
        s.Directory.AddTelNumber(QStringLiteral("2100"), QStringLiteral("x"), QString(), {"03", "12"}, QString(), QString());
        const QStringList before = s.Table();
        TTelBook book(s.DM, s.Trace);
        book.Open();
        const QString path = s.Dir.filePath(QStringLiteral("out.xlsx"));
        QCOMPARE(TSheetExport::Write(book.Query, path), QString());

        QList<QStringList> rows;
        QString why;
        QVERIFY2(TSheetReader::Read(path, &rows, &why), qPrintable(why));
        QCOMPARE(rows.size(), 52);
        QCOMPARE(rows[0], TSheetExport::Headings());
        QCOMPARE(rows[1], (QStringList{"1", "2001", "调度员00", "主井口", "1", "8", "", "", "", "", "", "", "0", "井下电话"}));
        QCOMPARE(rows[51].mid(1, 6), (QStringList{"2100", "x", "", "03", "12", ""}));

        QCOMPARE(s.Import.Run(path, QStringLiteral("b")).Message(), QStringLiteral("导入成功！"));
        QCOMPARE(s.Table(), TStore::Labelled(before, QStringLiteral("b")));

        // Read once more with liborcus itself: numbers are numeric cells, NULL leaves a cell empty,
        // and a group text that is not a plain number stays text.
        orcus::spreadsheet::document doc({1048576, 16384});
        orcus::spreadsheet::import_factory factory(doc);
        orcus::orcus_xlsx(&factory).read_file(QFile::encodeName(path).toStdString());
        const ixion::model_context &cells = doc.get_model_context();
        const auto type = [&cells](int row, int column) { return cells.get_celltype(ixion::abs_address_t(0, row, column)); };
        QVERIFY(type(0, 0) == ixion::celltype_t::string);
        QVERIFY(type(1, 0) == ixion::celltype_t::numeric);
        QCOMPARE(cells.get_numeric_value(ixion::abs_address_t(0, 1, 1)), 2001.0);
        QVERIFY(type(1, 2) == ixion::celltype_t::string);
        QVERIFY(type(1, 4) == ixion::celltype_t::numeric);
        QVERIFY(type(1, 6) == ixion::celltype_t::empty);
        QVERIFY(type(13, 12) == ixion::celltype_t::empty); // 状态 NULL
        QVERIFY(type(51, 4) == ixion::celltype_t::string); // "03"
    }

    void hugeSheets()
    {
        TStore s;
        const QString path = s.Dir.filePath(QStringLiteral("huge.xlsx"));
        lxw_workbook *book = workbook_new(QFile::encodeName(path).constData());
        lxw_worksheet *sheet = workbook_add_worksheet(book, nullptr);
        for (lxw_row_t r = 0; r <= 100000; ++r) {
            worksheet_write_number(sheet, r, 0, r, nullptr);
            worksheet_write_number(sheet, r, 1, 100000 + r, nullptr);
        }
        QCOMPARE(workbook_close(book), LXW_NO_ERROR);
        QList<QStringList> rows;
        QString why;
        QVERIFY2(TSheetReader::Read(path, &rows, &why), qPrintable(why));
        QCOMPARE(rows.size(), 100001);
        QCOMPARE(rows.last()[1], QStringLiteral("200000"));
    }

    // An export that cannot be written says why (a full disk, a read-only disk, a file where
    // the folder should be) instead of asking for the file's format to be checked, and leaves
    // no file behind, neither the target nor its unfinished copy.
    void exportWhereItCannotBeWritten_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("cause");
        QTest::newRow("full disk") << "full" << "磁盘已满";
        QTest::newRow("read-only disk") << "read-only" << "磁盘只读";
        QTest::newRow("a file in place of the folder") << "file" << "不是文件夹";
    }
    void exportWhereItCannotBeWritten()
    {
        QFETCH(QString, place);
        QFETCH(QString, cause);
        TStore s;
        std::unique_ptr<TSmallDisk> small;
        QString folder = s.Dir.filePath(QStringLiteral("notes.txt"));
        if (place == QLatin1String("file")) {
            QFile file(folder);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            small = std::make_unique<TSmallDisk>(1024 * 1024);
            if (!small->Problem().isEmpty())
                QSKIP(qPrintable(small->Problem()));
            folder = small->Path();
            QVERIFY(place == QLatin1String("full") ? small->LeaveFree(8 * 1024) : small->MakeReadOnly());
        }
        int row = 0;
        const QString error = TSheetExport::WriteRows(folder + QStringLiteral("/out.xlsx"), TSheetExport::Headings(), [&row](QStringList &cells) {
            cells = QStringList{QString::number(++row), QString::number(row * 7919 % 100003), QStringLiteral("名称%1").arg(row * 31)};
            return row <= 20000;
        });
        QVERIFY(!error.isEmpty());
        const QString said = TSheetExport::FailureText(error);
        QVERIFY2(said.startsWith(QStringLiteral("导出数据出错！") + cause), qPrintable(said));
        QVERIFY2(!said.contains(QStringLiteral("请检查文件的格式")), qPrintable(said));
        if (small) {
            small->Release();
            QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{});
        }
        // A failure the folder does not explain still asks for the format to be checked.
        QVERIFY(TSheetExport::FailureText(QStringLiteral("没有打开的号码列表")).startsWith(QStringLiteral("导出数据出错！请检查文件的格式是否正确！")));
    }

    void exportMembersOrNothing()
    {
        TStore s;
        s.Import.Run(Fixture(QStringLiteral("directory-sample.csv")), QStringLiteral("a"));
        TTelBook book(s.DM, s.Trace);
        book.Open();
        book.GroupQuery.Execute(QStringLiteral("insert into \"Group\"(GroupNum, sequence) values (3, 1)"));
        book.ShowAllGroups();
        book.ShowMembers();
        const QString path = s.Dir.filePath(QStringLiteral("members.xlsx"));
        QCOMPARE(TSheetExport::Write(book.Query, path), QString());
        QList<QStringList> rows;
        QString why;
        QVERIFY(TSheetReader::Read(path, &rows, &why));
        QCOMPARE(rows.size() - 1, book.TelCount);
        for (int r = 1; r < rows.size(); ++r)
            QVERIFY(rows[r].mid(4, 8).contains(QStringLiteral("3")));

        book.DeleteAll();
        const QString none = s.Dir.filePath(QStringLiteral("none.xlsx"));
        QVERIFY(!TSheetExport::Write(book.Query, none).isEmpty());
        QVERIFY(!QFile::exists(none));
    }
};

QTEST_GUILESS_MAIN(TstImportExport)
#include "tst_import_export.moc"
