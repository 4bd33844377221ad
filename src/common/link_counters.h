#pragma once

#include <QtGlobal>

#include <algorithm>
#include <array>
#include <atomic>

// What a link counts as it works, for the status any thread may read: bumped on the main
// thread with relaxed atomics, which cost the link next to nothing.
struct TLinkCounters
{
    std::atomic<quint64> Received{0};         // datagrams
    std::atomic<quint64> Sent{0};             // datagrams
    std::atomic<qint64> LastReceivedMs{0};    // ms since the epoch; 0: none yet
    std::atomic<qint64> LastSentMs{0};
    std::atomic<quint64> SendFailures{0};     // datagrams that could not leave (held ones are not)
    std::atomic<qint64> LastSendFailureMs{0};

    void CountReceived(qint64 nowMs)
    {
        Received.fetch_add(1, std::memory_order_relaxed);
        LastReceivedMs.store(nowMs, std::memory_order_relaxed);
    }
    void CountSent(qint64 nowMs)
    {
        Sent.fetch_add(1, std::memory_order_relaxed);
        LastSentMs.store(nowMs, std::memory_order_relaxed);
    }
    void CountSendFailure(qint64 nowMs)
    {
        SendFailures.fetch_add(1, std::memory_order_relaxed);
        LastSendFailureMs.store(nowMs, std::memory_order_relaxed);
    }
};

// The platform's requests by message type (0 to 7; the last slot takes every other type).
struct TRequestCounters
{
    static constexpr int Types = 9;
    std::array<std::atomic<quint64>, Types> ByType{};

    void Count(int type) { ByType[size_t(type >= 0 && type < Types - 1 ? type : Types - 1)].fetch_add(1, std::memory_order_relaxed); }
    quint64 Of(int type) const { return ByType[size_t(type)].load(std::memory_order_relaxed); }
};

// The platform link's request-to-reply times, in fixed buckets (upper bounds in ns, the last
// one open): a steady-clock difference and two relaxed adds per reply.
struct TReplyTimes
{
    static constexpr std::array<qint64, 12> BoundsNs{50'000,     100'000,    250'000,     500'000,
                                                     1'000'000,  2'500'000,  5'000'000,   10'000'000,
                                                     25'000'000, 50'000'000, 100'000'000, 1'000'000'000};
    std::array<std::atomic<quint64>, BoundsNs.size() + 1> Counts{};
    std::atomic<quint64> SumNs{0};

    void Observe(qint64 ns)
    {
        size_t bucket = 0;
        while (bucket < BoundsNs.size() && ns > BoundsNs[bucket])
            ++bucket;
        Counts[bucket].fetch_add(1, std::memory_order_relaxed);
        SumNs.fetch_add(quint64(std::max<qint64>(ns, 0)), std::memory_order_relaxed);
    }
};
