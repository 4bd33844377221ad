#include "common/traffic_log.h"

TTrafficLog::TTrafficLog(QObject *parent) : TLineLog(QStringLiteral("消息发包显示"), parent)
{
}

void TTrafficLog::Append(const QString &line)
{
    if (IsShown)
        Add(line);
}

void TTrafficLog::AppendHost(const QString &line)
{
    if (IsShown && HostShown)
        Add(line);
}

void TTrafficLog::AppendAlways(const QString &line)
{
    Add(line);
}

void TTrafficLog::AppendFrame(const QString &prefix, const QByteArray &bytes, char separator, const QString &suffix)
{
    if (IsShown)
        Add(TLogLine::Frame(prefix, bytes, separator, suffix));
}
