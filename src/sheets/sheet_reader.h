#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The first worksheet of a directory file as the operator sees its cells: whole numbers without
// a fraction, other numbers in their shortest exact form, text without surrounding blanks or
// control characters, empty cells as empty text. Reads .xlsx (its XML parts directly), .ods
// (liborcus), .xls (FreeXL), and .csv/.txt (comma or tab separated, UTF-8, GBK or UTF-16 with
// its byte order mark; a quoted cell may hold separators and line breaks). The format is the
// file's real extension, after its last "."; a .csv/.txt that holds a spreadsheet or other
// binary data is refused as such.
class TSheetReader
{
public:
    static constexpr int Columns = 14;

    static QStringList Extensions() { return {"xlsx", "xls", "ods", "csv", "txt"}; }
    static QString ExtensionOf(const QString &path);

    // Row 1 (the headings), then the data rows up to the first whose column A is blank; at most
    // Columns cells a row. False, with the reason, when the file cannot be read.
    static bool Read(const QString &path, QList<QStringList> *rows, QString *error);

    // What the operator is told of a file saved with a password.
    static QString ProtectedText() { return QStringLiteral("文件有密码保护，无法读取"); }
    // Whether the file was saved with a password: an encrypted .xlsx (a compound document with
    // an encrypted package instead of a zip), an .xls with a password record, or an .ods whose
    // manifest lists encrypted parts.
    static bool IsPasswordProtected(const QString &path);

    static QString NumberText(double value);
    static QString CleanText(const QString &text);
};
