#pragma once

#include "history/history.h"
#include "channels/speech.h"

#include "channels/play_channels.h"
#include "common/failure_digest.h"
#include "directory/directory.h"
#include "directory/directory_store.h"
#include "directory/number_import.h"
#include "directory/tel_book.h"
#include "channels/sound_player.h"
#include "host_link/host_link.h"
#include "keyboard/key_table.h"
#include "keyboard/keyboard_display.h"
#include "platform_link/platform_link.h"
#include "platform_link/request_dispatcher.h"
#include "platform_link/test_requests.h"
#include "common/configuration.h"
#include "common/line_log.h"
#include "common/settings_store.h"
#include "common/trace_sink.h"
#include "common/traffic_log.h"
#include "common/send_gate.h"
#include "control/pair_role.h"
#include "status/status_publisher.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>

struct TCoreOptions
{
    QString SettingsPath; // empty: the platform's standard settings store
    QString ProgramDir;   // empty: the executable's folder
    QString DataDir;      // the folder that holds DATA/; empty: ProgramDir
    QString SoundDir;     // the folder of w0.wav … w7.wav; empty: ProgramDir
    QString KeyFile;      // empty: "key.dat" in the working directory
    // --database: used instead of the settings file's DatabaseUrl when given (even empty).
    QString DatabaseUrl;
    bool DatabaseUrlGiven = false;
    TSoundPlayer *Player = nullptr; // empty: the platform's media player, owned by the core
    TSpeechCache::TMaker Synthesizer; // empty: espeak-ng
};

// Owns everything that runs the platform, runs the start-up steps and drives the two timers.
// Windows only show its state and pass operator actions on.
class TVarnexCore : public QObject
{
    Q_OBJECT
public:
    static constexpr int Timer1Interval = TPlayChannels::TickMs; // ms

    explicit TVarnexCore(TCoreOptions options = {}, QObject *parent = nullptr);
    ~TVarnexCore() override;

    // Start-up. Every step runs: a bad value falls back to its default and an endpoint that
    // cannot bind stays closed; each such problem is one line of StartupErrors().
    void FormCreate();
    QStringList StartupErrors() const { return Errors; }
    // Of those, what keeps this copy from doing its work: an endpoint that could not be bound,
    // a data folder that cannot be written, settings that cannot be read. A service with any
    // of them should not pretend to run.
    QStringList ServeProblems() const { return Blocking; }
    // What the program works with, for its one start line: the receive ports that opened, the
    // settings file and the data folder.
    QString StartSummary();
    void StartTimers();
    // Where the control socket listens, or why it could not (before FormCreate): a program of a
    // pair without one cannot be switched, so it does not serve; one alone only loses its status.
    void SetControlSocket(const QString &path, const QString &problem);
    // Shutdown: the switch endpoint is released first, then the platform endpoint.
    void FormDestroy();

    // One relay and scan step, as the links do on their own when something arrives or is
    // queued: queued key commands go to the switch, then the platform receive ring is scanned.
    void WarnRecTimer();
    // 1 s tick: the switch link is supervised, then every play channel gets its tick.
    void Timer1Timer();

    // Trace sink for diagnostic texts. Tracing is off for the whole run, so they are dropped.
    void LogMon(const QString &message) { Trace.LogMon(message); }
    TTraceSink &TraceSink() { return Trace; }

    TSettingsStore &Settings() { return Store; }
    TConfiguration &Config() { return Configuration; }
    TTrafficLog &CommMsg() { return Traffic; }
    TLineLog &LogMemo() { return SystemLog; }
    TPlatformLink &PlatformLink() { return Platform; }
    THostLink &HostLink() { return Host; }
    TKeyTable &Keys() { return KeyTable; }
    TKeyboardDisplay &KeyboardDisplay() { return *Keyboard; }
    TPlayChannels &Channels() { return *PlayChannels; }
    TSoundPlayer &Player() { return *SoundPlayer; }
    TRequestDispatcher &Dispatcher() { return *RequestDispatcher; }
    TDirectory &Directory() { return TelDirectory; }
    TTelBook &TelBook() { return Book; }
    TNumberImport &NumberImport() { return Import; }
    TTestRequests &TestRequests() { return Requests; }
    TDM &DirectoryStore() { return DM; }
    THistory &History() { return NoticeHistory; }
    // Spoken notification texts; exists once the start-up has run.
    TSpeechCache *Speech() { return SpeechCache.get(); }
    // Failed sends of both links, said on the system message memo without flooding it.
    TFailureDigest &SendFailures() { return Failures; }
    // The gate both links pass before every send, the part this program plays of a pair, and
    // the status any thread may read.
    TSendGate &Gate() { return SendGate; }
    TPairRole &PairRole() { return *Pair; }
    TStatusPublisher &Status() { return *StatusPublisher; }
    qint64 Now() const { return Clock.elapsed(); }
    QTimer &Timer1() { return Timer1Tick; }

private:
    void Block(const QString &problem); // a start-up error that keeps this copy from serving
    void ResetRunState();       // step 1
    void OpenEndpoints();       // step 6
    void LoadKeyTable();        // step 9
    void SayAlarmPath(const QList<TStatusSnapshot::TAlarmProblem> &came,
                      const QList<TStatusSnapshot::TAlarmProblem> &went, bool first);
    QString KeyFilePath() const;
    void BindChannelDisplays(); // step 11
    void ReadChannelSettings(); // step 12
    void PrepareDirectoryStore();
    void WaitForServerCopy();
    static constexpr int ServerCopyWaitMs = 3000; // step 13

    TCoreOptions Options;
    TSettingsStore Store;
    TConfiguration Configuration;
    TTrafficLog Traffic;
    TLineLog SystemLog{QStringLiteral("系统运行消息")};
    TPlatformLink Platform{Configuration, Traffic};
    THostLink Host{Configuration, Traffic};
    TKeyTable KeyTable;
    THistory NoticeHistory{Configuration, KeyTable};
    std::unique_ptr<TSpeechCache> SpeechCache;
    bool SpeechFailureSaid = false;
    // A sound fault is said once while it lasts, and its end once.
    void SaySoundState();
    bool SoundProblemSaid = false;
    std::unique_ptr<TSoundPlayer> OwnedPlayer;
    TSoundPlayer *SoundPlayer = nullptr;
    std::unique_ptr<TPlayChannels> PlayChannels;
    std::unique_ptr<TKeyboardDisplay> Keyboard;
    TTraceSink Trace;
    TDM DM;
    TDirectory TelDirectory{DM, SystemLog};
    TTelBook Book{DM, Trace};
    TNumberImport Import{TelDirectory, DM};
    std::unique_ptr<TRequestDispatcher> RequestDispatcher;
    TTestRequests Requests{Configuration, Traffic, Platform};
    QTimer Timer1Tick;
    TSendGate SendGate;
    std::unique_ptr<TPairRole> Pair;
    std::unique_ptr<TStatusPublisher> StatusPublisher;
    TFailureDigest Failures;
    QElapsedTimer Clock;
    QStringList Errors;
    QStringList Blocking;
    bool Released = false;
    bool Started = false; // the platform endpoint was bound: 启动 recorded
    QString KeyProblem; // why key.dat as read cannot serve (missing, unreadable, not whole); empty: it can
    QString ControlPath;
    QString ControlProblem;
};
