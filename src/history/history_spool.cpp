#include "history/history_spool.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

namespace {
// Times as milliseconds since the epoch: exact, and free of the machine's time zone.
QJsonValue Time(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(double(time.toMSecsSinceEpoch())) : QJsonValue();
}

QDateTime Time(const QJsonValue &value)
{
    return value.isDouble() ? QDateTime::fromMSecsSinceEpoch(qint64(value.toDouble())) : QDateTime();
}
} // namespace

bool THistorySpool::Exists() const
{
    return QFileInfo::exists(Path);
}

QByteArray THistorySpool::Line(const TNotice &n)
{
    QJsonArray numbers;
    for (const TNotice::TNumber &number : n.Numbers)
        numbers.append(QJsonObject{{"number", number.Number}, {"name", number.Name}, {"key", number.KeyPosition},
                                   {"sentAt", Time(number.SentAt)}});
    // Ids are microseconds since the epoch: beyond a double's exact integers, so kept as text.
    const QJsonObject o{{"id", QString::number(n.Id)}, {"at", Time(n.At)}, {"kind", n.Kind}, {"messageId", n.MessageId},
                        {"target", n.Target}, {"targetName", n.TargetName}, {"content", n.Content},
                        {"playCount", n.PlayCount}, {"channel", n.Channel}, {"outcome", n.Outcome}, {"numbers", numbers},
                        {"sentAt", Time(n.SentAt)}, {"switchUp", n.SwitchUp}, {"latencyMs", double(n.LatencyMs)}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

bool THistorySpool::FromLine(const QByteArray &line, TNotice *n)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    bool ok = false;
    n->Id = o.value("id").toString().toLongLong(&ok);
    if (!ok || n->Id <= 0)
        return false;
    n->At = Time(o.value("at"));
    n->Kind = o.value("kind").toString();
    n->MessageId = o.value("messageId").toInt(-1);
    n->Target = o.value("target").toString();
    n->TargetName = o.value("targetName").toString();
    n->Content = o.value("content").toString();
    n->PlayCount = o.value("playCount").toInt();
    n->Channel = o.value("channel").toInt(-1);
    n->Outcome = o.value("outcome").toString();
    n->Numbers.clear();
    for (const QJsonValue &value : o.value("numbers").toArray()) {
        const QJsonObject number = value.toObject();
        n->Numbers.append({number.value("number").toString(), number.value("name").toString(), number.value("key").toString(),
                           Time(number.value("sentAt"))});
    }
    n->SentAt = Time(o.value("sentAt"));
    n->SwitchUp = o.value("switchUp").toBool();
    n->LatencyMs = qint64(o.value("latencyMs").toDouble(-1));
    return true;
}

bool THistorySpool::Append(const QList<TNotice> &entries, QString *why)
{
    if (entries.isEmpty())
        return true;
    QByteArray text;
    for (const TNotice &notice : entries)
        text += Line(notice);
    QFile file(Path);
    // Unbuffered, then flushed to the disk: what Append said it kept survives a power cut.
    if (!file.open(QIODevice::Append | QIODevice::Unbuffered) || file.write(text) != text.size() || !file.flush()) {
        *why = file.errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0) {
        *why = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
#endif
    return true;
}

std::map<qint64, TNotice> THistorySpool::Read(int *unreadable, QString *why) const
{
    std::map<qint64, TNotice> entries;
    *unreadable = 0;
    QFile file(Path);
    if (!file.exists())
        return entries;
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return entries;
    }
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        TNotice notice;
        if (FromLine(line, &notice))
            entries[notice.Id] = notice;
        else
            ++*unreadable; // a line cut short by a crash in the middle of its write
    }
    return entries;
}

bool THistorySpool::Remove(QString *why)
{
    QFile file(Path);
    if (!file.exists() || file.remove())
        return true;
    *why = file.errorString();
    return false;
}
