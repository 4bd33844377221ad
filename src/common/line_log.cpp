#include "common/line_log.h"

TLineLog::TLineLog(const QString &firstLine, QObject *parent) : QObject(parent)
{
    if (!firstLine.isNull())
        Items.push_back(firstLine);
}

void TLineLog::Add(const QString &line)
{
    Items.push_back(line);
    if (qsizetype(Items.size()) > MaxLines)
        Items.pop_front();
    Q_EMIT LineAdded(line);
}

void TLineLog::Clear()
{
    Items.clear();
    Q_EMIT Cleared();
}
