#pragma once

#include <QByteArray>
#include <QString>

// Texts limited to a number of bytes in an encoding, always cut between characters.

// The longest start of text whose GBK form has at most maxBytes bytes.
QString CutToGbkBytes(const QString &text, int maxBytes);
// The UTF-8 form of text, cut to at most maxBytes bytes.
QByteArray Utf8CutAtBoundary(const QString &text, int maxBytes);
