#include "app/varnex_core.h"

#include "settings/config_check.h"
#include "status/alarm_path.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QTimer>

TVarnexCore::TVarnexCore(TCoreOptions options, QObject *parent)
    : QObject(parent), Options(std::move(options)), Store(Options.SettingsPath)
{
    SoundPlayer = Options.Player;
    if (!SoundPlayer) {
        OwnedPlayer = std::make_unique<TMediaSoundPlayer>();
        SoundPlayer = OwnedPlayer.get();
    }
    PlayChannels = std::make_unique<TPlayChannels>(Configuration, Host, KeyTable, *SoundPlayer);
    connect(SoundPlayer, &TSoundPlayer::StateChanged, this, &TVarnexCore::SaySoundState);
    Keyboard = std::make_unique<TKeyboardDisplay>(Configuration, Store, KeyTable, Host, KeyFilePath());
    RequestDispatcher = std::make_unique<TRequestDispatcher>(Configuration, Traffic, SystemLog, Platform, TelDirectory,
                                                             *PlayChannels, Trace);

    Platform.CommToMonitor().SetGate(&SendGate);
    Host.CommToPabx().SetGate(&SendGate);
    Pair = std::make_unique<TPairRole>(SendGate, *PlayChannels, NoticeHistory);
    TStatusSources sources;
    sources.Platform = &Platform;
    sources.Switch = &Host;
    sources.Channels = PlayChannels.get();
    sources.Directory = &TelDirectory;
    sources.History = &NoticeHistory;
    sources.Gate = &SendGate;
    sources.Role = [this] {
        return TStatusSources::TRoleState{Role::Name(Pair->Current()), Role::Text(Pair->Current()), Pair->Cause(),
                                          Pair->SinceMs()};
    };
    sources.Config = &Configuration;
    sources.KeyFileProblem = [this] {
        // The file as it was read; the keyboard as it is now (the operator may switch it).
        if (!KeyProblem.isEmpty())
            return KeyProblem;
        const int keyboard = Configuration.CurrentKeyboard;
        if (keyboard < 0 || keyboard >= TKeyTable::Keyboards)
            return QStringLiteral("当前键盘号 %1 不在 0 到 7 之间：找不到任何号码的键位。").arg(keyboard);
        if (!KeyTable.HasKeys(keyboard))
            return QStringLiteral("键位数据中，当前键盘 %1 上没有任何键：通知不会按下任何分机键。").arg(keyboard);
        return QString();
    };
    sources.Sound = [this] { return SoundPlayer->State(); };
    StatusPublisher = std::make_unique<TStatusPublisher>(std::move(sources));
    connect(StatusPublisher.get(), &TStatusPublisher::AlarmPathChanged, this, &TVarnexCore::SayAlarmPath);
    connect(SoundPlayer, &TSoundPlayer::StateChanged, StatusPublisher.get(), &TStatusPublisher::Changed);
    connect(Pair.get(), &TPairRole::Changed, StatusPublisher.get(), &TStatusPublisher::Changed);

    Timer1Tick.setInterval(Timer1Interval);
    connect(&Timer1Tick, &QTimer::timeout, this, &TVarnexCore::Timer1Timer);
    connect(&Platform, &TPlatformLink::FrameReceived, RequestDispatcher.get(), &TRequestDispatcher::ExecOnCommCommand);
    Clock.start();
    connect(&Platform, &TPlatformLink::SendFailed, this, [this](const QString &line) { Failures.Report(line, Now()); });
    connect(&Host, &THostLink::SendFailed, this, [this](const QString &line) { Failures.Report(line, Now()); });
    connect(&Platform, &TPlatformLink::Dropped, this, [this](const QString &line) { Failures.Report(line, Now()); });
    connect(&Failures, &TFailureDigest::Said, &SystemLog, &TLineLog::Add);

    // The history hears of notifications from the dispatcher, of keys sent from the channels,
    // and of the links' ups and downs.
    RequestDispatcher->SetHistory(&NoticeHistory);
    PlayChannels->Dialed = [this](int channel) { NoticeHistory.KeysSent(channel, Host.IsUp()); };
    Requests.Sent = [this](const QString &what, int messageId) {
        NoticeHistory.Event(QStringLiteral("测试请求"), QStringLiteral("消息号%1 %2").arg(messageId).arg(what));
    };
    connect(&NoticeHistory, &THistory::Said, &SystemLog, &TLineLog::Add);
    connect(&Host, &THostLink::LinkUp, this, [this](const QString &host) { NoticeHistory.Event(QStringLiteral("主机通讯恢复"), host); });
    connect(&Host, &THostLink::LinkLost, this, [this] { NoticeHistory.Event(QStringLiteral("主机通讯中断")); });
    connect(&Platform, &TPlatformLink::LinkUp, this, [this](const QString &peer) { NoticeHistory.Event(QStringLiteral("平台通讯连上"), peer); });
}

TVarnexCore::~TVarnexCore()
{
    FormDestroy();
}

void TVarnexCore::FormCreate()
{
    Errors.clear();
    Blocking.clear();
    // 1
    ResetRunState();
    // 2
    Configuration.ProgramDir = QDir::toNativeSeparators(
        QDir(Options.ProgramDir.isEmpty() ? QCoreApplication::applicationDirPath() : Options.ProgramDir).absolutePath()
        + QLatin1Char('/'));
    const auto folder = [this](const QString &dir) {
        return dir.isEmpty() ? Configuration.ProgramDir
                             : QDir::toNativeSeparators(QDir(dir).absolutePath() + QLatin1Char('/'));
    };
    Configuration.DataDir = folder(Options.DataDir);
    Configuration.SoundDir = folder(Options.SoundDir);
    // 3
    Store.Open();
    if (!Store.Problem().isEmpty())
        Block(QStringLiteral("设置文件 %1 无法读取: %2（按默认值运行，设置不会写入）").arg(Store.Path(), Store.Problem()));
    if (!Store.RepeatedNames().isEmpty())
        SystemLog.Add(QStringLiteral("设置文件 %1 中 %2 出现了不止一次：用的是最后一行的值。")
                          .arg(Store.Path(), Store.RepeatedNames().join(QStringLiteral("、"))));
    // What the settings would do without a word (a misspelt name, a value that cannot be right)
    // is said now; only a Role that names neither way of running keeps the program from starting.
    for (const TConfigCheck::TProblem &problem : TConfigCheck::Settings(Store)) {
        if (problem.Fatal)
            Block(problem.Text);
        else
            SystemLog.Add({problem.Text, TLogLevel::Warning});
    }
    Configuration.ReadHostSide(Store, Errors);
    // 4
    Host.ResetRings();
    Platform.ResetRing();
    // 5
    Configuration.ReadPlatformSide(Store, Errors);
    Configuration.ReadPair(Store, Errors);
    if (!ControlProblem.isEmpty()) {
        const QString said = QStringLiteral("控制接口 %1 无法打开: %2").arg(ControlPath, ControlProblem);
        if (Configuration.Pair)
            Block(said + QStringLiteral("（双机中的本机离开它无法切换主备）"));
        else
            Errors << said;
    }
    // A program of a pair is silent from its first datagram on, until told it works.
    Pair->Start(Configuration.Pair);
    // 6
    OpenEndpoints();
    // 7
    Host.ClearContact();
    // 8
    Configuration.ReadKeyboard(Store, Errors);
    if (Configuration.StartKeyboard < 0 || Configuration.StartKeyboard >= TKeyTable::Keyboards)
        SystemLog.Add(QStringLiteral("当前键盘号 %1 不在 0 到 7 之间：找不到任何号码的键位，通知不会按下任何分机键。")
                          .arg(Configuration.StartKeyboard));
    // 9
    LoadKeyTable();
    // 10: the channel area is sized by the main window's layout.
    // 11
    BindChannelDisplays();
    // 12
    Store.Open();
    ReadChannelSettings();
    // (A value that is neither 是 nor 否 was named above.)
    if (const QString use = Store.Read(QStringLiteral("ifUse0")); use.isEmpty() || use == QStringLiteral("否"))
        SystemLog.Add({QStringLiteral("第0路未启用（设置 ifUse0 = \"%1\"，启用须为 是）：平台的通知都不会被执行。").arg(Store.Read(QStringLiteral("ifUse0"))), TLogLevel::Warning});
    // 13
    PrepareDirectoryStore();
    // The copy the platform is answered from is read now, before any request is taken (the
    // event loop has not run yet): a real notification never meets a copy not yet read, only
    // a directory that could not be read at all, which the memo then says.
    TelDirectory.Copy().Rows();
    // The history beside the directory, in a file of its own: attached before the wait below
    // runs the event loop, since that already answers the platform's requests.
    NoticeHistory.Open(DM.Folder(), DM.ServerUrl());
    // A copy that cannot take the platform's port serves nothing: it leaves the shared history
    // alone instead of recording a start (and a stop) of the one that runs.
    Started = Platform.CommToMonitor().IsOpen();
    if (Started)
        NoticeHistory.Event(QStringLiteral("启动"));
    WaitForServerCopy();
    // An empty directory answers every group without members: said, since nothing else fails.
    if (const TDirectoryRows *rows = TelDirectory.Copy().Rows(); rows && TelDirectory.Copy().IsLoaded() && rows->Phones.empty())
        SystemLog.Add({QStringLiteral("电话号码库 %1 中没有任何电话号码：平台问到的组都没有成员，通知不会按下任何分机键。请先导入号码。")
                           .arg(DM.Place()),
                       TLogLevel::Warning});
    // Spoken texts are kept beside the directory too and reused.
    SpeechCache = std::make_unique<TSpeechCache>(DM.Folder() + QStringLiteral("speech"), Options.Synthesizer);
    connect(SpeechCache.get(), &TSpeechCache::Failed, this, [this](const QString &, const QString &why) {
        if (SpeechFailureSaid)
            return;
        SpeechFailureSaid = true;
        SystemLog.Add(QStringLiteral("通知文字无法合成语音，改放录音: ") + why);
    });
    PlayChannels->SetSpeech(SpeechCache.get());
    // The device as found at the start, said with the start's other lines.
    SoundProblemSaid = false;
    SaySoundState();
}

void TVarnexCore::SaySoundState()
{
    const TSoundState sound = SoundPlayer->State();
    if (sound.Problem.isEmpty() == !SoundProblemSaid)
        return;
    SoundProblemSaid = !sound.Problem.isEmpty();
    if (!SoundProblemSaid)
        SystemLog.Add({QStringLiteral("声音恢复正常：%1").arg(sound.Device), TLogLevel::Notice});
    else if (!sound.DeviceFound)
        SystemLog.Add({QStringLiteral("声音设备不可用：") + sound.Problem, TLogLevel::Warning});
    else
        SystemLog.Add({QStringLiteral("放音失败：") + sound.Problem, TLogLevel::Warning});
}

QString TVarnexCore::StartSummary()
{
    QStringList parts;
    if (Platform.CommToMonitor().IsOpen())
        parts << QStringLiteral("安检侧接收端口 %1").arg(Configuration.CommRecIpPort);
    if (Host.CommToPabx().IsOpen())
        parts << QStringLiteral("主机侧接收端口 %1").arg(Configuration.RecIpPort);
    if (!ControlPath.isEmpty() && ControlProblem.isEmpty())
        parts << QStringLiteral("控制接口 %1").arg(QDir::toNativeSeparators(ControlPath));
    parts << QStringLiteral("设置文件 %1").arg(QDir::toNativeSeparators(Store.Path()))
          << QStringLiteral("数据文件夹 %1").arg(QDir::toNativeSeparators(QDir::cleanPath(QDir::fromNativeSeparators(Configuration.DataDir))));
    if (DM.OnServer())
        parts << QStringLiteral("数据库 %1").arg(DM.Place());
    return parts.join(QStringLiteral("，"));
}

void TVarnexCore::SetControlSocket(const QString &path, const QString &problem)
{
    ControlPath = path;
    ControlProblem = problem;
}

void TVarnexCore::Block(const QString &problem)
{
    Errors << problem;
    Blocking << problem;
}

void TVarnexCore::ResetRunState()
{
    PlayChannels->ClearNumbers();
    Requests.CommMsgId = 0;
}

void TVarnexCore::OpenEndpoints()
{
    QString why;
    Platform.Close();
    if (!Platform.Open(Configuration.CommRecIpPort, &why, Configuration.ServiceAddress))
        Block(QStringLiteral("安检侧接收端口 %1 无法打开: %2").arg(QString::number(Configuration.CommRecIpPort), why));
    Host.Close();
    if (!Host.Open(Configuration.RecIpPort, &why, Configuration.ServiceAddress))
        Block(QStringLiteral("主机侧接收端口 %1 无法打开: %2").arg(QString::number(Configuration.RecIpPort), why));
}

void TVarnexCore::LoadKeyTable()
{
    // Start-up goes on without it; the operator is told, since no number can be dialled then.
    const QString path = KeyFilePath();
    QString why;
    KeyProblem.clear();
    if (!KeyTable.Load(path, &why)) {
        KeyProblem = QStringLiteral("未能读取键位数据 %1（%2）").arg(path, why);
        SystemLog.Add(KeyProblem);
        return;
    }
    // A file of another size is still taken as it is; that it cannot be the switch's is said,
    // and stays a problem of the alarm path (a keyboard without keys is judged there as it is).
    if (Configuration.StartKeyboard >= 0 && Configuration.StartKeyboard < TKeyTable::Keyboards)
        for (const TConfigCheck::TProblem &problem : TConfigCheck::KeyFile(path, Configuration.StartKeyboard)) {
            SystemLog.Add({problem.Text, TLogLevel::Warning});
            if (QFileInfo(path).size() != TKeyTable::FileSize && KeyProblem.isEmpty())
                KeyProblem = problem.Text;
        }
}

void TVarnexCore::SayAlarmPath(const QList<TStatusSnapshot::TAlarmProblem> &came,
                               const QList<TStatusSnapshot::TAlarmProblem> &went, bool first)
{
    if (first) {
        QStringList texts;
        for (const auto &p : came)
            texts << p.Text;
        SystemLog.Add(texts.isEmpty() ? TLogLine{QStringLiteral("报警通路检查：正常。")}
                                      : TLogLine{QStringLiteral("报警通路检查：%1 处问题：%2").arg(texts.size()).arg(texts.join(QStringLiteral("；"))),
                                                 TLogLevel::Warning});
        return;
    }
    for (const auto &p : came)
        if (!TAlarmPath::SaidWhereItHappens(p.Cause))
            SystemLog.Add({QStringLiteral("报警通路问题：") + p.Text, TLogLevel::Warning});
    for (const auto &p : went)
        if (!TAlarmPath::SaidWhereItHappens(p.Cause))
            SystemLog.Add(QStringLiteral("报警通路恢复：") + p.Text);
}

QString TVarnexCore::KeyFilePath() const
{
    return Options.KeyFile.isEmpty() ? TKeyTable::FileName() : Options.KeyFile;
}

void TVarnexCore::BindChannelDisplays()
{
    PlayChannels->InitDisplays();
}

void TVarnexCore::ReadChannelSettings()
{
    PlayChannels->ReadSettings(Store);
}

void TVarnexCore::PrepareDirectoryStore()
{
    QString why;
    TStoreUrl url;
    if (Options.DatabaseUrlGiven)
        Configuration.DatabaseUrl = Options.DatabaseUrl;
    if (!TStoreUrl::Parse(Configuration.DatabaseUrl, &url, &why)) {
        SystemLog.Add({QStringLiteral("电话号码库不可用: ") + why, TLogLevel::Error});
        Block(QStringLiteral("电话号码库不可用: ") + why);
        return;
    }
    if (!DM.Prepare(Configuration.DataDir, &why, url)) {
        LogMon(why);
        // Every query would answer an empty directory; the operator is told why.
        SystemLog.Add({QStringLiteral("电话号码库不可用: ") + why, TLogLevel::Error});
        Block(QStringLiteral("电话号码库不可用: ") + why);
        return;
    }
    // A server not reached yet is waited for; the operator is told which one.
    if (!why.isEmpty())
        SystemLog.Add({why.trimmed() + QStringLiteral("，稍后自动重试。"), TLogLevel::Warning});
    // The history, spoken texts and every edit are written here; a folder that only reads
    // would lose them one by one, each with a message of its own.
    if (QTemporaryFile probe(DM.Folder() + QStringLiteral("write-check-XXXXXX")); !probe.open())
        Block(QStringLiteral("数据文件夹 %1 无法写入: %2").arg(QDir::toNativeSeparators(DM.Folder()), probe.errorString()));
    if (const QString problem = DM.EnsureIndexes(); !problem.isEmpty()) {
        SystemLog.Add(QStringLiteral("电话号码库的号码索引未能建立，查找号码会较慢: ") + problem);
    }
}

void TVarnexCore::WaitForServerCopy()
{
    // On a server the rows come from the copy's own thread a moment after it starts: they are
    // waited for (a few seconds at most) so the first request is answered from them.
    if (!DM.OnServer() || TelDirectory.Copy().IsLoaded())
        return;
    QDeadlineTimer deadline(ServerCopyWaitMs);
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        TelDirectory.Copy().Rows();
        if (TelDirectory.Copy().IsLoaded() || deadline.hasExpired())
            loop.quit();
    });
    poll.start(5);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void TVarnexCore::StartTimers()
{
    // The links need no tick: datagrams are scanned on arrival and key commands relayed when queued.
    Timer1Tick.start();
    StatusPublisher->Start();
}

void TVarnexCore::FormDestroy()
{
    if (Released)
        return;
    Released = true;
    // Notifications still waiting for the directory are carried out (and recorded) with what
    // there is, before the links close.
    RequestDispatcher->ReleaseHeld();
    // The directory's reader ends beside the history's writer, neither waiting for the other.
    TelDirectory.Copy().Stop();
    Timer1Tick.stop();
    StatusPublisher->Stop();
    Host.Close();
    Platform.Close();
    PlayChannels->SetSpeech(nullptr);
    SpeechCache.reset();
    if (NoticeHistory.IsOpen()) {
        if (Started)
            NoticeHistory.Event(QStringLiteral("停止"));
        NoticeHistory.Close();
    }
}

void TVarnexCore::WarnRecTimer()
{
    Host.Relay();
    Platform.ScanFrames();
}

void TVarnexCore::Timer1Timer()
{
    Failures.Tick(Now());
    Host.Supervise();
    Platform.Supervise();
    for (int channel = 0; channel < TPlayChannels::Count; ++channel)
        PlayChannels->PlayManager(PlayTick, channel);
}
