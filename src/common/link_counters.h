#pragma once

#include <QtGlobal>

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
};

// The platform's requests by message type (0 to 7; the last slot takes every other type).
struct TRequestCounters
{
    static constexpr int Types = 9;
    std::array<std::atomic<quint64>, Types> ByType{};

    void Count(int type) { ByType[size_t(type >= 0 && type < Types - 1 ? type : Types - 1)].fetch_add(1, std::memory_order_relaxed); }
    quint64 Of(int type) const { return ByType[size_t(type)].load(std::memory_order_relaxed); }
};
