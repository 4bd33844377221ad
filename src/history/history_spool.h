#pragma once

#include "history/notice.h"

#include <QList>
#include <QString>

#include <map>

// Entries the history could not store, kept on the local disk until it can: one JSON object a
// line, appended and flushed to the disk before Append returns, so a program that is killed
// keeps them too. Read back whole (a later line of the same entry replaces an earlier one) and
// removed once its entries are in the store; stored by id, an entry forwarded twice is still
// one entry.
class THistorySpool
{
public:
    static QString FileName() { return QStringLiteral("History.spool.jsonl"); }

    explicit THistorySpool(QString path) : Path(std::move(path)) {}
    QString FilePath() const { return Path; }
    bool Exists() const;

    bool Append(const QList<TNotice> &entries, QString *why);
    // What the file holds, by id; lines that cannot be read are counted in *unreadable.
    std::map<qint64, TNotice> Read(int *unreadable, QString *why) const;
    bool Remove(QString *why);

    static QByteArray Line(const TNotice &notice);
    static bool FromLine(const QByteArray &line, TNotice *notice);

private:
    QString Path;
};
