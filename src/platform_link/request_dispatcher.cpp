#include "platform_link/request_dispatcher.h"

void TRequestDispatcher::ExecOnCommCommand(uint16_t messageId, uint8_t direction, uint8_t type, QByteArrayView payload)
{
    // No request is served yet: a good frame is accepted and goes no further.
    Q_UNUSED(messageId);
    Q_UNUSED(direction);
    Q_UNUSED(type);
    Q_UNUSED(payload);
}
