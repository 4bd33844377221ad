#pragma once

#include "directory/directory_copy.h"
#include "directory/live_query.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class TDM;
class TLineLog;

// The extension and group directory: adding extensions, numbering them, and the listings the
// platform's requests and the directory window read, on one shared statement handle.
class TDirectory : public QObject
{
    Q_OBJECT
public:
    TDirectory(TDM &store, TLineLog &systemLog, QObject *parent = nullptr);

    // The shared statement handle; its last listing stays open until the next statement.
    TLiveQuery &Query() { return SharedQuery; }
    // What the platform's requests are answered from, never waiting for the file.
    TDirectoryCopy &Copy() { return Rows; }

    // The next appended extension row gets this sequence number.
    int NextSequence = 0;
    // NextSequence := the largest sequence + 1 (kept on an empty table). Empty on success, else
    // the store's reason.
    QString GetTelNumberAmount();
    // Adds an extension, or updates the first row found with TelNum. Empty when stored, else
    // why not (nothing is written for that row); conversionError tells a number or state that
    // is not a whole number from a row the store refused. An empty TelNum writes nothing.
    // importLabel, when given, marks the row with the import that wrote it last (ImpFlag).
    QString AddTelNumber(const QString &TelNum, const QString &TelName, const QString &Address,
                         const QStringList &groupNos, const QString &Status, const QString &Msg,
                         const QString &importLabel = QString(), bool *conversionError = nullptr);

    // Listings on the shared handle; the row count is 0 when the listing cannot be made, and the
    // operator is told once on the system message memo.
    int ListGroups();
    int ListTelNumbers();
    int ListMembers(const QString &group, bool ordered);

    // WHERE clause and values of the member statement of group g (any slot equal to g's text).
    static QString MemberCondition();
    static QVariantList MemberValues(const QString &group);

private:
    int Listed(bool ok);

    TDM &Store;
    TLineLog &SystemLog;
    TLiveQuery SharedQuery;
    TDirectoryCopy Rows;
    QSet<QString> Reported;
};
