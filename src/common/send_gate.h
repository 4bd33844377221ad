#pragma once

#include <QtGlobal>

#include <atomic>

// The one gate both links pass before every datagram they send, and the platform's requests
// before they are acted on: a program that does not hold the service address (a backup) sends
// nothing at all and answers nothing. What it held back is counted. Any thread may close it at
// once (the control socket does, while the main loop may be busy); it costs the links one
// relaxed load per datagram.
class TSendGate
{
public:
    bool IsOpen() const { return Open.load(std::memory_order_relaxed); }
    void SetOpen(bool open) { Open.store(open, std::memory_order_relaxed); }

    // True when the datagram may leave; else it is counted as held back.
    bool Pass()
    {
        if (Open.load(std::memory_order_relaxed))
            return true;
        Held.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    // True when a request that arrived may be acted on; else it is counted as dropped.
    bool Admit()
    {
        if (Open.load(std::memory_order_relaxed))
            return true;
        Dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    quint64 HeldCount() const { return Held.load(std::memory_order_relaxed); }
    quint64 DroppedCount() const { return Dropped.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> Open{true};
    std::atomic<quint64> Held{0};
    std::atomic<quint64> Dropped{0};
};
