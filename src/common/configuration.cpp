#include "common/configuration.h"

#include "common/settings_store.h"

#include <QHostAddress>
#include <QHostInfo>

namespace {

void ReadText(const TSettingsStore &store, const QString &name, QString &value)
{
    const QString text = store.Read(name);
    if (!text.isEmpty())
        value = text;
}

void ReadInt(const TSettingsStore &store, const QString &name, int &value, QStringList &errors)
{
    const QString text = store.Read(name);
    if (text.isEmpty())
        return;
    int parsed = 0;
    if (ParseDecimalInt(text, &parsed))
        value = parsed;
    else
        errors << QStringLiteral("设置值 %1 = \"%2\" 不是十进制整数，已使用默认值 %3。").arg(name, text, QString::number(value));
}

// A port this program sends to: outside 1 to 65535 nothing could ever be sent.
void ReadPort(const TSettingsStore &store, const QString &name, int &value, QStringList &errors)
{
    const int fallback = value;
    ReadInt(store, name, value, errors);
    if (value >= 1 && value <= 65535)
        return;
    errors << QStringLiteral("设置值 %1 = \"%2\" 不是 1 到 65535 之间的端口号，已使用默认值 %3。")
                  .arg(name, store.Read(name), QString::number(fallback));
    value = fallback;
}

} // namespace

bool ParseDecimalInt(const QString &text, int *value)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 12)
        return false;
    qsizetype i = (t[0] == QLatin1Char('+') || t[0] == QLatin1Char('-')) ? 1 : 0;
    if (i == t.size())
        return false;
    for (qsizetype k = i; k < t.size(); ++k)
        if (t[k] < QLatin1Char('0') || t[k] > QLatin1Char('9'))
            return false;
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok, 10);
    if (!ok || v < INT32_MIN || v > INT32_MAX)
        return false;
    *value = static_cast<int>(v);
    return true;
}

void TConfiguration::ReadHostSide(const TSettingsStore &store, QStringList &errors)
{
    ReadText(store, QStringLiteral("IpAddress"), IpAddress);
    ReadText(store, QStringLiteral("IpAddress1"), IpAddress1);
    ReadPort(store, QStringLiteral("IpPort"), IpPort, errors);
    ReadInt(store, QStringLiteral("RecIpPort"), RecIpPort, errors);
    LocalIPAddr = store.Read(QStringLiteral("LocalIPAddr"));
    if (LocalIPAddr.isEmpty())
        LocalIPAddr = HostOwnAddress();
}

void TConfiguration::ReadPlatformSide(const TSettingsStore &store, QStringList &errors)
{
    ReadText(store, QStringLiteral("CommIpAddress"), CommIpAddress);
    ReadText(store, QStringLiteral("CheckType"), CheckType);
    ReadPort(store, QStringLiteral("CommIpPort"), CommIpPort, errors);
    ReadInt(store, QStringLiteral("CommRecIpPort"), CommRecIpPort, errors);
    ReadInt(store, QStringLiteral("CommSilenceSeconds"), CommSilenceSeconds, errors);
    ReadInt(store, QStringLiteral("HistoryDays"), HistoryDays, errors);
    DatabaseUrl = store.Read(DatabaseUrlKey()).trimmed();
    CommLocalIPAddr = store.Read(QStringLiteral("CommLocalIPAddr"));
    if (CommLocalIPAddr.isEmpty())
        CommLocalIPAddr = HostOwnAddress();
}

void TConfiguration::ReadKeyboard(const TSettingsStore &store, QStringList &errors)
{
    ReadInt(store, QStringLiteral("CurrentKeyboard"), CurrentKeyboard, errors);
    StartKeyboard = CurrentKeyboard;
}

void TConfiguration::ReadPair(const TSettingsStore &store, QStringList &errors)
{
    const QString role = store.Read(RoleKey()).trimmed();
    // Anything but single is silent until told: a program that is not sure it works alone must
    // not answer beside the one that does (the start-up check refuses such a value anyway).
    Pair = !role.isEmpty() && role.compare(QLatin1String("single"), Qt::CaseInsensitive) != 0;
    Q_UNUSED(errors)
    ServiceAddress = store.Read(QStringLiteral("ServiceAddress")).trimmed();
    ControlSocket = store.Read(QStringLiteral("ControlSocket")).trimmed();
}

void TConfiguration::ReadWeb(const TSettingsStore &store)
{
    HttpAddress = store.Contains(QStringLiteral("HttpAddress")) ? store.Read(QStringLiteral("HttpAddress")).trimmed()
                                                                  : DefaultHttpAddress();
    HttpToken = store.Read(QStringLiteral("HttpToken")).trimmed();
}

QString TConfiguration::HostOwnAddress()
{
    const QList<QHostAddress> addresses = QHostInfo::fromName(QHostInfo::localHostName()).addresses();
    for (const QHostAddress &a : addresses)
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a.toString();
    return QString();
}
