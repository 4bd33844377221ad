#pragma once

#include "store/store_url.h"

#include <QString>

class QSqlDatabase;

// Where one store's tables are: a SQLite file, or the database at a server address (which
// holds the directory and the history together).
struct TStorePlace
{
    QString File;
    TStoreUrl Url;

    bool OnServer() const { return Url.IsServer(); }
    // As an operator is told: the file, or the address without its password.
    QString Shown() const;
    // Adds (does not open) a connection named name, replacing one by that name. On the files
    // a reader opens read-only; busyMs is how long SQLite itself waits for another's lock.
    QSqlDatabase Add(const QString &name, const QString &purpose, bool reader, int busyMs) const;
};
