#pragma once

#include <functional>

#include "channels/play_request.h"
#include "common/line_log.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <deque>
#include <optional>

struct TConfiguration;
class THostLink;
class TKeyTable;
class TSettingsStore;
class TSpeechCache;
class TSoundPlayer;

enum TChnState : uint8_t { ChnIdle = 0, ChnBlocked = 1, ChnOffHook = 2, ChnDialing = 3 };
enum TPlayEvent : int { PlayTick = 1, PlayStart = 2 };

// One play channel: its state, the notification it carries and the texts of its box.
struct TPlayChn
{
    static constexpr int MaxNumbers = 384;

    uint8_t State = ChnIdle;
    QString CallerNumber;
    bool IfUse = false;
    QString PlayText;
    bool SpeakText = false; // the channel setting 播报文字内容
    bool TextMode = false;  // the notification asked for its text to be played (播放文本)
    int Countdown = 0;
    std::array<int32_t, MaxNumbers + 1> CalledNumbers{};
    int CalledCount = 0;
    QList<int32_t> Numbers; // of the notification on the channel, kept for the status

    // What the channel's box shows.
    QString CallerLabel;
    QString StartTimeLabel;
    QString CallTypeLabel;
    QString PlayCountLabel;
    QString TotalLabel;
    QString RingLabel;
    QString OffHookLabel;
    QString HungUpLabel;
    QString StatusCaption;
    uint32_t StatusColor = 0x808080; // RGB
    QString QueueLabel; // "排队 n" while notifications wait, else empty
    TLineLog TextMemo;
    TLineLog NumberMemo;

    // Notifications that arrived while the channel was busy, oldest first.
    std::deque<TPlayRequest> Queue;
    // The request on the channel until its keys are sent; a call that displaces it then puts
    // it back at the head of the queue.
    std::optional<TPlayRequest> Undialled;
};

// The eight play channels and the state machine that carries a notification through them:
// off-hook with its sound at once, the called extensions' keys pressed on the eighth second,
// three minutes of dialling, then idle.
class TPlayChannels : public QObject
{
    Q_OBJECT
public:
    static constexpr int Count = 8;
    static constexpr int TickMs = 1000; // PlayManager's tick comes once a second
    static constexpr int OffHookTicks = 8;
    static constexpr int DialingTicks = 180;
    static constexpr int NoOwner = 255;
    static constexpr int MaxQueued = 16;

    enum class TOffer { Started, Queued, Blocked, QueueFull };

    TPlayChannels(const TConfiguration &config, THostLink &host, TKeyTable &keys, TSoundPlayer &player,
                  QObject *parent = nullptr);

    // Empties every channel's number list.
    void ClearNumbers();
    // The boxes' texts before the settings are read.
    void InitDisplays();
    // ifUse<n> and CallerNumber<n> for every channel, then every box redrawn.
    void ReadSettings(const TSettingsStore &store);
    // Why a channel number as typed names no channel (1 to Count), or nothing when it does.
    static QString ChannelNumberProblem(const QString &channelNumberText);
    // The channel-settings answer: channel number text 1 to 8, line number, "是" to enable.
    // Stores both values; returns an operator-readable error, empty when all went well (nothing
    // is changed when the number names no channel).
    // speakText "是"/"否" sets 播报文字内容 too (a null text leaves it as it is).
    QString ApplySettings(const QString &channelNumberText, const QString &lineNumber, const QString &ifUseText,
                          TSettingsStore &store, const QString &speakText = QString());
    // Texts of notifications in 播放文本 mode are spoken from here on channels that say so.
    void SetSpeech(TSpeechCache *speech) { Speech = speech; }

    // A notification: starts an idle channel; waits behind the running one on a busy channel
    // (at most MaxQueued wait); a disabled channel does not take it.
    TOffer Offer(int channel, TPlayRequest request);
    // A call starts at once, on a disabled channel too; a notification it displaces before its
    // keys were sent waits at the head of the queue.
    void Call(int channel, TPlayRequest request);
    // The request's texts in the channel's box, 启动时间 now (also for one that is not carried out).
    void ShowRequest(int channel, const TPlayRequest &request);
    // Date and time as channel boxes show them.
    static QString StartTimeText();

    // Every channel stopped at once, without a key press, its waiting notifications dropped
    // without a word: this program no longer works (a backup), and the one that does now has
    // the history say what became of them.
    void StopAll();
    // Carrying a notification or call (off-hook or dialling).
    bool IsBusy(int channel) const;

    void PlayManager(int event, int channel);
    void RefreshChnDsp(int channel);
    // Tells the box that labels or memos of a channel were written from outside.
    void DetailsUpdated(int channel) { Q_EMIT DetailsChanged(channel); }
    // The player's end-of-sound event.
    void playringNotify();

    // w0.wav … w7.wav by the last character of the text.
    static QString SoundFileFor(const QString &playText);
    static QString StateCaption(int state, int countdown);
    static uint32_t StateColor(int state);

    TPlayChn &Channel(int index) { return PlayChn[size_t(index)]; }
    const TPlayChn &Channel(int index) const { return PlayChn[size_t(index)]; }
    std::array<TPlayChn, Count> PlayChn;
    bool LoopPlay = false;
    int PlayerTag = 0;
    TSpeechCache *Speech = nullptr;
    QString PlayingFile;

Q_SIGNALS:
    // The status panel or caller label of a channel changed.
    void DisplayChanged(int channel);
    // Any other label of a channel changed.
    void DetailsChanged(int channel);
    // A request has just been put on the channel (its box shows it, its sound starts).
    void RequestStarted(int channel, const TPlayRequest &request);
    // Waiting requests thrown away because the channel was disabled.
    void RequestsDropped(int channel, const QList<TPlayRequest> &requests);

private:
    void Begin(int channel, TPlayRequest request);
    void StartNext(int channel);
    void ShowQueue(int channel);
    void Disable(int channel);
    void StopOwnSound(int channel);
    void StartPlaying(int channel);
    void Dial(TPlayChn &chn);
    QString SpokenFile(const TPlayChn &chn) const;
public:
    // Told of every channel whose key commands were just queued for the switch.
    std::function<void(int channel)> Dialed;
private:

    const TConfiguration &Config;
    THostLink &Host;
    TKeyTable &Keys;
    TSoundPlayer &Player;
};
