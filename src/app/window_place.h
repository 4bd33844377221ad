#pragma once

#include <QSize>

class QWidget;
class TSettingsStore;

// Where the main window opens: where the operator left it (size, place, maximised or not), or
// on a first start the design size when the screen's free area holds it with its frame, else
// maximised, so the status bar and the left edge are never off screen.
class TWindowPlace
{
public:
    static QString ValueName() { return QStringLiteral("MainWindowPlace"); }

    static void Restore(QWidget &window, const TSettingsStore &store, QSize designSize);
    // Returns the store's error, empty when saved.
    static QString Save(const QWidget &window, TSettingsStore &store);
};
