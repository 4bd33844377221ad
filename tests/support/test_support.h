#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class TSettingsStore;

namespace TestSupport {

// A UDP port that nothing was bound to a moment ago.
int FreeUdpPort();
// n different such ports.
QList<int> FreeUdpPorts(int n);

// Bytes from a hex text such as "4C 44 54 58".
QByteArray Hex(const char *text);

// A settings file in a fresh temporary folder, written with the given Name=Value lines.
QString WriteSettings(const QTemporaryDir &dir, const QStringList &lines);

} // namespace TestSupport
