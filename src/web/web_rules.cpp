#include "web/web_rules.h"

#include <QUrl>

namespace TWebRules {

bool ParseAddress(const QString &text, QHostAddress *host, quint16 *port, QString *why)
{
    const QUrl url(QStringLiteral("http://") + text.trimmed());
    const int number = url.port(-1);
    if (!url.isValid() || url.host().isEmpty() || number < 0 || !url.path().isEmpty() || url.hasQuery()
        || !url.userInfo().isEmpty()) {
        *why = QStringLiteral("\"%1\" 不是 地址:端口（例如 127.0.0.1:8089）").arg(text);
        return false;
    }
    // The one name taken: it means this machine, whatever a resolver would say.
    if (url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        *host = QHostAddress(QHostAddress::LocalHost);
        *port = quint16(number);
        return true;
    }
    const QHostAddress address(url.host());
    if (address.isNull()) {
        *why = QStringLiteral("\"%1\" 中的 %2 不是 IP 地址（也不是 localhost）").arg(text, url.host());
        return false;
    }
    *host = address;
    *port = quint16(number);
    return true;
}

bool HostAllowed(const QByteArray &host, const QHostAddress &bound, quint16 port, const QStringList &names)
{
    QByteArray name;
    QByteArray portText;
    if (host.startsWith('[')) {
        const qsizetype end = host.indexOf(']');
        if (end < 0)
            return false;
        name = host.mid(1, end - 1);
        const QByteArray rest = host.mid(end + 1);
        if (!rest.isEmpty() && !rest.startsWith(':'))
            return false;
        portText = rest.mid(1);
    } else {
        const qsizetype colon = host.indexOf(':');
        if (host.count(':') > 1)
            return false;
        name = colon < 0 ? host : host.left(colon);
        portText = colon < 0 ? QByteArray() : host.mid(colon + 1);
    }
    bool ok = true;
    const uint given = portText.isEmpty() ? 80 : portText.toUInt(&ok);
    if (!ok || given != port || name.isEmpty())
        return false;
    const QString lower = QString::fromLatin1(name).toLower();
    const bool any = bound == QHostAddress::AnyIPv4 || bound == QHostAddress::AnyIPv6 || bound == QHostAddress::Any;
    if (lower == QLatin1String("localhost"))
        return bound.isLoopback() || any;
    if (names.contains(lower, Qt::CaseInsensitive))
        return true;
    const QHostAddress literal(lower);
    if (literal.isNull())
        return false;
    // An address in the Host was typed or scraped as such: no name was resolved to lead here.
    return any || literal.isEqual(bound, QHostAddress::TolerantConversion) || (bound.isLoopback() && literal.isLoopback());
}

bool OriginAllowed(const QByteArray &origin, const QByteArray &host)
{
    return !host.isEmpty() && origin.compare("http://" + host, Qt::CaseInsensitive) == 0;
}

bool TokenMatches(const QByteArray &given, const QByteArray &token)
{
    // Every byte of the token is looked at whatever differs first.
    unsigned diff = unsigned(given.size() != token.size());
    for (qsizetype i = 0; i < token.size(); ++i)
        diff |= unsigned(uchar(i < given.size() ? given[i] : 0) ^ uchar(token[i]));
    return diff == 0 && !token.isEmpty();
}

} // namespace TWebRules
