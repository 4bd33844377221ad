#include "keyboard/key_table.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>

bool TKeyTable::Load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.read(FileSize);
    if (bytes.isEmpty() && file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    // The file's bytes replace the table's bytes from the start, a trailing part value included.
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        auto &value = KeyTable[size_t(i / 4)];
        const int shift = int(i % 4) * 8;
        const auto byte = uint32_t(uint8_t(bytes[i]));
        value = int32_t((uint32_t(value) & ~(0xFFu << shift)) | (byte << shift));
    }
    return true;
}

bool TKeyTable::Save(const QString &path, QString *error) const
{
    QByteArray bytes(FileSize, Qt::Uninitialized);
    for (size_t i = 0; i < KeyTable.size(); ++i)
        qToLittleEndian<int32_t>(KeyTable[i], bytes.data() + i * 4);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

QString TKeyTable::GetKeyName(int32_t value)
{
    if ((value & 0x9000) == 0x8000)
        return QStringLiteral("中继") + QString::number(value & 0x3FFF);
    if (value & 0x4000)
        return QStringLiteral("网用") + QString::number(value & 0x3FFF);
    switch (value) {
    case 0: return QStringLiteral("空");
    case 1: return QStringLiteral("组一");
    case 2: return QStringLiteral("组二");
    case 3: return QStringLiteral("组三");
    case 4: return QStringLiteral("组四");
    case 7: return QStringLiteral("会议");
    case 9: return QStringLiteral("回叫");
    case 10: return QStringLiteral("强拆");
    case 11: return QStringLiteral("催挂");
    case 12: return QStringLiteral("等待");
    case 13: return QStringLiteral("夜服");
    case 14: return QStringLiteral("确认");
    case 15: return QStringLiteral("取消");
    case 16: return QStringLiteral("左调");
    case 17: return QStringLiteral("右调");
    case 33: return QStringLiteral("全呼");
    default: return QString::number(value);
    }
}

int TKeyTable::findkeycode(int32_t value, int keyboard)
{
    // 0 marks an empty key slot, never a number's key.
    if (keyboard < 0 || keyboard >= Keyboards || value == 0)
        return 0;
    const size_t base = size_t(keyboard) * KeysPerKeyboard;
    for (int i = 0; i < SearchedKeys; ++i) {
        if (KeyTable[base + size_t(i)] == value) {
            FoundModule = i / 64;
            FoundColumn = (i % 64) / 8;
            FoundRow = i % 8;
            return 1;
        }
    }
    return 0;
}

int32_t TKeyTable::Key(int keyboard, int module, int column, int row) const
{
    if (keyboard < 0 || keyboard >= Keyboards || module < 0 || module > 16 || column < 0 || column > 7 || row < 0
        || row > 7)
        return 0;
    return KeyTable[size_t(keyboard) * KeysPerKeyboard + size_t(module * 64 + column * 8 + row)];
}

bool TKeyTable::HasKeys(int keyboard) const
{
    if (keyboard < 0 || keyboard >= Keyboards)
        return false;
    const auto first = KeyTable.cbegin() + qsizetype(keyboard) * KeysPerKeyboard;
    return std::any_of(first, first + SearchedKeys, [](int32_t key) { return key != 0; });
}
