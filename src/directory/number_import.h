#pragma once

#include <QString>
#include <functional>

class TDirectory;
class TDM;

// Fills the extension table from a directory file: every data row whose 分机号码 is not empty
// is added or updated, in one transaction.
class TNumberImport
{
public:
    struct TOutcome
    {
        int Rows = 0;     // data rows read
        int Imported = 0; // rows stored
        int Refused = 0;  // rows the store would not take
        QString FirstRefusal;
        QString Error; // the import ended early (or never began) for this reason
        // The file's row whose cell could not be stored: the import stopped there, and the rows
        // before it are stored (0 when it did not stop at a row).
        int StoppedAt = 0;
        // What the operator is told at the end.
        QString Message() const;
    };
    // After every row: rows done so far and all data rows.
    using TProgress = std::function<void(int done, int total)>;

    // The label is stored with every row the import writes (ImpFlag, varchar(10)), cut to
    // this many GBK bytes as every text of the directory is cut to its column.
    static constexpr int LabelBytes = 10;

    TNumberImport(TDirectory &directory, TDM &store);

    // A file without one 分机号码 to store ends with an error too: "导入 0 条" and why.
    TOutcome Run(const QString &path, const QString &label, const TProgress &progress = {});

private:
    // The transaction was rolled back: the outcome says so and counts nothing as stored.
    static TOutcome NothingImported(TOutcome outcome, const QString &why);

    TDirectory &Directory;
    TDM &Store;
};
