#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Writes a table as a .xlsx file (headings in row 1, one row a line after it, empty texts as
// empty cells, whole numbers as numeric cells) or, for a path ending in .csv, as comma-separated
// UTF-8 text with the same rows. The file appears whole or not at all.
class TSheetWriter
{
public:
    // path with ".xlsx" added unless it already ends so (in any case).
    static QString WithExtension(const QString &path);
    // Where a file named on the command line is written: with ".xlsx" added when it has no
    // extension, as given when it ends in .xlsx or .csv (in any case). Empty, with the reason,
    // for any other extension.
    static QString TargetOf(const QString &file, QString *error);
    static bool IsCsv(const QString &path);

    // What the operator is told when a write failed: the cause first when the folder or its
    // disk shows it (a full or read-only disk, no permission), else the file's format is to be
    // checked.
    static QString FailureText(const QString &error, const QString &separator = QString());
    // Headings in row 1, then the rows next() fills until it returns false. Empty on success,
    // else the reason.
    static QString WriteRows(const QString &path, const QStringList &headings, const std::function<bool(QStringList &row)> &next);

private:
    static QByteArray CsvLine(const QStringList &cells);
};
