#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class TLiveQuery;

// Writes the directory window's current list of extensions as a .xlsx file: the fourteen
// headings in row 1, one extension a row after it, NULL as empty cells, whole numbers as
// numeric cells. A path ending in .csv gets the same rows as comma-separated UTF-8 text
// instead, which the import reads back unchanged. The file appears whole or not at all.
class TSheetExport
{
public:
    static QStringList Headings();
    static QString DefaultFileName(); // 电话号码-<today>.xlsx
    // path with ".xlsx" added unless it already ends so (in any case).
    static QString WithExtension(const QString &path);
    // Where a file named on the command line is written: with ".xlsx" added when it has no
    // extension, as given when it ends in .xlsx or .csv (in any case). Empty, with the reason,
    // for any other extension.
    static QString TargetOf(const QString &file, QString *error);
    static bool IsCsv(const QString &path);

    // What the operator is told when Write or WriteRows failed: the cause first when the folder
    // or its disk shows it (a full or read-only disk, no permission), else the file's format
    // is to be checked.
    static QString FailureText(const QString &error, const QString &separator = QString());
    // Empty on success, else the reason; a closed list is refused.
    static QString Write(TLiveQuery &list, const QString &path);
    // Any table: headings in row 1, then the rows next() fills until it returns false; empty
    // texts as empty cells, whole numbers as numeric cells. Same guarantees as above.
    static QString WriteRows(const QString &path, const QStringList &headings, const std::function<bool(QStringList &row)> &next);

private:
    static QByteArray CsvLine(const QStringList &cells);
};
