#pragma once

#include <QTimer>
#include <functional>

// Answers a modal dialog from inside its own event loop: a short poll waits, without blocking,
// until the dialog shows; then act runs, and the dialog is closed if act left it open. Several
// answers may be queued at once for dialogs that open one after the other.
template <typename Dialog>
void AnswerModal(Dialog *dialog, std::function<void()> act)
{
    auto *poll = new QTimer(dialog);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, dialog, [dialog, poll, act = std::move(act)] {
        if (!dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        act();
        if (dialog->isVisible())
            dialog->close();
    });
    poll->start();
}
