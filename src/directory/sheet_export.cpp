#include "directory/sheet_export.h"

#include "directory/live_query.h"
#include "directory/tel_book.h"
#include "common/configuration.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cstdio>

QStringList TSheetExport::Headings()
{
    return TTelBook::TelNumberTitles();
}

QString TSheetExport::DefaultFileName()
{
    return QStringLiteral("电话号码-%1.xlsx").arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
}

QString TSheetExport::WithExtension(const QString &path)
{
    return path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive) ? path : path + QStringLiteral(".xlsx");
}

QString TSheetExport::Write(TLiveQuery &list, const QString &path)
{
    if (!list.IsOpen())
        return QStringLiteral("没有打开的号码列表");
    const QStringList columns = TTelBook::TelNumberColumns();
    list.First();
    return WriteRows(path, Headings(), [&](QStringList &row) {
        if (list.Eof())
            return false;
        row.clear();
        for (const QString &column : columns) {
            const QVariant value = list.Value(column);
            row << (value.isNull() ? QString() : value.toString());
        }
        list.Next();
        return true;
    });
}

QString TSheetExport::WriteRows(const QString &path, const QStringList &headings,
                                const std::function<bool(QStringList &row)> &next)
{
    // Written beside the target first, then put in its place.
    QString temporary;
    {
        QTemporaryFile placeholder(QFileInfo(path).absolutePath() + QStringLiteral("/.varnex-export-XXXXXX.xlsx"));
        if (!placeholder.open())
            return QStringLiteral("不能在 %1 写文件: %2").arg(QFileInfo(path).absolutePath(), placeholder.errorString());
        temporary = placeholder.fileName();
    }
    lxw_workbook *book = workbook_new(QFile::encodeName(temporary).constData());
    if (!book)
        return QStringLiteral("不能创建 %1").arg(temporary);
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
    const lxw_error rc = workbook_close(book);
    if (rc != LXW_NO_ERROR) {
        QFile::remove(temporary);
        return QStringLiteral("写入失败: %1").arg(QString::fromUtf8(lxw_strerror(rc)));
    }
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0
        && !(QFile::remove(path) && QFile::rename(temporary, path))) {
        QFile::remove(temporary);
        return QStringLiteral("不能写入 %1").arg(path);
    }
    return QString();
}
