#pragma once

#include "common/byte_ring.h"

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>
#include <array>
#include <cstdint>
#include <functional>

// Finds LDTX frames in the platform receive ring. Each scan drains what it can and stops at
// the first irregularity (a stray byte, a broken magic, an over-long length) or at a frame
// that has not fully arrived, which is tried again on the next scan. A frame whose check code
// does not match costs only itself: the search goes on at the next 'L' after its own, so
// frames whose bytes it took in (behind a wrong length) are still found.
//
// A datagram is whole, so a frame is waited for only briefly: one that has not completed within
// PartialWaitMs of its arrival, or by the time a datagram comes that starts with a whole frame
// of its own with a good check code, is broken. Frames wholly inside the bytes held by then are
// still found; the broken one costs only its 'L', and scanning goes on behind it.
class TFrameScanner
{
public:
    static constexpr int HuntLimit = 101;
    static constexpr int PassLimit = 14601;
    static constexpr qint64 PartialWaitMs = 500;

    // The code computed for every complete frame, before it is compared.
    std::function<void(uint16_t computed)> OnCheckCode;
    // A frame whose check code matches; payload points into CommRecData.
    std::function<void(uint16_t messageId, uint8_t direction, uint8_t type, QByteArrayView payload)> OnFrame;
    std::function<void()> OnCheckCodeError;
    // A frame given up before it completed.
    std::function<void()> OnBrokenFrame;

    void Reset();
    // Called with each datagram, before its bytes are stored; nowMs on any steady clock in
    // milliseconds. Decides whether a frame still waiting in the ring is given up.
    void BeginDatagram(QByteArrayView datagram, const QString &checkType, qint64 nowMs);
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
    void MoveRead(int pos);
    // Drops the 'L' of the frame at the read position and hunts for the next 'L'.
    void SkipFrame();
    static bool StartsWithGoodFrame(QByteArrayView datagram, const QString &checkType);

    TByteRing CommRecBuf;
    // Bytes from the read position that nothing later may complete: a frame not whole within
    // them is broken. 0 while every frame may still wait for its rest.
    int Sealed = 0;
    // The read position when the frame waiting there was last seen, and since when it waits.
    int WaitingRead = 0;
    qint64 WaitingSinceMs = 0;
    qint64 LastArrivalMs = 0;
    std::array<uint8_t, 1460> CommRecData{};
};
