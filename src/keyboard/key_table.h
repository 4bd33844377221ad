#pragma once

#include <QString>
#include <array>
#include <cstdint>

// The switch's dispatch keyboards as exported by its maintenance terminal: eight keyboards of
// 1088 key values (16 modules x 8 columns x 8 rows shown and searched, then 64 more kept as they
// are), each value a signed 32-bit little-endian number in the file.
class TKeyTable
{
public:
    static constexpr int Keyboards = 8;
    static constexpr int KeysPerKeyboard = 1088;
    static constexpr int SearchedKeys = 1024;
    static constexpr int FileSize = Keyboards * KeysPerKeyboard * 4; // 34,816 bytes

    static QString FileName() { return QStringLiteral("key.dat"); }

    // Reads up to FileSize bytes from the start of the file over the start of the table; a
    // shorter file leaves the rest as it was. False, with the reason, when it cannot be read.
    bool Load(const QString &path, QString *error = nullptr);

    // The whole table as the maintenance terminal exports it, written whole or not at all.
    bool Save(const QString &path, QString *error = nullptr) const;

    // The name shown for a key value: a trunk, a networked user, a function key or the number.
    static QString GetKeyName(int32_t value);

    // Looks for the value on keyboard (module, then column, then row); 1 when found, with the
    // position in FoundModule/FoundColumn/FoundRow, else 0. A keyboard outside 0 to 7 has no keys,
    // and 0 (an empty slot) is never found.
    int findkeycode(int32_t value, int keyboard);

    int32_t Key(int keyboard, int module, int column, int row) const;
    // Whether any searched slot of keyboard holds a key (false outside 0 to 7).
    bool HasKeys(int keyboard) const;

    std::array<int32_t, Keyboards * KeysPerKeyboard> KeyTable{};
    int FoundModule = 0;
    int FoundColumn = 0;
    int FoundRow = 0;
};
