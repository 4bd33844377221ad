#pragma once

#include <QTest>
#include <QTimer>
#include <functional>

// Answers a modal dialog from inside its own event loop: once the dialog shows, act runs, and
// the dialog is closed if act left it open, so a test never blocks on exec().
template <typename Dialog>
void AnswerModal(Dialog *dialog, std::function<void()> act)
{
    QTimer::singleShot(0, dialog, [dialog, act = std::move(act)] {
        (void)QTest::qWaitFor([dialog] { return dialog->isVisible(); });
        act();
        if (dialog->isVisible())
            dialog->close();
    });
}
