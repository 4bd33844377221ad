#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Fixed ring of bytes between a socket and the code that drains it. Empty when the read and
// write positions are equal; a writer never makes them equal, so one slot always stays free.
class TByteRing
{
public:
    static constexpr int Size = 14600;

    static constexpr int Next(int pos) { return pos + 1 == Size ? 0 : pos + 1; }
    static constexpr int Wrap(int pos) { return ((pos % Size) + Size) % Size; }

    void Reset() { Read = 0; Write = 0; }
    bool IsEmpty() const { return Read == Write; }
    // Bytes held from Read up to Write.
    int Count() const { return Wrap(Write - Read); }
    int Free() const { return Size - 1 - Count(); }

    uint8_t At(int pos) const { return Buf[static_cast<std::size_t>(Wrap(pos))]; }
    void Set(int pos, uint8_t b) { Buf[static_cast<std::size_t>(Wrap(pos))] = b; }

    // Stores one byte at Write. When that would make the ring look empty, the byte is taken
    // back and false is returned: the ring is full.
    bool Put(uint8_t b)
    {
        Buf[static_cast<std::size_t>(Write)] = b;
        Write = Next(Write);
        if (Write == Read) {
            Write = Write == 0 ? Size - 1 : Write - 1;
            return false;
        }
        return true;
    }

    std::array<uint8_t, Size> Buf{};
    int Read = 0;
    int Write = 0;
};
