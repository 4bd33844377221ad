#include "common/traffic_log.h"

#include "common/hex_text.h"

TTrafficLog::TTrafficLog(QObject *parent) : TLineLog(QStringLiteral("消息发包显示"), parent)
{
    SettleTimer.setSingleShot(true);
    SettleTimer.setInterval(SettleMs);
    connect(&SettleTimer, &QTimer::timeout, this, &TTrafficLog::Settle);
}

void TTrafficLog::Put(const QString &line)
{
    if (Waiting.empty())
        Add(line);
    else
        Waiting.push_back({line, {}, ' ', {}, false}); // after the frame lines still to be made
}

void TTrafficLog::Append(const QString &line)
{
    if (IsShown)
        Put(line);
}

void TTrafficLog::AppendHost(const QString &line)
{
    if (IsShown && HostShown)
        Put(line);
}

void TTrafficLog::AppendAlways(const QString &line)
{
    Put(line);
}

void TTrafficLog::AppendFrame(const QString &prefix, const QByteArray &bytes, char separator, const QString &suffix)
{
    if (!IsShown)
        return;
    Waiting.push_back({prefix, bytes, separator, suffix, true});
    if (!SettleTimer.isActive())
        SettleTimer.start();
}

void TTrafficLog::Settle()
{
    SettleTimer.stop();
    std::vector<TPending> lines;
    lines.swap(Waiting);
    for (const TPending &line : lines)
        Add(line.IsFrame ? HexLine(line.Text, line.Frame, line.Separator, line.Suffix) : line.Text);
}

void TTrafficLog::Clear()
{
    SettleTimer.stop();
    Waiting.clear();
    TLineLog::Clear();
}
