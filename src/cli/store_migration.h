#pragma once

#include "store/store_url.h"

#include <QString>

#include <memory>

class QSqlDatabase;
class TDM;
class TStorePlace;

// Moves a site between its two kinds of store: the directory and the history from the files in
// DATA/ to a server's database, or back. The source is only read. The target must hold no rows
// unless appending (then the directory's rows come after the target's, renumbered in their
// order, and history entries already there are not written twice). What is copied is counted,
// and read back from the target after the commit; nothing is stored when anything fails.
class TStoreMigration
{
public:
    struct TCounts
    {
        qint64 Phones = 0;
        qint64 Groups = 0;
        qint64 Entries = 0;
        qint64 Numbers = 0;
        QString Text() const;
        bool operator==(const TCounts &) const = default;
    };

    // from or to empty (not a server): the files in dataDir's DATA/.
    TStoreMigration(QString dataDir, TStoreUrl from, TStoreUrl to, bool append);
    ~TStoreMigration();

    // Empty when everything was copied and the target holds what it should; else why not.
    QString Run();
    TCounts Source() const { return Read; }
    TCounts Copied() const { return Written; }
    TCounts Target() const { return After; }

private:
    static void LeaveNoTrace(QSqlDatabase &db, const TStorePlace &place);
    QString OpenSource(QString *why);
    QString OpenTarget();
    static bool Count(const QSqlDatabase &db, bool directory, bool history, TCounts *counts, QString *why);
    QString Copy(const QSqlDatabase &from, const QSqlDatabase &to, const QString &table, qint64 sequenceOffset,
                 qint64 *rows);
    QString CopyHistory(const QSqlDatabase &from, const QSqlDatabase &to);

    std::unique_ptr<TDM> TargetStore;
    QString DataDir;
    TStoreUrl From;
    TStoreUrl To;
    bool Append = false;
    bool HasSourceHistory = false; // the source has a history at all
    TCounts Read;
    TCounts Written;
    TCounts After;
};
