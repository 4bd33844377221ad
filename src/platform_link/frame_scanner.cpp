#include "platform_link/frame_scanner.h"

#include "platform_link/ldtx_frame.h"
#include "platform_link/unit_crc.h"

#include <QByteArray>

void TFrameScanner::Reset()
{
    CommRecBuf.Reset();
    Sealed = 0;
    WaitingRead = 0;
    WaitingSinceMs = LastArrivalMs = 0;
}

void TFrameScanner::BeginDatagram(QByteArrayView datagram, const QString &checkType, qint64 nowMs)
{
    TByteRing &ring = CommRecBuf;
    if (ring.IsEmpty()) {
        // Whatever waits after this datagram began in it.
        WaitingRead = ring.Write;
        WaitingSinceMs = nowMs;
    } else {
        if (ring.Read != WaitingRead) {
            // Another frame waits now; it came at the latest with the previous datagram.
            WaitingRead = ring.Read;
            WaitingSinceMs = LastArrivalMs;
        }
        if (nowMs - WaitingSinceMs >= PartialWaitMs || StartsWithGoodFrame(datagram, checkType))
            Sealed = ring.Count();
    }
    LastArrivalMs = nowMs;
}

bool TFrameScanner::StartsWithGoodFrame(QByteArrayView datagram, const QString &checkType)
{
    if (datagram.size() < LdtxFrame::MinFrameSize || !datagram.startsWith(QByteArrayView(LdtxFrame::Magic, 4)))
        return false;
    const int length = uint8_t(datagram[4]) | uint8_t(datagram[5]) << 8;
    if (length >= LdtxFrame::LengthLimit)
        return false;
    const int covered = LdtxFrame::HeaderSize + (length > 4 ? length - 4 : 0);
    if (datagram.size() < covered + 2)
        return false;
    const auto received = static_cast<uint16_t>(uint8_t(datagram[covered]) | uint8_t(datagram[covered + 1]) << 8);
    return GetStrCrc(datagram.first(covered), checkType) == received;
}

void TFrameScanner::MoveRead(int pos)
{
    if (Sealed > 0)
        Sealed = qMax(0, Sealed - TByteRing::Wrap(pos - CommRecBuf.Read));
    CommRecBuf.Read = pos;
}

void TFrameScanner::SkipFrame()
{
    TByteRing &ring = CommRecBuf;
    MoveRead(TByteRing::Next(ring.Read));
    while (!ring.IsEmpty() && ring.At(ring.Read) != 'L')
        MoveRead(TByteRing::Next(ring.Read));
}

bool TFrameScanner::Scan(const QString &checkType)
{
    TByteRing &ring = CommRecBuf;
    const int before = ring.Read;
    if (ring.IsEmpty())
        return false;
    for (int i = 0; i < HuntLimit && ring.At(ring.Read) != 'L'; ++i) {
        MoveRead(TByteRing::Next(ring.Read));
        if (ring.IsEmpty())
            return true;
    }
    for (int pass = 0; pass < PassLimit; ++pass)
        if (!ScanFrame(checkType))
            break;
    return ring.Read != before;
}

bool TFrameScanner::ScanFrame(const QString &checkType)
{
    TByteRing &ring = CommRecBuf;
    if (ring.IsEmpty())
        return false;
    if (ring.At(ring.Read) != 'L') {
        MoveRead(TByteRing::Next(ring.Read));
        return false;
    }

    // The bytes this frame may take: all that arrived, or only the sealed ones, which nothing
    // later may complete.
    const int held = Sealed > 0 ? Sealed : ring.Count();
    const auto notWhole = [this] {
        if (Sealed == 0)
            return false; // tried again when more has arrived
        if (OnBrokenFrame)
            OnBrokenFrame();
        SkipFrame();
        return true;
    };

    const int start = ring.Read;
    for (int i = 1; i < 4; ++i) {
        if (i >= held)
            return notWhole();
        if (ring.At(start + i) != static_cast<uint8_t>(LdtxFrame::Magic[i])) {
            MoveRead(TByteRing::Wrap(start + i)); // drop only the bytes before the mismatch
            return false;
        }
    }
    if (held < 6)
        return notWhole();
    const int length = ring.At(start + 4) | ring.At(start + 5) << 8;
    if (length >= LdtxFrame::LengthLimit) {
        MoveRead(TByteRing::Wrap(start + 6));
        return false;
    }

    const int payloadLength = length > 4 ? length - 4 : 0;
    const int frameSize = LdtxFrame::MinFrameSize + payloadLength;
    if (held < frameSize)
        return notWhole();

    QByteArray covered(LdtxFrame::HeaderSize + payloadLength, Qt::Uninitialized);
    for (int i = 0; i < covered.size(); ++i)
        covered[i] = static_cast<char>(ring.At(start + i));
    const auto messageId = static_cast<uint16_t>(ring.At(start + 6) | ring.At(start + 7) << 8);
    const uint8_t direction = ring.At(start + 8);
    const uint8_t type = ring.At(start + 9);
    for (int i = 0; i < payloadLength; ++i)
        CommRecData[static_cast<size_t>(i)] = ring.At(start + LdtxFrame::HeaderSize + i);

    const uint16_t computed = GetStrCrc(covered, checkType);
    if (OnCheckCode)
        OnCheckCode(computed);
    const int codeAt = start + LdtxFrame::HeaderSize + payloadLength;
    const auto received = static_cast<uint16_t>(ring.At(codeAt) | ring.At(codeAt + 1) << 8);

    if (computed == received) {
        MoveRead(TByteRing::Wrap(codeAt + 2));
        if (OnFrame)
            OnFrame(messageId, direction, type,
                    QByteArrayView(reinterpret_cast<const char *>(CommRecData.data()), payloadLength));
    } else {
        // Only this frame's 'L' is dropped: a wrong length may have taken in the bytes of good
        // frames behind it, and they are looked for from the next 'L' on.
        SkipFrame();
        if (OnCheckCodeError)
            OnCheckCodeError();
    }
    return true;
}
