#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUdpSocket>

#include "channels/sound_player.h"
#include "app/varnex_core.h"
#include "store/store_place.h"

class TDirectory;

// A sound player that only records what it was told, one line per call.
class TRecordingPlayer : public TSoundPlayer
{
    Q_OBJECT
public:
    using TSoundPlayer::TSoundPlayer;
    bool Open(const QString &path) override;
    void Play() override { Calls << QStringLiteral("play"); }
    void Stop() override { Calls << QStringLiteral("stop"); }
    void Rewind() override { Calls << QStringLiteral("rewind"); }
    // The device and the last play as a test wants them.
    using TSoundPlayer::SetState;

    QStringList Calls;
    bool OpenSucceeds = true;
};

namespace TestSupport {

// A file of the checkout (relative: "tests/data/…", "share/…") and of the build folder
// ("varnex", "varnex-sim"), found from the test program's own folder: the compile commands then
// name no absolute path, so another clone's build reuses what ccache keeps.
QString SourcePath(const QString &relative);
QString BuildPath(const QString &relative);

// A runtime folder (for XDG_RUNTIME_DIR) inside dir, made private as the runtime folder must be:
// a program started there makes its control socket there, apart from other tests' programs.
QString RuntimeFolder(const QTemporaryDir &dir);

// The environment of a program a test starts as a service would run it: no display, no service
// manager, its settings and runtime folders below dir (config/, runtime/).
QProcessEnvironment ProgramEnvironment(const QTemporaryDir &dir);

// Request payloads as the platform sends them: a voice notification to a group (text in UTF-8,
// played count times) and a phone call from caller to called.
QByteArray VoiceToGroup(int group, const QString &text, int count);
QByteArray Call(int caller, int called);

// A UDP port that nothing was bound to a moment ago.
int FreeUdpPort();
// n different such ports.
QList<int> FreeUdpPorts(int n);
// A TCP port on loopback that nothing listened on a moment ago.
int FreeTcpPort();

// Bytes from a hex text such as "4C 44 54 58".
QByteArray Hex(const char *text);

// A settings file in a fresh temporary folder, written with the given Name=Value lines.
QString WriteSettings(const QTemporaryDir &dir, const QStringList &lines);

// Options for a core that keeps everything in dir: settings from lines, the program folder,
// key.dat, and the given sound player.
TCoreOptions CoreOptions(const QTemporaryDir &dir, const QStringList &settingsLines, TSoundPlayer *player);

// A core started on dir. The given settings come first and win over the test defaults after
// them: the platform at 127.0.0.1 on a free port, and free receive ports for both endpoints,
// so no test ever sends beyond this machine.
std::unique_ptr<TVarnexCore> StartCore(const QTemporaryDir &dir, const QStringList &settingsLines, TSoundPlayer *player);

// Until the directory's copy has read this program's last write (on a server a moment after
// it); false when it has not within timeoutMs.
bool CopyCaughtUp(TDirectory &directory, int timeoutMs = 5000);
// Every row of a statement on a store opened for it (the files or the server).
QStringList PlaceRows(const TStorePlace &place, const QString &statement);

// Every row of a statement on a connection, its values joined by "|", NULL as "NULL".
QStringList SqlRows(const QString &connection, const QString &statement);

// Sends the platform's request of type from platform to a program listening on port, and
// returns the count byte of its reply, or -1 when none comes within 5 s.
int AskCount(QUdpSocket &platform, int port, uint8_t type);

// Sends the platform's request of type with payload and message id to a program listening on
// port, and returns the type of its reply, or -1 when none comes within 3 s.
int Ask(QUdpSocket &platform, int port, uint8_t type, const QByteArray &payload, uint16_t id);

// An HTTP exchange over loopback, waited for (10 s at most): status 0 when no answer came.
struct THttpAnswer
{
    int Status = 0;
    QByteArray Body;
    QList<QPair<QByteArray, QByteArray>> Headers;
    QByteArray Header(const QByteArray &name) const;
};
THttpAnswer Http(const QByteArray &method, const QString &url, const QList<QPair<QByteArray, QByteArray>> &headers = {},
                 const QByteArray &body = QByteArray());

// A key.dat image with the given key values set (index into the whole table), others 0.
QByteArray KeyFile(const QList<QPair<int, int32_t>> &keys);

} // namespace TestSupport
