#include "common/failure_digest.h"

void TFailureDigest::Report(const QString &line, qint64 nowMs)
{
    const auto found = Kinds.find(line);
    if (found != Kinds.end()) {
        ++found->Repeats;
        return;
    }
    if (Kinds.size() >= MostKinds) {
        if (Overflow.Since == 0) {
            Overflow = {nowMs, 0};
            Q_EMIT Said(OverflowText(MostKinds));
        } else {
            ++Overflow.Repeats;
        }
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
    if (Overflow.Since != 0 && nowMs - Overflow.Since >= WindowMs) {
        const int repeats = Overflow.Repeats;
        Overflow = repeats > 0 ? TKind{nowMs, 0} : TKind{};
        if (repeats > 0)
            Q_EMIT Said(OverflowSummaryText(repeats));
    }
}

QString TFailureDigest::SummaryText(const QString &line, int repeats)
{
    return line + QStringLiteral("（最近一分钟内又发生 %1 次）").arg(repeats);
}

QString TFailureDigest::OverflowText(int kinds)
{
    return QStringLiteral("一分钟内出现了 %1 种以上不同的失败：其余的不再逐条显示，只每分钟计数一次。").arg(kinds);
}

QString TFailureDigest::OverflowSummaryText(int failures)
{
    return QStringLiteral("最近一分钟内另有 %1 次其他失败未逐条显示。").arg(failures);
}
