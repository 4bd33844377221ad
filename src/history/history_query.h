#pragma once

#include <QDate>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <functional>

// Reading the history file: entries by date range, kind and text (matched in the target, the
// content and the numbers), newest first; totals per day; export of what a filter shows. Reads
// on its own connection and never blocks the writer (WAL).
class THistoryQuery
{
public:
    struct TFilter
    {
        QDate From; // null: no lower bound
        QDate To;   // null: no upper bound; inclusive
        QString Kind; // empty: every kind
        QString Text; // empty: anything
    };

    static QStringList Kinds();
    static QStringList Headings();

    explicit THistoryQuery(const QString &path);
    ~THistoryQuery();

    bool Open(QString *why = nullptr);
    // The entries the filter shows, newest first, columns as Headings(); executed, ready to
    // hand to a model (which fetches as it scrolls).
    QSqlQuery Entries(const TFilter &filter) const;
    // Date ("yyyy-MM-dd") and count, newest day first.
    QList<QPair<QString, int>> TotalsPerDay(const TFilter &filter) const;
    // Writes what the filter shows to an .xlsx file; empty on success, else why.
    QString Export(const TFilter &filter, const QString &path) const;

private:
    QSqlQuery Prepared(const QString &select, const TFilter &filter, const QString &tail) const;

    QString Path;
    QString Connection;
};
