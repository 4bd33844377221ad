#pragma once

#include <QByteArrayView>
#include <QString>

// prefix, every byte as two upper-case hex digits followed by separator, then suffix: made in
// one piece, since a full frame's line is 4,400 characters.
QString HexLine(const QString &prefix, QByteArrayView bytes, char separator, const QString &suffix);
