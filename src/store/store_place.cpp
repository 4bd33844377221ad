#include "store/store_place.h"

#include "store/sql_engine.h"

#include <QDir>
#include <QSqlDatabase>

QString TStorePlace::Shown() const
{
    return OnServer() ? Url.Shown() : QDir::toNativeSeparators(File);
}

QSqlDatabase TStorePlace::Add(const QString &name, const QString &purpose, bool reader, int busyMs) const
{
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    const TSqlEngine &engine = OnServer() ? TSqlEngine::Server() : TSqlEngine::Files();
    QSqlDatabase db = QSqlDatabase::addDatabase(engine.Driver(), name);
    if (OnServer()) {
        Url.Apply(db, QStringLiteral("varnex ") + purpose);
        return db;
    }
    db.setDatabaseName(File);
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyMs);
    if (reader)
        options.prepend(QStringLiteral("QSQLITE_OPEN_READONLY;"));
    db.setConnectOptions(options);
    return db;
}
