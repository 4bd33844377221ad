#include "shell/log_memo.h"

#include "shell/line_log.h"

TLogMemo::TLogMemo(TLineLog &log, QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setMaximumBlockCount(static_cast<int>(TLineLog::MaxLines));
    setPlainText(log.Lines().join(QLatin1Char('\n')));
    connect(&log, &TLineLog::LineAdded, this, &QPlainTextEdit::appendPlainText);
    connect(&log, &TLineLog::Cleared, this, &QPlainTextEdit::clear);
}
