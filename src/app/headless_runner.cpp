#include "app/headless_runner.h"

#include "app/stop_signals.h"
#include "app/varnex_core.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>


namespace {

void Write(const QString &text)
{
    const QByteArray bytes = (THeadlessRunner::LogLine(text) + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace

THeadlessRunner::THeadlessRunner(TVarnexCore &core, bool traffic, QObject *parent) : QObject(parent), Core(core)
{
    const auto write = [](const TLogLine &line) { Write(line.Text()); };
    connect(&Core.LogMemo(), &TLineLog::LineAdded, this, write);
    // One line per notification once its keys have left, with the time it took.
    connect(&Core.History(), &THistory::NoticeDone, this, [](const TNotice &notice) { Write(notice.Summary()); });
    Core.CommMsg().SetShown(traffic);
    if (traffic)
        connect(&Core.CommMsg(), &TLineLog::LineAdded, this, write);
}

QString THeadlessRunner::LogLine(const QString &text)
{
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + line;
}

int THeadlessRunner::Run()
{
    auto *signals_ = new TStopSignals(this);
    connect(signals_, &TStopSignals::StopAsked, this, &THeadlessRunner::Stop);
    Core.FormCreate();
    for (const QString &error : Core.StartupErrors())
        Write(error);
    Core.StartTimers();
    Write(QStringLiteral("Varnex 已启动（无窗口）：安检侧接收端口 %1，主机侧接收端口 %2，电话号码库 %3")
              .arg(QString::number(Core.Config().CommRecIpPort), QString::number(Core.Config().RecIpPort),
                   Core.DirectoryStore().Folder()));
    return QCoreApplication::exec();
}

void THeadlessRunner::Stop()
{
    Core.FormDestroy();
    Write(QStringLiteral("Varnex 已停止。"));
    QCoreApplication::exit(0);
}
