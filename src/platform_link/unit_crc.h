#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <array>
#include <cstdint>

// Check-code routines of the platform link.
namespace Unit_CRC {

// Right-shifting CRC table for polynomial 0xA001 (the CRC-16/ARC table).
extern const std::array<uint16_t, 256> CRC16Table;

// Table-driven right-shifting CRC from start, no final XOR.
uint16_t UpdateCRC16(uint16_t start, QByteArrayView bytes);

// Checks and normalises a hex text in place: two-digit groups separated by single blanks.
// On failure the text is left as it was.
bool CheckHexText(QString &text);

// The bytes a hex text stands for; empty when the text is not hex.
QByteArray HexTextToBytes(const QString &text);

} // namespace Unit_CRC

// CRC-16/MODBUS, bit by bit.
uint16_t GetCRC16CheckCode(QByteArrayView bytes);

// The check code of bytes under checkType: "CRC-16/IBM" (CRC-16/ARC), "CRC-16/MODBUS", or 0 for
// any other text. The comparison is exact.
uint16_t GetStrCrc(QByteArrayView bytes, const QString &checkType);

// "0X" + four upper-case hex digits + "/" + decimal, e.g. 0X616D/24941.
QString CheckCodeDisplayText(uint16_t code);
