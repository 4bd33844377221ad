#pragma once

#include <QString>

// The table store of the directory: the SQLite file DATA/ChaDB.sqlite beside the program, on
// the connection "DBSession". The folder and both tables are made at the first start only.
class TDM
{
public:
    static QString ConnectionName() { return QStringLiteral("DBSession"); }
    static QString CreateTelNumber();
    static QString CreateGroup();
    // Finding an extension by its number must not scan the whole table on every import row.
    static QString CreateTelNumIndex() { return QStringLiteral("CREATE INDEX TelNumberByTelNum ON TelNumber(TelNum)"); }

    TDM();
    ~TDM();
    TDM(const TDM &) = delete;
    TDM &operator=(const TDM &) = delete;

    // Points the store at programDir + "DATA/", creating the folder and the tables when the
    // folder does not exist yet. False, with the reason, when the folder cannot be made or the
    // file cannot be opened.
    bool Prepare(const QString &programDir, QString *error);

    QString Connection() const { return Name; }
    QString Folder() const { return Path; }

private:
    QString Name;
    QString Path;
};
