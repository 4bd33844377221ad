#include "directory/sheet_export.h"

#include "directory/live_query.h"
#include "directory/tel_book.h"

#include <QDate>

QStringList TSheetExport::Headings()
{
    return TTelBook::TelNumberTitles();
}

QString TSheetExport::DefaultFileName()
{
    return QStringLiteral("电话号码-%1.xlsx").arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
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

