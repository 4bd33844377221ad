#pragma once

#include "history/history_query.h"

#include <QAbstractTableModel>
#include <QThread>

#include <map>

// The file's reading for the list, on a thread of its own: a page, the totals, one entry, an
// export. A filter that matches little in a long history takes a while to read; meanwhile
// the window answers and the links, on the same thread as the window, go on.
class THistoryReader : public QObject
{
    Q_OBJECT
public:
    explicit THistoryReader(const TStorePlace &place);

    // Called on the reader's thread (queued from the model's).
    void ReadPage(quint64 ticket, const THistoryQuery::TFilter &filter, qint64 beforeId, int limit);
    void ReadTotals(const THistoryQuery::TFilter &filter);
    void ReadEntry(qint64 id);
    void Export(const QList<TNotice> &shown, const THistoryQuery::TFilter &filter, qint64 restBefore, const QString &path);

Q_SIGNALS:
    void PageRead(quint64 ticket, const QList<TNotice> &rows, const QString &why);
    void TotalsRead(const QList<QPair<QString, int>> &totals, const QString &why);
    void EntryRead(qint64 id, const TNotice &entry, bool found);
    void Exported(const QString &path, const QString &why);

private:
    THistoryQuery Query;
};

// The entries the list shows, newest first: read from the file a page at a time as the list is
// scrolled, and entries just written added as they come when the filter admits them. What the
// list shows is what an export writes, with the entries below still to be scrolled to.
class THistoryModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int PageRows = 256;

    explicit THistoryModel(const TStorePlace &place, QObject *parent = nullptr);
    ~THistoryModel() override;

    // Shows what filter admits, from the newest on.
    void Show(const THistoryQuery::TFilter &filter);
    // The filter the list was built with, whatever the fields say now.
    const THistoryQuery::TFilter &Shown() const { return Filter; }
    // Entries just written: each the filter admits joins the list at its place, or replaces
    // the row it had.
    void Take(const QList<TNotice> &written);
    const TNotice &EntryAt(int row) const { return Rows[row]; }
    // A page is being read.
    bool IsReading() const { return Reading; }
    // Every entry the filter admits is in the list.
    bool IsComplete() const { return Complete; }
    // Why the file could not be read; empty when it could.
    QString Problem() const { return Why; }

    // Asked of the reader; answered by the signals below.
    void Export(const QString &path);
    void ReadTotals();
    void ReadEntry(qint64 id);

    // What the state line says of the list.
    QString StateText() const;
    static QString ReversedRangeText() { return QStringLiteral("开始日期晚于结束日期：请调整日期范围。"); }
    static QString NothingFoundText() { return QStringLiteral("没有符合条件的记录。"); }
    static QString ReadingText() { return QStringLiteral("正在读取通知记录…"); }
    static QString ScrollText() { return QStringLiteral("最新的在最上面；向下滚动读取更多。"); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

Q_SIGNALS:
    // A page came (the first of a filter too, or the reason it could not be read).
    void PageArrived();
    void Exported(const QString &path, const QString &why);
    void TotalsRead(const QList<QPair<QString, int>> &totals, const QString &why);
    void EntryRead(const TNotice &entry, bool found);

private:
    void Arrived(quint64 ticket, const QList<TNotice> &rows, const QString &why);
    // Into its place by id; a row already there is replaced unless it knows more (its keys sent).
    void Put(const TNotice &entry);
    // The file's pages have covered this id: it is in the list if the filter admits it.
    bool Covered(qint64 id) const { return Complete || id >= CoveredFrom; }

    QThread Thread;
    THistoryReader *Reader;
    THistoryQuery::TFilter Filter;
    QList<TNotice> Rows;
    std::map<qint64, TNotice> Early; // written while a page was being read
    quint64 Ticket = 0;
    bool Reading = false;
    bool Complete = false;
    qint64 CoveredFrom;
    QString Why;
};
