#include "net_lab.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

const QString NamePrefix = QStringLiteral("vxt");

QString Find(const QString &program)
{
    if (program.startsWith(QLatin1Char('/')))
        return program;
    // keepalived and ip live in sbin, which a plain user's PATH may lack.
    QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(program, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found;
}

} // namespace

TCommandResult RunCommand(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    TCommandResult result;
    if (!p.waitForStarted(timeoutMs)) {
        result.Output = p.errorString();
        return result;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        result.Output = QString::fromLocal8Bit(p.readAll()) + QStringLiteral(" (hung, killed)");
        return result;
    }
    result.Output = QString::fromLocal8Bit(p.readAll());
    result.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return result;
}

TInNamespace::TInNamespace(const QString &name)
{
    Own = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const QByteArray path = QFile::encodeName(QStringLiteral("/run/netns/") + name);
    const int target = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (Own < 0 || target < 0 || ::setns(target, CLONE_NEWNET) != 0)
        Why = QStringLiteral("cannot enter network namespace %1: %2").arg(name, QString::fromLocal8Bit(strerror(errno)));
    if (target >= 0)
        ::close(target);
}

TInNamespace::~TInNamespace()
{
    if (Entered() && Own >= 0 && ::setns(Own, CLONE_NEWNET) != 0)
        qFatal("cannot return to the test's own network namespace");
    if (Own >= 0)
        ::close(Own);
}

QString TNetLab::Problem()
{
    if (::geteuid() != 0)
        return QStringLiteral("network namespaces need root (this runs as uid %1)").arg(::geteuid());
    if (Find(QStringLiteral("ip")).isEmpty())
        return QStringLiteral("the ip command (iproute2) is not installed");
    if (Find(QStringLiteral("keepalived")).isEmpty())
        return QStringLiteral("keepalived is not installed");
    const QString probe = QStringLiteral("%1%2probe").arg(NamePrefix).arg(QCoreApplication::applicationPid());
    const TCommandResult made = RunCommand(Find(QStringLiteral("ip")), {QStringLiteral("netns"), QStringLiteral("add"), probe});
    if (made.Code != 0)
        return QStringLiteral("this machine cannot make network namespaces: ") + made.Output.trimmed();
    RemoveNamespace(probe);
    return QString();
}

void TNetLab::RemoveLeftOvers()
{
    const TCommandResult list = RunCommand(Find(QStringLiteral("ip")), {QStringLiteral("netns"), QStringLiteral("list")});
    static const QRegularExpression ours(QStringLiteral("^(%1(\\d+)[a-z]+)\\b").arg(NamePrefix));
    for (const QString &line : list.Output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = ours.match(line.trimmed());
        if (!m.hasMatch())
            continue;
        const QString owner = m.captured(2);
        QFile comm(QStringLiteral("/proc/%1/comm").arg(owner));
        // A process id that was given to another program since counts as gone.
        const bool alive = comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == QFileInfo(QCoreApplication::applicationFilePath()).fileName().left(15).toUtf8();
        if (!alive || owner.toLongLong() == QCoreApplication::applicationPid())
            RemoveNamespace(m.captured(1));
    }
}

void TNetLab::RemoveNamespace(const QString &name)
{
    const QString ip = Find(QStringLiteral("ip"));
    // keepalived's children, notify scripts: whatever still runs there.
    const TCommandResult pids = RunCommand(ip, {QStringLiteral("netns"), QStringLiteral("pids"), name});
    for (const QString &pid : pids.Output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (const int n = pid.trimmed().toInt(); n > 1)
            ::kill(n, SIGKILL);
    RunCommand(ip, {QStringLiteral("netns"), QStringLiteral("delete"), name});
}

QString TNetLab::Program(const QString &name)
{
    return Find(name);
}

TNetLab::TNetLab() : Prefix(QStringLiteral("%1%2").arg(NamePrefix).arg(QCoreApplication::applicationPid())) {}

TNetLab::~TNetLab()
{
    Remove();
}

bool TNetLab::Add(const QString &shortName, QString *why)
{
    const TCommandResult r = RunCommand(Find(QStringLiteral("ip")), {QStringLiteral("netns"), QStringLiteral("add"), Name(shortName)});
    if (r.Code != 0) {
        *why = QStringLiteral("ip netns add %1: %2").arg(Name(shortName), r.Output.trimmed());
        return false;
    }
    Made << Name(shortName);
    return Ip(shortName, {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")}, why);
}

bool TNetLab::Ip(const QString &shortName, const QStringList &arguments, QString *why)
{
    return IpHere(QStringList{QStringLiteral("-n"), Name(shortName)} + arguments, why);
}

bool TNetLab::IpHere(const QStringList &arguments, QString *why)
{
    const TCommandResult r = RunCommand(Find(QStringLiteral("ip")), arguments);
    if (r.Code != 0 && why)
        *why = QStringLiteral("ip %1: %2").arg(arguments.join(QLatin1Char(' ')), r.Output.trimmed());
    return r.Code == 0;
}

QProcess *TNetLab::Start(const QString &shortName, const QString &program, const QStringList &arguments,
                         const QString &logFile, const QProcessEnvironment &environment)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(environment);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->setStandardOutputFile(logFile, QIODevice::Append);
    // ip netns exec runs the program in place of itself: the process is the program.
    p->start(Find(QStringLiteral("ip")),
             QStringList{QStringLiteral("netns"), QStringLiteral("exec"), Name(shortName), Find(program)} + arguments);
    p->waitForStarted();
    Processes.push_back(std::move(p));
    return Processes.back().get();
}

void TNetLab::Remove()
{
    for (const auto &p : Processes)
        if (p->state() != QProcess::NotRunning) {
            ::kill(pid_t(p->processId()), SIGCONT);
            p->kill();
            p->waitForFinished(5000);
        }
    Processes.clear();
    for (const QString &name : std::as_const(Made))
        RemoveNamespace(name);
    Made.clear();
}
