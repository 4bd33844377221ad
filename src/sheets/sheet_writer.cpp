#include "sheets/sheet_writer.h"

#include "common/configuration.h"
#include "common/write_problem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>

QString TSheetWriter::WithExtension(const QString &path)
{
    return path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive) ? path : path + QStringLiteral(".xlsx");
}

QString TSheetWriter::TargetOf(const QString &file, QString *error)
{
    const QString extension = QFileInfo(file).suffix();
    if (extension.isEmpty())
        return file + QStringLiteral(".xlsx");
    if (extension.compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0 || IsCsv(file))
        return file;
    *error = QStringLiteral("不能导出为 \"%1\" 文件：可导出 .xlsx 或 .csv（没有扩展名时加 .xlsx）。").arg(extension);
    return QString();
}

bool TSheetWriter::IsCsv(const QString &path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0;
}

QString TSheetWriter::FailureText(const QString &error, const QString &separator)
{
    // The file's format is the operator's to check only when nothing else is known to be wrong.
    return (TWriteProblem::IsCause(error) ? QStringLiteral("导出数据出错！")
                                          : QStringLiteral("导出数据出错！请检查文件的格式是否正确！"))
        + separator + error;
}

QString TSheetWriter::WriteRows(const QString &path, const QStringList &headings,
                                const std::function<bool(QStringList &row)> &next)
{
    // Written beside the target first, then put in its place.
    const QString folder = QFileInfo(path).absolutePath();
    // What the folder and its disk show, said first when something is seen to be wrong.
    const auto failed = [&folder](const QString &what, int systemError = 0) {
        const QString cause = TWriteProblem::Of(folder, systemError);
        return cause.isEmpty() ? what : cause + QStringLiteral("（") + what + QStringLiteral("）");
    };
    if (IsCsv(path)) {
        // Written beside the target and put in its place by commit(), with the permissions a
        // new file gets.
        QSaveFile csv(path);
        if (!csv.open(QIODevice::WriteOnly))
            return failed(QStringLiteral("不能在 %1 写文件: %2").arg(folder, csv.errorString()));
        errno = 0;
        // The byte order mark lets spreadsheet applications take the Chinese texts as UTF-8.
        bool ok = csv.write("\xEF\xBB\xBF") == 3 && csv.write(CsvLine(headings)) >= 0;
        for (QStringList cells; ok && next(cells);)
            ok = csv.write(CsvLine(cells)) >= 0;
        const int systemError = errno;
        if (ok && csv.commit())
            return QString();
        const QString why = failed(QStringLiteral("写入失败: %1").arg(csv.errorString()), errno ? errno : systemError);
        csv.cancelWriting();
        return why;
    }
    QString temporary;
    {
        QTemporaryFile placeholder(folder + QStringLiteral("/.varnex-export-XXXXXX.xlsx"));
        if (!placeholder.open())
            return failed(QStringLiteral("不能在 %1 写文件: %2").arg(folder, placeholder.errorString()));
        temporary = placeholder.fileName();
    }
    errno = 0;
    lxw_workbook *book = workbook_new(QFile::encodeName(temporary).constData());
    if (!book) {
        const int systemError = errno;
        QFile::remove(temporary);
        return failed(QStringLiteral("不能创建 %1").arg(temporary), systemError);
    }
    lxw_worksheet *sheet = workbook_add_worksheet(book, nullptr);
    for (int c = 0; c < headings.size(); ++c)
        worksheet_write_string(sheet, 0, lxw_col_t(c), headings[c].toUtf8().constData(), nullptr);
    lxw_row_t row = 1;
    for (QStringList cells; next(cells); ++row) {
        for (int c = 0; c < cells.size(); ++c) {
            const QString &text = cells[c];
            int number = 0;
            // Only texts that read back the same become numbers ("03" stays text).
            if (ParseDecimalInt(text, &number) && QString::number(number) == text)
                worksheet_write_number(sheet, row, lxw_col_t(c), number, nullptr);
            else if (!text.isEmpty())
                worksheet_write_string(sheet, row, lxw_col_t(c), text.toUtf8().constData(), nullptr);
        }
    }
    errno = 0;
    const lxw_error rc = workbook_close(book);
    if (rc != LXW_NO_ERROR) {
        // Judged while the unfinished file still takes its room.
        const QString why = failed(QStringLiteral("写入失败: %1").arg(QString::fromUtf8(lxw_strerror(rc))), errno);
        QFile::remove(temporary);
        return why;
    }
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0
        && !(QFile::remove(path) && QFile::rename(temporary, path))) {
        const QString why = failed(QStringLiteral("不能写入 %1").arg(path), errno);
        QFile::remove(temporary);
        return why;
    }
    return QString();
}

QByteArray TSheetWriter::CsvLine(const QStringList &cells)
{
    QStringList quoted;
    for (const QString &cell : cells) {
        // Quoted when the text holds what would end the cell or the row, or blanks at its ends
        // that an unquoted cell would lose.
        const bool quote = cell.contains(QLatin1Char(',')) || cell.contains(QLatin1Char('"'))
            || cell.contains(QLatin1Char('\n')) || cell.contains(QLatin1Char('\r')) || cell.contains(QLatin1Char('\t'))
            || (!cell.isEmpty() && (cell.front().isSpace() || cell.back().isSpace()));
        quoted << (quote ? QLatin1Char('"') + QString(cell).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"')
                         : cell);
    }
    return (quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
}
