#include "shell/line_log.h"

TLineLog::TLineLog(const QString &firstLine, QObject *parent) : QObject(parent)
{
    if (!firstLine.isNull())
        Items << firstLine;
}

void TLineLog::Add(const QString &line)
{
    Items << line;
    if (Items.size() > MaxLines)
        Items.removeFirst();
    Q_EMIT LineAdded(line);
}

void TLineLog::Clear()
{
    Items.clear();
    Q_EMIT Cleared();
}
