// Importing a 10,000-row .xlsx into an empty directory, and exporting those 10,000 rows.
#include "directory/directory.h"
#include "directory/directory_store.h"
#include "directory/number_import.h"
#include "directory/sheet_export.h"
#include "directory/tel_book.h"
#include "common/line_log.h"
#include "common/trace_sink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include <xlsxwriter.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    constexpr int Rows = 10000;
    QTemporaryDir dir;
    const QString sheetPath = dir.filePath(QStringLiteral("in.xlsx"));
    {
        lxw_workbook *book = workbook_new(QFile::encodeName(sheetPath).constData());
        lxw_worksheet *sheet = workbook_add_worksheet(book, nullptr);
        const QStringList headings = TSheetExport::Headings();
        for (int c = 0; c < headings.size(); ++c)
            worksheet_write_string(sheet, 0, lxw_col_t(c), headings[c].toUtf8().constData(), nullptr);
        for (int r = 1; r <= Rows; ++r) {
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

    TDM store;
    QString why;
    if (!store.Prepare(dir.path(), &why)) {
        std::fprintf(stderr, "cannot prepare the directory: %s\n", qPrintable(why));
        return 1;
    }
    TLineLog log;
    TTraceSink trace;
    TDirectory directory(store, log);
    TNumberImport import(directory, store);
    TTelBook book(store, trace);

    QElapsedTimer timer;
    timer.start();
    const auto outcome = import.Run(sheetPath, QStringLiteral("bench"));
    const double importSeconds = double(timer.nsecsElapsed()) / 1e9;
    if (!outcome.Error.isEmpty() || outcome.Imported != Rows) {
        std::fprintf(stderr, "import failed: %s\n", qPrintable(outcome.Message()));
        return 1;
    }

    book.Open();
    timer.restart();
    const QString error = TSheetExport::Write(book.Query, dir.filePath(QStringLiteral("out.xlsx")));
    const double exportSeconds = double(timer.nsecsElapsed()) / 1e9;
    if (!error.isEmpty()) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("import of %d rows from .xlsx: %.3f s\nexport of %d rows to .xlsx: %.3f s\n", Rows, importSeconds, Rows,
                exportSeconds);
    return 0;
}
