#include "common/failure_digest.h"

void TFailureDigest::Report(const QString &line, qint64 nowMs)
{
    const auto found = Kinds.find(line);
    if (found != Kinds.end()) {
        ++found->Repeats;
        return;
    }
    Kinds.insert(line, {nowMs, 0});
    Q_EMIT Said(line);
}

void TFailureDigest::Tick(qint64 nowMs)
{
    for (auto kind = Kinds.begin(); kind != Kinds.end();) {
        if (nowMs - kind->Since < WindowMs) {
            ++kind;
        } else if (kind->Repeats == 0) {
            kind = Kinds.erase(kind);
        } else {
            const QString summary = SummaryText(kind.key(), kind->Repeats);
            kind->Since = nowMs;
            kind->Repeats = 0;
            ++kind;
            Q_EMIT Said(summary);
        }
    }
}

QString TFailureDigest::SummaryText(const QString &line, int repeats)
{
    return line + QStringLiteral("（最近一分钟内又发生 %1 次）").arg(repeats);
}
