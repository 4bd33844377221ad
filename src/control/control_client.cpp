#include "control/control_client.h"

#include "common/role.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>

TControlClient::TAnswer TControlClient::Ask(const QString &path, const QJsonObject &request, int timeoutMs)
{
    TAnswer answer;
    QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(int(deadline.remainingTime()))) {
        // Qt's own words name its functions ("QLocalSocket::connectToServer: Invalid name"), not the cause.
        answer.Why = QStringLiteral("no program answers at %1 (%2)")
                         .arg(path, QFileInfo::exists(path) ? QStringLiteral("nobody listens there") : QStringLiteral("no socket there"));
        return answer;
    }
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    if (!socket.waitForBytesWritten(int(deadline.remainingTime()))) {
        answer.Why = QStringLiteral("the program at %1 takes no request: %2").arg(path, socket.errorString());
        return answer;
    }
    QByteArray line;
    while (!line.endsWith('\n')) {
        if (socket.bytesAvailable() == 0 && (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))) {
            answer.Why = deadline.hasExpired() ? QStringLiteral("the program at %1 did not answer within %2 ms").arg(path).arg(timeoutMs)
                                               : QStringLiteral("the program at %1 closed the connection: %2").arg(path, socket.errorString());
            return answer;
        }
        line += socket.readAll();
    }
    QJsonParseError error{};
    const QJsonDocument reply = QJsonDocument::fromJson(line.trimmed(), &error);
    if (!reply.isObject()) {
        answer.Why = QStringLiteral("the program at %1 answered something else: %2").arg(path, error.errorString());
        return answer;
    }
    answer.Reached = true;
    answer.Reply = reply.object();
    return answer;
}

TControlClient::TResult TControlClient::Run(const QStringList &words, const QString &cause, const QStringList &paths,
                                            int timeoutMs, const QJsonObject &identity)
{
    TResult result;
    const auto bad = [&result](const QString &why) {
        result.Err = QStringLiteral("varnex ctl: %1\nusage: varnex ctl status | check | watch | role master|backup|fault [--cause TEXT] [--control PATH]\n").arg(why);
        result.ExitCode = 2;
        return result;
    };
    const QString command = words.value(0);
    QJsonObject request{{"command", command}};
    if (command == QLatin1String("status") || command == QLatin1String("check")) {
        if (words.size() != 1)
            return bad(command + QStringLiteral(" takes nothing more"));
    } else if (command == QLatin1String("role")) {
        TRole role = TRole::Single;
        if (words.size() != 2 || !Role::Parse(words[1], &role) || role == TRole::Single)
            return bad(QStringLiteral("role needs one of master, backup, fault"));
        request.insert(QStringLiteral("role"), Role::Name(role));
        request.insert(QStringLiteral("cause"), cause);
    } else {
        return bad(command.isEmpty() ? QStringLiteral("a command is needed") : QStringLiteral("unknown command: ") + command);
    }
    if (paths.isEmpty())
        return bad(QStringLiteral("no control socket"));
    for (auto it = identity.begin(); it != identity.end(); ++it)
        request.insert(it.key(), it.value());
    // The first place where the program meant answers; without one, what the last said.
    TAnswer answer;
    QStringList others;
    for (const QString &path : paths) {
        answer = Ask(path, request, timeoutMs);
        if (answer.Reached && answer.Reply.value(QStringLiteral("other")).toBool()) {
            others << QStringLiteral("at %1 %2").arg(path, answer.Reply.value(QStringLiteral("message")).toString());
            answer = TAnswer{};
            continue;
        }
        if (answer.Reached)
            break;
    }
    if (!answer.Reached && !others.isEmpty())
        answer.Why = QStringLiteral("no program with data folder %1 answers (%2); give its --data-dir or --control")
                         .arg(identity.value(QStringLiteral("data_dir")).toString(), others.join(QStringLiteral("; ")));
    if (!answer.Reached) {
        result.Err = QStringLiteral("varnex ctl %1: %2\n").arg(command, answer.Why);
        result.ExitCode = 1;
        return result;
    }
    const bool ok = answer.Reply.value(QStringLiteral("ok")).toBool();
    const QString message = answer.Reply.value(QStringLiteral("message")).toString();
    if (command == QLatin1String("status") && ok)
        result.Out = QString::fromUtf8(QJsonDocument(answer.Reply.value(QStringLiteral("status")).toObject()).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
    else if (ok)
        result.Out = message + QLatin1Char('\n');
    else
        result.Err = QStringLiteral("varnex ctl %1: %2\n").arg(command, message);
    result.ExitCode = ok ? 0 : 1;
    return result;
}

int TControlClient::Watch(const QStringList &paths, const std::function<void(const QByteArray &)> &line, QString *why,
                          const QJsonObject &identity)
{
    *why = QStringLiteral("no control socket");
    QJsonObject request{{"command", "watch"}};
    for (auto it = identity.begin(); it != identity.end(); ++it)
        request.insert(it.key(), it.value());
    for (const QString &path : paths) {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (!socket.waitForConnected(TimeoutMs)) {
            *why = QStringLiteral("no program answers at %1 (%2)")
                       .arg(path, QFileInfo::exists(path) ? QStringLiteral("nobody listens there") : QStringLiteral("no socket there"));
            continue;
        }
        socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
        // Lines as they come, for as long as the program sends them.
        bool other = false;
        while (socket.state() == QLocalSocket::ConnectedState || socket.bytesAvailable() > 0) {
            if (!socket.canReadLine()) {
                if (!socket.waitForReadyRead(-1) && socket.bytesAvailable() == 0)
                    break;
                continue;
            }
            const QJsonObject reply = QJsonDocument::fromJson(socket.readLine().trimmed()).object();
            if (reply.value(QStringLiteral("other")).toBool()) {
                // Another program than the one meant: the next place may hold it.
                *why = QStringLiteral("no program with data folder %1 answers (at %2 %3)")
                           .arg(identity.value(QStringLiteral("data_dir")).toString(), path,
                                reply.value(QStringLiteral("message")).toString());
                other = true;
                break;
            }
            if (!reply.value(QStringLiteral("ok")).toBool()) {
                *why = QStringLiteral("the program at %1 refused: %2").arg(path, reply.value(QStringLiteral("message")).toString());
                return 1;
            }
            line(QJsonDocument(reply.value(QStringLiteral("status")).toObject()).toJson(QJsonDocument::Compact));
        }
        if (other)
            continue;
        *why = QStringLiteral("the program at %1 ended the stream").arg(path);
        return 1;
    }
    return 1;
}
