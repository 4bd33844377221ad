#include "channels/play_channels.h"

#include "channels/speech.h"

#include "channels/sound_player.h"
#include "host_link/host_link.h"
#include "keyboard/key_table.h"
#include "common/configuration.h"
#include "common/settings_store.h"

#include <QDateTime>

TPlayChannels::TPlayChannels(const TConfiguration &config, THostLink &host, TKeyTable &keys, TSoundPlayer &player,
                             QObject *parent)
    : QObject(parent), Config(config), Host(host), Keys(keys), Player(player)
{
    connect(&Player, &TSoundPlayer::Finished, this, &TPlayChannels::playringNotify);
}

void TPlayChannels::ClearNumbers()
{
    for (TPlayChn &chn : PlayChn)
        chn.CalledCount = 0;
}

void TPlayChannels::InitDisplays()
{
    for (int i = 0; i < Count; ++i) {
        TPlayChn &chn = PlayChn[size_t(i)];
        chn.CallerLabel.clear();
        chn.StartTimeLabel.clear();
        chn.CallTypeLabel.clear();
        for (QString *label : {&chn.PlayCountLabel, &chn.TotalLabel, &chn.RingLabel, &chn.OffHookLabel, &chn.HungUpLabel})
            *label = QStringLiteral("0");
        chn.StatusCaption.clear();
        chn.QueueLabel.clear();
        chn.StatusColor = 0x808080;
        chn.TextMemo.Clear();
        chn.TextMemo.Add(QStringLiteral("播放的文字显示"));
        chn.NumberMemo.Clear();
        chn.NumberMemo.Add(QStringLiteral("播放的号码显示"));
        Q_EMIT DetailsChanged(i);
        Q_EMIT DisplayChanged(i);
    }
}

void TPlayChannels::ReadSettings(const TSettingsStore &store)
{
    for (int i = 0; i < Count; ++i) {
        TPlayChn &chn = PlayChn[size_t(i)];
        chn.IfUse = store.Read(QStringLiteral("ifUse%1").arg(i)) == QStringLiteral("是");
        chn.State = chn.IfUse ? ChnIdle : ChnBlocked;
        chn.CallerNumber = store.Read(QStringLiteral("CallerNumber%1").arg(i));
        chn.SpeakText = store.Read(QStringLiteral("SpeakText%1").arg(i)) == QStringLiteral("是");
        RefreshChnDsp(i);
    }
}

QString TPlayChannels::ChannelNumberProblem(const QString &channelNumberText)
{
    int number = 0;
    if (!ParseDecimalInt(channelNumberText, &number))
        return QStringLiteral("通道号 \"%1\" 不是整数。").arg(channelNumberText);
    if (number < 1 || number > Count)
        return QStringLiteral("没有通道 %1：通道号为 1 到 %2。").arg(number).arg(Count);
    return QString();
}

QString TPlayChannels::ApplySettings(const QString &channelNumberText, const QString &lineNumber,
                                     const QString &ifUseText, TSettingsStore &store, const QString &speakText)
{
    const QString problem = ChannelNumberProblem(channelNumberText);
    if (!problem.isEmpty())
        return problem + QStringLiteral("未保存。");
    int number = 0;
    ParseDecimalInt(channelNumberText, &number);
    const int i = number - 1;

    TPlayChn &chn = PlayChn[size_t(i)];
    chn.CallerNumber = lineNumber;
    chn.IfUse = ifUseText == QStringLiteral("是");
    store.Open();
    QString error;
    bool stored = true;
    if (chn.IfUse) {
        stored = store.Write(QStringLiteral("ifUse%1").arg(i), QStringLiteral("是"), &error);
        if (chn.State == ChnBlocked)
            chn.State = ChnIdle;
    } else {
        stored = store.Write(QStringLiteral("ifUse%1").arg(i), QStringLiteral("否"), &error);
        Disable(i);
    }
    if (stored)
        stored = store.Write(QStringLiteral("CallerNumber%1").arg(i), lineNumber, &error);
    if (!speakText.isNull()) {
        chn.SpeakText = speakText == QStringLiteral("是");
        if (stored)
            stored = store.Write(QStringLiteral("SpeakText%1").arg(i), chn.SpeakText ? QStringLiteral("是") : QStringLiteral("否"), &error);
    }
    RefreshChnDsp(i);
    return stored ? QString() : QStringLiteral("通道设置已生效，但未能保存: %1").arg(error);
}

QString TPlayChannels::SoundFileFor(const QString &playText)
{
    const QChar last = playText.isEmpty() ? QChar() : playText.back();
    const int digit = last >= QLatin1Char('1') && last <= QLatin1Char('7') ? last.unicode() - u'0' : 0;
    return QStringLiteral("w%1.wav").arg(digit);
}

QString TPlayChannels::StateCaption(int state, int countdown)
{
    switch (state) {
    case ChnIdle: return QStringLiteral("空闲");
    case ChnBlocked: return QStringLiteral("闭塞");
    case ChnOffHook: return QStringLiteral("摘机  %1").arg(countdown);
    case ChnDialing: return QStringLiteral("拨号  %1").arg(countdown);
    default: return QStringLiteral("未知状态:%1").arg(state);
    }
}

uint32_t TPlayChannels::StateColor(int state)
{
    switch (state) {
    case ChnIdle: return 0x008000;
    case ChnBlocked: return 0x808080;
    case ChnOffHook:
    case ChnDialing: return 0xFF0000;
    default: return 0xFFFFFF;
    }
}

void TPlayChannels::RefreshChnDsp(int channel)
{
    if (channel < 0 || channel >= Count)
        return;
    TPlayChn &chn = PlayChn[size_t(channel)];
    chn.CallerLabel = chn.CallerNumber;
    chn.StatusCaption = StateCaption(chn.State, chn.Countdown);
    chn.StatusColor = StateColor(chn.State);
    Q_EMIT DisplayChanged(channel);
}

void TPlayChannels::StopAll()
{
    for (int i = 0; i < Count; ++i) {
        TPlayChn &chn = PlayChn[size_t(i)];
        chn.Queue.clear();
        chn.Undialled.reset();
        chn.CalledCount = 0;
        chn.Numbers.clear();
        chn.Countdown = 0;
        chn.State = chn.IfUse ? ChnIdle : ChnBlocked;
        ShowQueue(i);
        RefreshChnDsp(i);
    }
    LoopPlay = false;
    Player.Stop();
    PlayerTag = NoOwner;
}

bool TPlayChannels::IsBusy(int channel) const
{
    if (channel < 0 || channel >= Count)
        return false;
    const uint8_t state = PlayChn[size_t(channel)].State;
    return state == ChnOffHook || state == ChnDialing;
}

void TPlayChannels::PlayManager(int event, int channel)
{
    if (channel < 0 || channel >= Count)
        return;
    TPlayChn &chn = PlayChn[size_t(channel)];
    switch (chn.State) {
    case ChnIdle:
        if (event != PlayStart)
            return;
        chn.TextMemo.Clear();
        chn.TextMemo.Add(chn.PlayText);
        StartPlaying(channel);
        chn.State = ChnOffHook;
        chn.Countdown = OffHookTicks;
        RefreshChnDsp(channel);
        return;
    case ChnOffHook:
        if (event != PlayTick)
            return;
        --chn.Countdown;
        RefreshChnDsp(channel);
        if (chn.Countdown == 0) {
            chn.State = ChnDialing;
            chn.Countdown = DialingTicks;
            chn.Undialled.reset();
            if (chn.CalledCount > 0)
                Dial(chn);
        }
        return;
    case ChnDialing:
        if (event == PlayTick && --chn.Countdown == 0) {
            // A call may run on a channel the operator switched off; afterwards it is off again.
            chn.State = chn.IfUse ? ChnIdle : ChnBlocked;
            chn.Numbers.clear();
            StopOwnSound(channel);
            RefreshChnDsp(channel);
            StartNext(channel);
            return;
        }
        RefreshChnDsp(channel);
        return;
    default: // blocked or unknown: nothing
        return;
    }
}

QString TPlayChannels::StartTimeText()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

TPlayChannels::TOffer TPlayChannels::Offer(int channel, TPlayRequest request)
{
    if (channel < 0 || channel >= Count)
        return TOffer::Blocked;
    TPlayChn &chn = PlayChn[size_t(channel)];
    switch (chn.State) {
    case ChnIdle:
        Begin(channel, std::move(request));
        return TOffer::Started;
    case ChnOffHook:
    case ChnDialing:
        if (int(chn.Queue.size()) >= MaxQueued)
            return TOffer::QueueFull;
        chn.Queue.push_back(std::move(request));
        ShowQueue(channel);
        return TOffer::Queued;
    default: // disabled: nothing is kept for later
        return TOffer::Blocked;
    }
}

void TPlayChannels::Call(int channel, TPlayRequest request)
{
    if (channel < 0 || channel >= Count)
        return;
    TPlayChn &chn = PlayChn[size_t(channel)];
    // Its keys were not sent yet: carried out after the call instead of inside the call's key run.
    if (chn.State == ChnOffHook && chn.Undialled) {
        chn.Queue.push_front(std::move(*chn.Undialled));
        chn.Undialled.reset();
        ShowQueue(channel);
    }
    chn.State = ChnIdle;
    Begin(channel, std::move(request));
}

void TPlayChannels::Begin(int channel, TPlayRequest request)
{
    TPlayChn &chn = PlayChn[size_t(channel)];
    chn.PlayText = request.PlayText;
    chn.TextMode = request.TextMode;
    chn.Numbers = request.Numbers;
    chn.CalledCount = 0;
    for (int32_t number : request.Numbers) {
        if (chn.CalledCount >= TPlayChn::MaxNumbers)
            break;
        chn.CalledNumbers[size_t(chn.CalledCount++)] = number;
    }
    ShowRequest(channel, request);
    Q_EMIT RequestStarted(channel, request);
    chn.Undialled = std::move(request);
    PlayManager(PlayStart, channel);
}

void TPlayChannels::ShowRequest(int channel, const TPlayRequest &request)
{
    if (channel < 0 || channel >= Count)
        return;
    TPlayChn &chn = PlayChn[size_t(channel)];
    for (const QString &line : request.NumberLines)
        chn.NumberMemo.Add(line);
    chn.StartTimeLabel = StartTimeText();
    chn.CallTypeLabel = request.CallTypeLabel;
    chn.PlayCountLabel = request.PlayCountLabel;
    chn.TotalLabel = request.TotalLabel;
    Q_EMIT DetailsChanged(channel);
}

void TPlayChannels::StartNext(int channel)
{
    TPlayChn &chn = PlayChn[size_t(channel)];
    if (chn.State != ChnIdle || chn.Queue.empty())
        return;
    TPlayRequest next = std::move(chn.Queue.front());
    chn.Queue.pop_front();
    ShowQueue(channel);
    Begin(channel, std::move(next));
}

void TPlayChannels::ShowQueue(int channel)
{
    TPlayChn &chn = PlayChn[size_t(channel)];
    chn.QueueLabel = chn.Queue.empty() ? QString() : QStringLiteral("排队 %1").arg(chn.Queue.size());
    Q_EMIT DetailsChanged(channel);
}

void TPlayChannels::Disable(int channel)
{
    TPlayChn &chn = PlayChn[size_t(channel)];
    // What was not dialled yet will not be: the history says so rather than losing it quietly.
    QList<TPlayRequest> dropped;
    if (chn.State == ChnOffHook && chn.Undialled)
        dropped.append(std::move(*chn.Undialled));
    chn.Undialled.reset();
    for (TPlayRequest &request : chn.Queue)
        dropped.append(std::move(request));
    chn.Queue.clear();
    chn.CalledCount = 0;
    chn.State = ChnBlocked;
    StopOwnSound(channel);
    ShowQueue(channel);
    if (!dropped.isEmpty())
        Q_EMIT RequestsDropped(channel, dropped);
}

void TPlayChannels::StopOwnSound(int channel)
{
    // A sound that another channel has started since is left playing.
    if (PlayerTag != channel)
        return;
    LoopPlay = false;
    Player.Stop();
    PlayerTag = NoOwner;
}

QString TPlayChannels::SpokenFile(const TPlayChn &chn) const
{
    return Speech && chn.SpeakText && chn.TextMode && Speech->IsReady(chn.PlayText) ? Speech->PathFor(chn.PlayText)
                                                                                     : QString();
}

void TPlayChannels::StartPlaying(int channel)
{
    LoopPlay = true;
    const TPlayChn &chn = PlayChn[size_t(channel)];
    QString file = SpokenFile(chn);
    if (file.isEmpty()) {
        // The recording chosen by the text plays until the spoken text is ready (or for good
        // when it cannot be made).
        file = Config.SoundDir + SoundFileFor(chn.PlayText);
        if (Speech && chn.SpeakText && chn.TextMode)
            Speech->Request(chn.PlayText);
    }
    PlayingFile = file;
    if (!Player.Open(file))
        return;
    Player.Play();
    PlayerTag = channel;
}

void TPlayChannels::Dial(TPlayChn &chn)
{
    Host.SendData(0, 0, 3);
    const int count = qMin(chn.CalledCount, int(chn.CalledNumbers.size()));
    for (int i = 0; i < count; ++i)
        if (Keys.findkeycode(chn.CalledNumbers[size_t(i)], Config.CurrentKeyboard))
            Host.SendData(Keys.FoundModule, Keys.FoundColumn, Keys.FoundRow);
    chn.CalledCount = 0;
    Host.SendData(0, 0, 2);
    if (Dialed)
        Dialed(int(&chn - PlayChn.data()));
}

void TPlayChannels::playringNotify()
{
    if (!LoopPlay)
        return;
    // The spoken text became ready while the recording played: the next round speaks it.
    if (PlayerTag >= 0 && PlayerTag < Count) {
        const QString spoken = SpokenFile(PlayChn[size_t(PlayerTag)]);
        if (!spoken.isEmpty() && spoken != PlayingFile) {
            PlayingFile = spoken;
            if (Player.Open(spoken))
                Player.Play();
            return;
        }
    }
    Player.Rewind();
    Player.Play();
}
