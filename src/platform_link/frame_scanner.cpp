#include "platform_link/frame_scanner.h"

#include "platform_link/ldtx_frame.h"
#include "platform_link/unit_crc.h"

#include <QByteArray>

bool TFrameScanner::Scan(const QString &checkType)
{
    TByteRing &ring = CommRecBuf;
    const int before = ring.Read;
    if (ring.IsEmpty())
        return false;
    for (int i = 0; i < HuntLimit && ring.At(ring.Read) != 'L'; ++i) {
        ring.Read = TByteRing::Next(ring.Read);
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
        ring.Read = TByteRing::Next(ring.Read);
        return false;
    }

    // Read on from the 'L'; reaching the write position means the frame has not fully arrived.
    int p = ring.Read;
    for (int i = 1; i < 4; ++i) {
        p = TByteRing::Next(p);
        if (p == ring.Write)
            return false;
        if (ring.At(p) != static_cast<uint8_t>(LdtxFrame::Magic[i])) {
            ring.Read = p; // drop only the bytes before the mismatch
            return false;
        }
    }
    p = TByteRing::Next(p);
    if (p == ring.Write)
        return false;
    const uint8_t lengthLow = ring.At(p);
    p = TByteRing::Next(p);
    if (p == ring.Write)
        return false;
    const int length = lengthLow | ring.At(p) << 8;
    if (length >= LdtxFrame::LengthLimit) {
        ring.Read = TByteRing::Next(p);
        return false;
    }

    const int payloadLength = length > 4 ? length - 4 : 0;
    const int frameSize = LdtxFrame::MinFrameSize + payloadLength;
    if (ring.Count() < frameSize)
        return false;

    const int start = ring.Read;
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
        ring.Read = TByteRing::Wrap(codeAt + 2);
        if (OnFrame)
            OnFrame(messageId, direction, type,
                    QByteArrayView(reinterpret_cast<const char *>(CommRecData.data()), payloadLength));
    } else {
        // Only this frame's 'L' is dropped: a wrong length may have taken in the bytes of good
        // frames behind it, and they are looked for from the next 'L' on.
        ring.Read = TByteRing::Next(start);
        while (!ring.IsEmpty() && ring.At(ring.Read) != 'L')
            ring.Read = TByteRing::Next(ring.Read);
        if (OnCheckCodeError)
            OnCheckCodeError();
    }
    return true;
}
