#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

class TPairRole;
class TStatusPublisher;

// The control socket: a local socket only its owner may use, served on a thread of its own so
// it answers while the main loop is busy or stuck (that is what `check` is there to tell).
// One request per connection, one JSON object per line each way:
//   {"command":"status"}                       → {"ok":true,"status":{…}}
//   {"command":"check","data_dir":"/var/lib/varnex","settings":"/var/lib/varnex/Zelvane.conf"}
//                                              → {"ok":false,"other":true,"message":"…"} when
//                                                those are not this program's
//   {"command":"check"}                        → {"ok":false,"message":"main loop stalled for 2300 ms"}
//   {"command":"role","role":"backup","cause":"keepalived"} → {"ok":true,"message":"备用"}
// but `watch` keeps its connection: one {"ok":true,"status":{…}} line now and one with every
// change of the snapshot (at least one a second), for a few watchers that keep reading.
//   {"command":"watch"}                        → {"ok":true,"status":{…}}\n{"ok":true,"status":{…}}\n…
class TControlServer : public QObject
{
    Q_OBJECT
public:
    // How long a role change waits for the main loop to carry it out before answering.
    static constexpr int RoleWaitMs = 700;

    TControlServer(TStatusPublisher &status, TPairRole &role, QObject *parent = nullptr);
    ~TControlServer() override;

    enum class TListen { Listening, Taken, Failed };
    // Listens at path (a stale socket file there is replaced; one another program answers at
    // is Taken and left alone); otherwise with why.
    TListen Listen(const QString &path, QString *why = nullptr);
    void Close();
    QString Path() const { return ListenPath; }

    // The default place: the service's runtime folder (/run/varnex) when there is one, else
    // the user's runtime folder.
    static QString DefaultPath();
    // Where a client looks when it is not told: the service's socket first when it exists.
    static QStringList ClientPaths();

    // Which program this is, as ctl names the one it means: its data folder and settings file.
    // A request that names others is not answered for this program. Set before Listen.
    void SetIdentity(const QString &dataDir, const QString &settingsFile);
    // A path as both sides compare them: as written (absolute, clean), and with its links
    // followed when that differs; empty for none.
    static QStringList SamePath(const QString &path);

    // One request answered (on the control thread; public for the tests).
    QByteArray Answer(const QByteArray &request);
    // The request names no other program than this one (any thread).
    bool IsMeant(const QByteArray &request) const;
    bool IsMeant(const QJsonObject &asked) const;
    // What watchers are told (any thread).
    TStatusPublisher &Publisher() const { return Status; }

Q_SIGNALS:
    // A line for the operator from the control thread (the socket made anew, descriptors out).
    void Said(const QString &line);

private:
    TStatusPublisher &Status;
    TPairRole &Pair;
    QThread Thread;
    QObject *Worker = nullptr; // lives on Thread
    QString ListenPath;
    QStringList DataDir;
    QStringList SettingsFile;
};
