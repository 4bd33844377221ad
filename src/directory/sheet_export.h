#pragma once

#include "sheets/sheet_writer.h"

#include <QString>
#include <QStringList>

class TLiveQuery;

// The directory window's current list of extensions as a sheet: the fourteen headings in row
// 1, one extension a row after it, NULL as empty cells; a .csv path gets text the import reads
// back unchanged.
class TSheetExport : public TSheetWriter
{
public:
    static QStringList Headings();
    static QString DefaultFileName(); // 电话号码-<today>.xlsx
    // Empty on success, else the reason; a closed list is refused.
    static QString Write(TLiveQuery &list, const QString &path);
};
