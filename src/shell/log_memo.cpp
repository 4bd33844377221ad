#include "shell/log_memo.h"

#include "shell/line_log.h"

#include <QScrollBar>

TLogMemo::TLogMemo(TLineLog &log, QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setMaximumBlockCount(static_cast<int>(TLineLog::MaxLines));
    setPlainText(log.Lines().join(QLatin1Char('\n')));
    FlushTimer.setSingleShot(true);
    FlushTimer.setInterval(FlushIntervalMs);
    connect(&FlushTimer, &QTimer::timeout, this, &TLogMemo::Flush);
    connect(&log, &TLineLog::LineAdded, this, &TLogMemo::Take);
    connect(&log, &TLineLog::Cleared, this, &TLogMemo::ClearAll);
}

void TLogMemo::Take(const QString &line)
{
    Waiting << line;
    if (Waiting.size() > TLineLog::MaxLines)
        Waiting.removeFirst();
    if (!FlushTimer.isActive())
        FlushTimer.start();
}

void TLogMemo::Flush()
{
    FlushTimer.stop();
    if (Waiting.isEmpty())
        return;
    QScrollBar *bar = verticalScrollBar();
    const bool follow = bar->value() == bar->maximum();
    const int kept = bar->value();
    appendPlainText(Waiting.join(QLatin1Char('\n')));
    Waiting.clear();
    // At the bottom the newest lines come into view; scrolled up, the view stays where it is.
    bar->setValue(follow ? bar->maximum() : kept);
}

QString TLogMemo::toPlainText()
{
    Flush();
    return QPlainTextEdit::toPlainText();
}

void TLogMemo::ClearAll()
{
    FlushTimer.stop();
    Waiting.clear();
    clear();
}
