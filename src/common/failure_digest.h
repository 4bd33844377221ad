#pragma once

#include <QHash>
#include <QObject>
#include <QString>

// Keeps a repeating failure from flooding a memo: the first failure of a kind is said at once,
// repeats only as one summary line with their count per minute. A kind quiet for a whole
// minute is forgotten, so its next failure is said at once again. Time is passed in (a
// monotonic clock in milliseconds), so the caller's tick drives it.
class TFailureDigest : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 WindowMs = 60000;
    // Kinds kept at once: failures named by their sender (datagrams from many addresses) must
    // not grow the memo or the memory without bound. Further kinds are only counted.
    static constexpr int MostKinds = 32;

    using QObject::QObject;

    // One failure; line says what failed, and lines that are equal are one kind.
    void Report(const QString &line, qint64 nowMs);
    // Says the summaries that are due.
    void Tick(qint64 nowMs);

    static QString SummaryText(const QString &line, int repeats);
    static QString OverflowText(int kinds);
    static QString OverflowSummaryText(int failures);

Q_SIGNALS:
    void Said(const QString &line);

private:
    struct TKind
    {
        qint64 Since = 0;
        int Repeats = 0;
    };
    QHash<QString, TKind> Kinds;
    // Failures of kinds beyond MostKinds since the overflow was said, and when.
    TKind Overflow;
};
