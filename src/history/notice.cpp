#include "history/notice.h"

#include <QStringList>

QString TNotice::TimeText(const QDateTime &time)
{
    return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) : QString();
}

QString TNotice::NumbersText() const
{
    QStringList numbers;
    for (const TNumber &n : Numbers)
        numbers << n.Number;
    return numbers.join(QLatin1Char(','));
}

QString TNotice::TargetText() const
{
    return TargetName.isEmpty() ? Target : Target + QStringLiteral("（") + TargetName + QStringLiteral("）");
}

bool TNotice::ContentIsPeer() const
{
    return IsEvent() && (Kind == QStringLiteral("主机通讯恢复") || Kind == QStringLiteral("平台通讯连上"));
}

QString TNotice::Summary() const
{
    QString line = Kind;
    if (MessageId >= 0)
        line += QStringLiteral(" 消息号%1").arg(MessageId);
    if (!Target.isEmpty())
        line += QStringLiteral(" 对象%1").arg(Target);
    if (!Outcome.isEmpty())
        line += QLatin1Char(' ') + Outcome;
    if (!Numbers.isEmpty())
        line += QStringLiteral(" 号码%1个").arg(Numbers.size());
    if (LatencyMs >= 0)
        line += QStringLiteral(" 按键已发出，用时%1毫秒%2").arg(LatencyMs).arg(SwitchUp ? QString() : QStringLiteral("（调度主机中断，未送达）"));
    return line;
}

qint64 TNotice::ApproxBytes() const
{
    const auto text = [](const QString &t) { return qint64(t.size()) * 2 + 32; };
    qint64 bytes = qint64(sizeof(TNotice)) + text(Kind) + text(Target) + text(TargetName) + text(Content) + text(Outcome);
    for (const TNumber &number : Numbers)
        bytes += qint64(sizeof(TNumber)) + text(number.Number) + text(number.Name) + text(number.KeyPosition);
    return bytes;
}
