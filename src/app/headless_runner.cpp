#include "app/headless_runner.h"

#include "service/stop_signals.h"
#include "app/varnex_core.h"

#include <QCoreApplication>

#include <algorithm>

THeadlessRunner::THeadlessRunner(TVarnexCore &core, bool traffic, std::function<void()> afterStart, QObject *parent)
    : QObject(parent), Core(core), AfterStart(std::move(afterStart))
{
    connect(&Core.PairRole(), &TPairRole::Changed, this, [this](TRole role, const QString &cause) {
        Log.Write(TLogLevel::Notice, RoleLine(role, cause));
    });
    // One line per notification once its keys have left, with the time it took.
    connect(&Core.History(), &THistory::NoticeDone, this,
            [this](const TNotice &notice) { Log.Write(TLogLevel::Info, notice.Summary()); });
    // The links' state, which the window shows in its status labels.
    connect(&Core.PlatformLink(), &TPlatformLink::LinkUp, this,
            [this](const QString &peer) { Log.Write(TLogLevel::Notice, QStringLiteral("安检监控平台通讯连上 %1").arg(peer)); });
    connect(&Core.PlatformLink(), &TPlatformLink::LinkQuiet, this, [this](qint64 seconds) {
        Log.Write(TLogLevel::Warning, QStringLiteral("安检监控平台通讯中断：%1 秒没有收到数据").arg(seconds));
    });
    connect(&Core.PlatformLink(), &TPlatformLink::LinkResumed, this,
            [this](const QString &peer) { Log.Write(TLogLevel::Notice, QStringLiteral("安检监控平台通讯恢复 %1").arg(peer)); });
    connect(&Core.HostLink(), &THostLink::LinkUp, this,
            [this](const QString &host) { Log.Write(TLogLevel::Notice, QStringLiteral("调度主机通讯连上 %1").arg(host)); });
    connect(&Core.HostLink(), &THostLink::LinkLost, this,
            [this] { Log.Write(TLogLevel::Warning, QStringLiteral("调度主机通讯中断")); });
    Core.CommMsg().SetShown(traffic);
    if (traffic)
        connect(&Core.CommMsg(), &TLineLog::LineAdded, this, [this](const TLogLine &line) { Log.Write(TLogLevel::Debug, line.Text()); });
}

int THeadlessRunner::Run()
{
    auto *signals_ = new TStopSignals(this);
    connect(signals_, &TStopSignals::StopAsked, this, &THeadlessRunner::Stop);
    const size_t before = Core.LogMemo().Items().size();
    Core.FormCreate();
    const QStringList blocking = Core.ServeProblems();
    for (const QString &error : Core.StartupErrors())
        Log.Write(blocking.contains(error) ? TLogLevel::Error : TLogLevel::Warning, error);
    if (!blocking.isEmpty()) {
        // A service that cannot serve says so with its status, so it is restarted or noticed.
        // What the start-up put on the memo speaks of a program that runs on (answering from an
        // empty directory, entries kept for later): not said by one that ends here.
        Core.FormDestroy();
        Log.Write(TLogLevel::Error, QStringLiteral("Varnex 无法工作，已退出（%1）。").arg(Core.StartSummary()));
        return 1;
    }
    const auto &memo = Core.LogMemo().Items();
    for (size_t i = std::min(before, memo.size()); i < memo.size(); ++i)
        Log.Write(memo[i].Level(), memo[i].Text());
    connect(&Core.LogMemo(), &TLineLog::LineAdded, this, [this](const TLogLine &line) { Log.Write(line.Level(), line.Text()); });
    if (AfterStart)
        AfterStart();
    Core.StartTimers();
    const QString summary = Core.StartSummary();
    Log.Write(TLogLevel::Notice, QStringLiteral("Varnex 已启动（无窗口）：") + summary);
    Manager.Ready(summary);
    return QCoreApplication::exec();
}

QString THeadlessRunner::RoleLine(TRole role, const QString &cause)
{
    return QStringLiteral("角色：") + TPairRole::EntryText(role, cause);
}

void THeadlessRunner::Stop()
{
    Manager.Stopping();
    Core.FormDestroy();
    Log.Write(TLogLevel::Notice, QStringLiteral("Varnex 已停止。"));
    QCoreApplication::exit(0);
}
