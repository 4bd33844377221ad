#pragma once

#include <QByteArrayView>
#include <QObject>
#include <cstdint>

// Acts on the platform's requests and answers them.
class TRequestDispatcher : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // One frame whose check code matched; payload holds its L - 4 bytes.
    void ExecOnCommCommand(uint16_t messageId, uint8_t direction, uint8_t type, QByteArrayView payload);
};
