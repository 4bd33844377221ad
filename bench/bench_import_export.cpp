// Importing a 10,000-row .xlsx into an empty directory, and exporting those 10,000 rows: on the
// SQLite files, and in a database on a throwaway PostgreSQL server of the benchmark's own (made
// as the tests make theirs). Then, with the program built, `varnex import` of 120,000 rows into
// an old system's ChaDB.sqlite (its tables, not our index on the number): every row is looked
// up by its number, so without the index the import would grow with the square of the rows.
#include "directory/directory.h"
#include "directory/directory_store.h"
#include "directory/number_import.h"
#include "directory/sheet_export.h"
#include "directory/tel_book.h"
#include "common/line_log.h"
#include "common/trace_sink.h"
#include "support/pg_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>

#include <xlsxwriter.h>

namespace {

constexpr int Rows = 10000;
constexpr int OldSystemRows = 120000;

void WriteSheet(const QString &path, int rows = Rows)
{
    lxw_workbook *book = workbook_new(QFile::encodeName(path).constData());
    lxw_worksheet *sheet = workbook_add_worksheet(book, nullptr);
    const QStringList headings = TSheetExport::Headings();
    for (int c = 0; c < headings.size(); ++c)
        worksheet_write_string(sheet, 0, lxw_col_t(c), headings[c].toUtf8().constData(), nullptr);
    for (int r = 1; r <= rows; ++r) {
        worksheet_write_number(sheet, lxw_row_t(r), 0, r, nullptr);
        worksheet_write_number(sheet, lxw_row_t(r), 1, 100000 + r, nullptr);
        worksheet_write_string(sheet, lxw_row_t(r), 2, QStringLiteral("分机%1").arg(r).toUtf8().constData(), nullptr);
        worksheet_write_string(sheet, lxw_row_t(r), 3, "主井口", nullptr);
        worksheet_write_number(sheet, lxw_row_t(r), 4, r % 8 + 1, nullptr);
        worksheet_write_number(sheet, lxw_row_t(r), 12, 0, nullptr);
        worksheet_write_string(sheet, lxw_row_t(r), 13, "井下电话", nullptr);
    }
    workbook_close(book);
}

struct TTimes
{
    double Import = -1, Export = -1; // seconds
    QString Problem;
};

// The import into an empty directory in `folder` (its files, or the database the address
// names), then the export of the rows the directory window lists.
TTimes Measure(const QString &sheet, const QString &folder, const QString &address)
{
    TTimes times;
    TStoreUrl url;
    TDM store;
    if (!TStoreUrl::Parse(address, &url, &times.Problem) || !store.Prepare(folder, &times.Problem, url)) {
        times.Problem = QStringLiteral("cannot prepare the directory: ") + times.Problem;
        return times;
    }
    TLineLog log;
    TTraceSink trace;
    TDirectory directory(store, log);
    TNumberImport import(directory, store);
    TTelBook book(store, trace);

    QElapsedTimer timer;
    timer.start();
    const auto outcome = import.Run(sheet, QStringLiteral("bench"));
    times.Import = double(timer.nsecsElapsed()) / 1e9;
    if (!outcome.Error.isEmpty() || outcome.Imported != Rows) {
        times.Problem = QStringLiteral("import failed: ") + outcome.Message();
        return times;
    }
    book.Open();
    timer.restart();
    const QString error = TSheetExport::Write(book.Query, folder + QStringLiteral("/out.xlsx"));
    times.Export = double(timer.nsecsElapsed()) / 1e9;
    if (!error.isEmpty())
        times.Problem = QStringLiteral("export failed: ") + error;
    return times;
}

#ifdef VARNEX_PROGRAM
// `varnex import` of a sheet of OldSystemRows rows, as a process of its own, into `folder`
// holding an old system's directory: DATA/ChaDB.sqlite with the two tables and no index of
// ours. Seconds, or -1 with the problem.
double ImportIntoOldSystem(const QString &folder, QString *problem)
{
    const QString sheet = folder + QStringLiteral("/old.xlsx");
    WriteSheet(sheet, OldSystemRows);
    QDir().mkpath(folder + QStringLiteral("/DATA"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old-system"));
        db.setDatabaseName(TDM::FileIn(folder));
        QSqlQuery make(db);
        if (!db.open() || !make.exec(TDM::CreateTelNumber()) || !make.exec(TDM::CreateGroup()))
            *problem = QStringLiteral("cannot make the old system's file: ") + make.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old-system"));
    if (!problem->isEmpty())
        return -1;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder);
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    program.start(QStringLiteral(VARNEX_PROGRAM), {QStringLiteral("import"), sheet, QStringLiteral("--data-dir"), folder});
    if (!program.waitForFinished(600000) || program.exitCode() != 0) {
        *problem = QStringLiteral("varnex import failed: ") + QString::fromUtf8(program.readAll());
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e9;
}
#endif

std::string Cell(double seconds, const TTimes &times)
{
    char text[32];
    if (!times.Problem.isEmpty() && seconds < 0)
        return "—";
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString sheet = dir.filePath(QStringLiteral("in.xlsx"));
    WriteSheet(sheet);

    QDir().mkpath(dir.filePath(QStringLiteral("files")));
    QDir().mkpath(dir.filePath(QStringLiteral("server")));
    const TTimes files = Measure(sheet, dir.filePath(QStringLiteral("files")), QString());
    TTimes server;
    server.Problem = TPgServer::Shared().Problem();
    if (server.Problem.isEmpty())
        server = Measure(sheet, dir.filePath(QStringLiteral("server")), TPgServer::Shared().NewDatabase());

    std::printf("| operation | files | server |\n|---|---|---|\n");
    std::printf("| import of %d rows from .xlsx | %s | %s |\n", Rows, Cell(files.Import, files).c_str(),
                Cell(server.Import, server).c_str());
    std::printf("| export of %d rows to .xlsx | %s | %s |\n", Rows, Cell(files.Export, files).c_str(),
                Cell(server.Export, server).c_str());
    bool failed = false;
#ifdef VARNEX_PROGRAM
    QDir().mkpath(dir.filePath(QStringLiteral("old")));
    QString oldProblem;
    const double old = ImportIntoOldSystem(dir.filePath(QStringLiteral("old")), &oldProblem);
    if (old >= 0)
        std::printf("| varnex import of %d rows from .xlsx into an old system's ChaDB.sqlite (no index on the number) | %.3f s | |\n",
                    OldSystemRows, old);
    else {
        std::fprintf(stderr, "old system: %s\n", qPrintable(oldProblem));
        failed = true;
    }
#endif
    for (const auto &[engine, times] : {std::pair{"files", files}, std::pair{"server", server}})
        if (!times.Problem.isEmpty()) {
            std::fprintf(stderr, "%s: %s\n", engine, qPrintable(times.Problem));
            failed = true;
        }
    return failed ? 1 : 0;
}
