#pragma once

#include "common/byte_ring.h"

#include <QByteArrayView>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

// Finds LDTX frames in the platform receive ring. Each scan drains what it can and stops at
// the first irregularity (a stray byte, a broken magic, an over-long length) or at a frame
// that has not fully arrived, which is tried again on the next scan. A frame whose check code
// does not match costs only itself: the search goes on at the next 'L' after its own, so
// frames whose bytes it took in (behind a wrong length) are still found.
class TFrameScanner
{
public:
    static constexpr int HuntLimit = 101;
    static constexpr int PassLimit = 14601;

    // The code computed for every complete frame, before it is compared.
    std::function<void(uint16_t computed)> OnCheckCode;
    // A frame whose check code matches; payload points into CommRecData.
    std::function<void(uint16_t messageId, uint8_t direction, uint8_t type, QByteArrayView payload)> OnFrame;
    std::function<void()> OnCheckCodeError;

    void Reset() { CommRecBuf.Reset(); }
    // Stores one received byte; false when the ring is full and the byte was not kept.
    bool Store(uint8_t b) { return CommRecBuf.Put(b); }
    // One scan; true when it consumed bytes, false when the ring is empty or holds only the
    // start of a frame that has not fully arrived.
    bool Scan(const QString &checkType);

    int CommRecRead() const { return CommRecBuf.Read; }
    int CommRecWrite() const { return CommRecBuf.Write; }
    int Pending() const { return CommRecBuf.Count(); }
    const TByteRing &Ring() const { return CommRecBuf; }

private:
    // One pass of the frame loop; false ends the scan.
    bool ScanFrame(const QString &checkType);

    TByteRing CommRecBuf;
    std::array<uint8_t, 1460> CommRecData{};
};
