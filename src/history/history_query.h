#pragma once

#include "history/notice.h"
#include "store/store_place.h"

#include <QDate>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Reading the history file: entries by date range, kind and text (matched in the target, its
// name, the content and the numbers), newest first, a page at a time; one entry whole; totals
// per day; export of what a filter shows. Reads on its own connection and never blocks the
// writer (WAL). A page is read by id, so no statement stays open between pages to hold the
// writer's journal from being folded back into the file.
class THistoryQuery
{
public:
    struct TFilter
    {
        QDate From; // null: no lower bound
        QDate To;   // null: no upper bound; inclusive
        QString Kind; // empty: every kind
        QString Text; // empty: anything

        // The same test as the file's query, for an entry that has just been written.
        bool Admits(const TNotice &entry) const;
        bool IsReversed() const { return From.isValid() && To.isValid() && From > To; }
        bool operator==(const TFilter &) const = default;
    };

    static QStringList Kinds();
    static QStringList Headings();
    // An entry's row as the list shows it and the export writes it: a column that does not
    // apply to the entry (a play count or key time of a link event) stays empty; a link event's
    // peer address stands under 对象, not under 内容.
    static QStringList Cells(const TNotice &entry);

    // role names the connection, one per thread that reads the file.
    explicit THistoryQuery(TStorePlace place, const QString &role = QStringLiteral("reader"));
    ~THistoryQuery();
    THistoryQuery(const THistoryQuery &) = delete;
    THistoryQuery &operator=(const THistoryQuery &) = delete;

    bool Open(QString *why = nullptr);
    // Up to limit entries the filter admits with ids below beforeId, newest first; their
    // numbers by number only (Entry reads them whole). Empty with why set when it cannot read.
    QList<TNotice> Page(const TFilter &filter, qint64 beforeId, int limit, QString *why = nullptr) const;
    std::optional<TNotice> Entry(qint64 id) const;
    // The numbers of entries (as Page gives them) made whole: name, key position, time sent.
    void AddNumbers(QList<TNotice> &entries) const;
    // Date ("yyyy-MM-dd") and count, newest day first.
    QList<QPair<QString, int>> TotalsPerDay(const TFilter &filter, QString *why = nullptr) const;
    // Writes shown, then what the filter admits below restBefore (none when 0), to an .xlsx
    // file; empty on success, else why.
    QString Export(const QList<TNotice> &shown, const TFilter &filter, qint64 restBefore, const QString &path) const;

    // On any open connection to the file: one entry with its numbers whole; the last notice each
    // play channel started.
    static std::optional<TNotice> ReadEntry(const QString &connection, qint64 id);
    static QList<TNotice> ReadLastStarted(const QString &connection, int channels);

private:
    TStorePlace Place;
    QString Connection;
};
