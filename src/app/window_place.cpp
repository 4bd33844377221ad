#include "app/window_place.h"

#include "common/settings_store.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {
// Room left for a title bar and borders the window manager adds round the window.
constexpr int FrameAllowance = 48;
} // namespace

void TWindowPlace::Restore(QWidget &window, const TSettingsStore &store, QSize designSize)
{
    // restoreGeometry also moves a place that is on no screen now back onto one.
    const QByteArray saved = QByteArray::fromBase64(store.Read(ValueName()).toLatin1());
    if (!saved.isEmpty() && window.restoreGeometry(saved))
        return;
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        window.resize(designSize);
        return;
    }
    const QRect free = screen->availableGeometry();
    if (free.width() >= designSize.width() + FrameAllowance && free.height() >= designSize.height() + FrameAllowance) {
        window.resize(designSize);
        window.move(free.center() - QPoint(designSize.width() / 2, designSize.height() / 2));
        return;
    }
    window.setGeometry(free.adjusted(0, FrameAllowance / 2, 0, 0)); // its normal size when un-maximised
    window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

QString TWindowPlace::Save(const QWidget &window, TSettingsStore &store)
{
    QString why;
    store.Open();
    store.Write(ValueName(), QString::fromLatin1(window.saveGeometry().toBase64()), &why);
    return why;
}
