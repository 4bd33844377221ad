#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QUuid>

// Another program's connection to a directory file, as the sqlite3 tool would hold it: the
// statements run at once (for example "BEGIN", "SELECT count(*) FROM TelNumber" for a read
// lock, or "BEGIN EXCLUSIVE"), and whatever transaction they began ends when this goes.
class TOtherProgram
{
public:
    TOtherProgram(const QString &file, const QStringList &statements)
        : Name(QStringLiteral("other-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        Ok = db.open();
        for (const QString &statement : statements) {
            QSqlQuery q(db);
            Ok = Ok && q.exec(statement);
            while (q.next()) {
            }
        }
    }
    ~TOtherProgram()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(Name, false);
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            db.close();
        }
        QSqlDatabase::removeDatabase(Name);
    }
    TOtherProgram(const TOtherProgram &) = delete;
    TOtherProgram &operator=(const TOtherProgram &) = delete;

    // Every statement ran (a lock asked for was granted).
    bool Ok = false;

    // Holds a read transaction, as "BEGIN; SELECT count(*) FROM TelNumber;" does.
    static QStringList Reading() { return {QStringLiteral("BEGIN"), QStringLiteral("SELECT count(*) FROM TelNumber")}; }

private:
    QString Name;
};
