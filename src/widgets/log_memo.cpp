#include "widgets/log_memo.h"

#include "common/line_log.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QScrollBar>

#include <algorithm>
#include <deque>

// The lines a memo shows; wider than any of them, so long lines scroll sideways.
class TLogLinesModel : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(Rows.size());
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= int(Rows.size()))
            return QVariant();
        if (role == Qt::DisplayRole)
            return Rows[size_t(index.row())].Text(); // made for the rows in view only
        if (role == Qt::SizeHintRole && !Wrapping)
            return RowSize;
        return QVariant();
    }

    bool Wrapping = false; // rows as tall as their wrapped text, none wider than the view

    void Append(const std::deque<TLogLine> &lines, int charWidth, int height)
    {
        qsizetype longest = 0;
        for (const TLogLine &line : lines)
            longest = std::max(longest, line.Length());
        const int width = int(std::min<qsizetype>(longest * charWidth + 2 * charWidth, 1 << 20));
        if (width > RowSize.width() || height != RowSize.height()) {
            RowSize = QSize(std::max(width, RowSize.width()), height);
            if (!Rows.empty()) {
                beginResetModel(); // the uniform row size changed
                endResetModel();
            }
        }
        const int first = int(Rows.size());
        beginInsertRows(QModelIndex(), first, first + int(lines.size()) - 1);
        Rows.insert(Rows.end(), lines.begin(), lines.end());
        endInsertRows();
        const int excess = int(Rows.size()) - int(TLineLog::MaxLines);
        if (excess > 0) {
            beginRemoveRows(QModelIndex(), 0, excess - 1);
            Rows.erase(Rows.begin(), Rows.begin() + excess);
            endRemoveRows();
        }
    }
    void Clear()
    {
        beginResetModel();
        Rows.clear();
        endResetModel();
    }
    const std::deque<TLogLine> &All() const { return Rows; }

private:
    std::deque<TLogLine> Rows;
    QSize RowSize{0, 0};
};

TLogMemo::TLogMemo(TLineLog &log, QWidget *parent) : QListView(parent), Lines(new TLogLinesModel(this))
{
    setModel(Lines);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    FlushTimer.setSingleShot(true);
    FlushTimer.setInterval(FlushIntervalMs);
    connect(&FlushTimer, &QTimer::timeout, this, &TLogMemo::Flush);
    connect(&log, &TLineLog::LineAdded, this, &TLogMemo::Take);
    connect(&log, &TLineLog::Cleared, this, &TLogMemo::ClearAll);
    Waiting.assign(log.Items().begin(), log.Items().end());
    Flush();
}

void TLogMemo::WrapLines()
{
    Lines->Wrapping = true;
    setUniformItemSizes(false);
    setWordWrap(true);
    setTextElideMode(Qt::ElideNone);
    setResizeMode(QListView::Adjust);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void TLogMemo::Take(const TLogLine &line)
{
    Waiting.push_back(line);
    if (qsizetype(Waiting.size()) > TLineLog::MaxLines)
        Waiting.pop_front();
    if (!FlushTimer.isActive() && isVisible()) // a hidden memo catches up when it is shown
        FlushTimer.start();
}

void TLogMemo::showEvent(QShowEvent *event)
{
    QListView::showEvent(event);
    Flush();
}

void TLogMemo::Flush()
{
    FlushTimer.stop();
    if (Waiting.empty())
        return;
    QScrollBar *bar = verticalScrollBar();
    const bool follow = bar->value() == bar->maximum();
    const QFontMetrics metrics(font());
    Lines->Append(Waiting, std::max(metrics.averageCharWidth(), metrics.horizontalAdvance(QChar(u'中')) / 2 + 1),
                  metrics.height() + 2);
    Waiting.clear();
    // Laid out now (rows of one height: cheap), so the bottom is where the newest line is.
    doItemsLayout();
    if (follow)
        scrollToBottom();
}

QString TLogMemo::toPlainText()
{
    Flush();
    QStringList all;
    for (const TLogLine &line : Lines->All())
        all << line.Text();
    return all.join(QLatin1Char('\n'));
}

int TLogMemo::LineCount() const
{
    return Lines->rowCount();
}

QString TLogMemo::Line(int row) const
{
    return Lines->index(row).data().toString();
}

void TLogMemo::ClearAll()
{
    FlushTimer.stop();
    Waiting.clear();
    Lines->Clear();
}

void TLogMemo::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        QModelIndexList selected = selectionModel()->selectedRows();
        std::sort(selected.begin(), selected.end());
        QStringList text;
        for (const QModelIndex &index : selected)
            text << index.data().toString();
        QApplication::clipboard()->setText(text.join(QLatin1Char('\n')));
        return;
    }
    QListView::keyPressEvent(event);
}
