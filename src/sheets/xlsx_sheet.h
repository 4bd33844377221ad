#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The first worksheet of an .xlsx file, read from its XML parts. Every kind of text cell reads
// as its own text: a shared string by its place in the file's string table (one place for each
// entry, empty or rich-text ones included, so no index ever shifts), an inline string from the
// cell itself, a text formula by its last saved value. Rich-text runs are joined; phonetic
// guides are not part of a text. Numbers and booleans come as written; the caller formats them.
class TXlsxSheet
{
public:
    struct TCell
    {
        enum TKind { Text, Number, Boolean } Kind = Text;
        QString Value;
    };
    using TRow = QList<TCell>;

    // Cells of the first `columns` columns, by 0-based row; rows the file leaves out are absent.
    // False, with the reason, when the file is no readable .xlsx.
    static bool Read(const QString &path, int columns, QHash<int, TRow> *rows, int *rowCount, QString *error);

    // "_x000D_"-style escapes of characters XML cannot carry, as writers put them in texts.
    static QString Unescape(const QString &text);
};
