#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

// `varnex ctl …`: asks a running program over its control socket and says the answer. It gives
// up after TimeoutMs, so a stopped or hung program is reported as failed quickly.
class TControlClient
{
public:
    static constexpr int TimeoutMs = 1000;

    struct TAnswer
    {
        bool Reached = false;  // an answer came
        QJsonObject Reply;     // {"ok":…, "message":…, "status":…}
        QString Why;           // when not reached
    };
    // One request to the program at path; blocking, for at most timeoutMs.
    static TAnswer Ask(const QString &path, const QJsonObject &request, int timeoutMs = TimeoutMs);

    // The command line's ctl words (status | check | role ROLE) with --cause; what to print on
    // standard output and standard error, and the exit status: 0 ok, 1 failed, 2 bad arguments.
    struct TResult
    {
        QString Out;
        QString Err;
        int ExitCode = 0;
    };
    // identity: the data_dir and settings of the program meant (empty: whichever answers at the
    // path); a program that is another one is passed over, and none that is the one is a failure.
    static TResult Run(const QStringList &words, const QString &cause, const QStringList &paths, int timeoutMs = TimeoutMs,
                       const QJsonObject &identity = {});

    // `ctl watch`: the status object of every line the first program meant that answers sends,
    // given to line as it comes, until that program ends the stream. The exit status: 1 (with
    // why) when no program answers, refuses, or the stream ends.
    static int Watch(const QStringList &paths, const std::function<void(const QByteArray &)> &line, QString *why,
                     const QJsonObject &identity = {});
};
