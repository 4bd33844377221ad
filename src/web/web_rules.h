#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

// Who may ask the web face what, judged from a request's own words: where it is served, which
// Host a request may name (a browser led there by a name that now points at us must not be
// served: DNS rebinding), which Origin may open the live feed, and the token.
namespace TWebRules {

// "host:port" as the settings give it (IPv6 in brackets); "localhost" is the IPv4 loopback.
// False with the line an operator is shown.
bool ParseAddress(const QString &text, QHostAddress *host, quint16 *port, QString *why);

// Whether a request's Host names this server, bound at bound:port: that address (any address,
// when it is bound to all of them), for loopback also localhost, and any of names.
bool HostAllowed(const QByteArray &host, const QHostAddress &bound, quint16 port, const QStringList &names);

// Whether origin is the page's own: the same scheme, host and port as the request's Host.
bool OriginAllowed(const QByteArray &origin, const QByteArray &host);

// The whole token, compared in a time that does not depend on where they differ; an empty
// token admits nobody.
bool TokenMatches(const QByteArray &given, const QByteArray &token);

} // namespace TWebRules
