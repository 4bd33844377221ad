#include "store/store_url.h"

#include <algorithm>
#include <initializer_list>

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QUrl>

namespace {
QString Decoded(const QString &part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

// A value as libpq's keyword=value text takes it: quoted, with quotes and backslashes escaped.
QString Quoted(QString value)
{
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

// libpq's keywords that an address may carry; anything else is a typing error better said
// at once than ignored.
const QStringList &KnownOptions()
{
    static const QStringList known{"sslmode", "sslcert", "sslkey", "sslrootcert", "sslcrl", "sslpassword",
                                   "connect_timeout", "application_name", "target_session_attrs",
                                   "keepalives", "keepalives_idle", "keepalives_interval", "keepalives_count",
                                   "tcp_user_timeout", "passfile", "service", "gssencmode", "krbsrvname",
                                   "channel_binding", "requirepeer", "options", "hostaddr"};
    return known;
}
} // namespace

bool TStoreUrl::Parse(const QString &text, TStoreUrl *url, QString *error)
{
    *url = TStoreUrl();
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return true;
    static const QRegularExpression shape(QStringLiteral(
        "^(?:postgresql|postgres)://(?:([^:@/?]*)(?::([^@/?]*))?@)?(\\[[^\\]]*\\]|[^:/?]*)(?::(\\d*))?(?:/([^?]*))?(?:\\?(.*))?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = shape.match(trimmed);
    if (!m.hasMatch()) {
        *error = QStringLiteral("数据库地址应为 postgresql://用户@主机:端口/数据库名，或留空使用本机文件。");
        return false;
    }
    // libpq's own addresses have no #fragment: one would end up in a host, socket folder or
    // database name that then cannot be found, with no word of why.
    for (int part : {3, 4, 5, 6})
        if (m.captured(part).contains(QLatin1Char('#'))) {
            *error = QStringLiteral("数据库地址中不能有 # 及其后的部分（密码中的 # 请写作 %23）。");
            return false;
        }
    TStoreUrl u;
    u.Server = true;
    u.UserName = Decoded(m.captured(1));
    u.Password = Decoded(m.captured(2));
    u.HostName = Decoded(m.captured(3));
    if (u.HostName.startsWith(QLatin1Char('[')))
        u.HostName = u.HostName.mid(1, u.HostName.size() - 2);
    if (!m.captured(4).isEmpty()) {
        bool ok = false;
        u.PortNumber = m.captured(4).toInt(&ok);
        if (!ok || u.PortNumber < 1 || u.PortNumber > 65535) {
            *error = QStringLiteral("数据库地址的端口 %1 无效。").arg(m.captured(4));
            return false;
        }
    }
    u.DatabaseName = Decoded(m.captured(5));
    for (const QString &pair : m.captured(6).split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        const QString key = Decoded(eq < 0 ? pair : pair.left(eq));
        const QString value = eq < 0 ? QString() : Decoded(pair.mid(eq + 1));
        if (key == QLatin1String("host")) {
            u.HostName = value;
        } else if (key == QLatin1String("port")) {
            bool ok = false;
            u.PortNumber = value.toInt(&ok);
            if (!ok || u.PortNumber < 1 || u.PortNumber > 65535) {
                *error = QStringLiteral("数据库地址的端口 %1 无效。").arg(value);
                return false;
            }
        } else if (key == QLatin1String("user")) {
            u.UserName = value;
        } else if (key == QLatin1String("password")) {
            u.Password = value;
        } else if (key == QLatin1String("dbname")) {
            u.DatabaseName = value;
        } else if (KnownOptions().contains(key)) {
            u.Options << key + QLatin1Char('=') + Quoted(value);
        } else {
            *error = QStringLiteral("数据库地址中的参数 %1 不认识。").arg(key);
            return false;
        }
    }
    *url = u;
    return true;
}

QString TStoreUrl::Shown() const
{
    if (!Server)
        return QString();
    QString shown = QStringLiteral("postgresql://");
    if (!UserName.isEmpty())
        shown += UserName + QLatin1Char('@');
    const bool socket = HostName.startsWith(QLatin1Char('/'));
    if (!socket)
        shown += HostName.contains(QLatin1Char(':')) ? QLatin1Char('[') + HostName + QLatin1Char(']') : HostName;
    if (PortNumber > 0)
        shown += QLatin1Char(':') + QString::number(PortNumber);
    shown += QLatin1Char('/') + DatabaseName;
    if (socket)
        shown += QStringLiteral("?host=") + HostName;
    return shown;
}

void TStoreUrl::Apply(QSqlDatabase &db, const QString &applicationName) const
{
    db.setHostName(HostName);
    db.setPort(PortNumber);
    db.setUserName(UserName);
    db.setPassword(Password);
    db.setDatabaseName(DatabaseName);
    // A server that does not answer is given up on within seconds (connect, and a cut network
    // under a running statement), never the minutes TCP would wait by itself. lock_timeout: a
    // row held by another program is waited for as long as the files' lock is, then said busy.
    QStringList options{QStringLiteral("connect_timeout=3"), QStringLiteral("keepalives_idle=5"),
                        QStringLiteral("keepalives_interval=2"), QStringLiteral("keepalives_count=2"),
                        QStringLiteral("tcp_user_timeout=6000"),
                        QStringLiteral("application_name=") + Quoted(applicationName),
                        QStringLiteral("options=") + Quoted(QStringLiteral("-c lock_timeout=1500 -c statement_timeout=30000 -c client_min_messages=warning"))};
    // The address's own choices come last, so they win.
    options << Options;
    db.setConnectOptions(options.join(QLatin1Char(';')));
}

TStoreUrl::TRefusal TStoreUrl::Refusal(const QString &driverText)
{
    const QString lower = driverText.toLower();
    const auto any = [&lower](std::initializer_list<const char *> parts) {
        return std::any_of(parts.begin(), parts.end(), [&lower](const char *part) { return lower.contains(QLatin1String(part)); });
    };
    static const QRegularExpression missing(QStringLiteral("(database|role) \"[^\"]*\" does not exist"));
    if (any({"password authentication failed", "no pg_hba.conf entry", "permission denied for database", "authentication failed",
             "no password supplied"})
        || missing.match(lower).hasMatch())
        return TRefusal::Refused;
    if (lower.isEmpty()
        || any({"could not connect", "connection to server", "timeout expired", "server closed the connection",
                "no connection to the server", "could not translate host name", "connection refused", "terminating connection",
                "network is unreachable", "no route to host", "the database system is"}))
        return TRefusal::Unreachable;
    return TRefusal::Other;
}
