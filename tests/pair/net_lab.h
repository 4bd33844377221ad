#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// A command run to its end.
struct TCommandResult
{
    int Code = -1; // -1: it could not start, crashed or hung
    QString Output; // standard output and error together
};
TCommandResult RunCommand(const QString &program, const QStringList &arguments, int timeoutMs = 10000);

// This thread inside a network namespace while the object lives: sockets made meanwhile stay
// in that namespace for their whole life, whichever thread uses them later.
class TInNamespace
{
public:
    explicit TInNamespace(const QString &name);
    ~TInNamespace();
    TInNamespace(const TInNamespace &) = delete;
    TInNamespace &operator=(const TInNamespace &) = delete;

    bool Entered() const { return Why.isEmpty(); }
    QString Why;

private:
    int Own = -1;
};

// Network namespaces of one test program, with the programs run inside them. Their names carry
// the test program's process id, so a run that crashed leaves nothing the next one trips over:
// RemoveLeftOvers takes away whatever a test program that is gone has left.
class TNetLab
{
public:
    // Why namespaces cannot be made here (not root, no ip, no keepalived …); empty when they can.
    static QString Problem();
    static void RemoveLeftOvers();
    // A program's full path, sbin folders included ("ip", "keepalived"); empty when missing.
    static QString Program(const QString &name);

    TNetLab();
    ~TNetLab();
    TNetLab(const TNetLab &) = delete;
    TNetLab &operator=(const TNetLab &) = delete;

    // The namespace's full name for a short one ("p", "a", "b").
    QString Name(const QString &shortName) const { return Prefix + shortName; }
    bool Add(const QString &shortName, QString *why);
    // ip -n NAMESPACE arguments…; false with its output.
    bool Ip(const QString &shortName, const QStringList &arguments, QString *why);
    // ip without a namespace (links made between two of them).
    static bool IpHere(const QStringList &arguments, QString *why);
    // The program started inside the namespace, its output into logFile. Owned by the lab.
    QProcess *Start(const QString &shortName, const QString &program, const QStringList &arguments, const QString &logFile,
                    const QProcessEnvironment &environment);
    // Every process in the namespaces ended, the namespaces removed.
    void Remove();

private:
    static void RemoveNamespace(const QString &name);

    QString Prefix;
    QStringList Made;
    std::vector<std::unique_ptr<QProcess>> Processes;
};
