#include "platform_link/request_dispatcher.h"

#include "history/history.h"

#include "channels/play_channels.h"
#include "directory/directory.h"
#include "platform_link/ldtx_frame.h"
#include "platform_link/platform_link.h"
#include "common/configuration.h"
#include "common/line_log.h"
#include "common/trace_sink.h"
#include "common/traffic_log.h"

#include <QtEndian>

namespace {

const QString TooLong = QStringLiteral("分组数据太长，需要小于1460字节");

uint8_t At(QByteArrayView payload, qsizetype i)
{
    return uint8_t(payload[i]);
}

// Names for the history, from the copy in memory: the file is never waited for.
QString PhoneName(const TDirectoryRows *rows, int32_t number)
{
    if (rows)
        for (const TDirectoryRows::TPhone &phone : rows->Phones)
            if (phone.Number == number)
                return phone.Name;
    return QString();
}

QString GroupName(const TDirectoryRows *rows, int32_t number)
{
    if (rows)
        for (const TDirectoryRows::TGroup &group : rows->Groups)
            if (group.Number == number)
                return group.Name;
    return QString();
}

} // namespace

TRequestDispatcher::TRequestDispatcher(const TConfiguration &config, TTrafficLog &traffic, TLineLog &systemLog,
                                       TPlatformLink &link, TDirectory &directory, TPlayChannels &channels,
                                       TTraceSink &trace, QObject *parent)
    : QObject(parent), Config(config), Traffic(traffic), SystemLog(systemLog), Link(link), Directory(directory),
      Channels(channels), Trace(trace)
{
    connect(&Channels, &TPlayChannels::RequestStarted, this, [this](int channel, const TPlayRequest &request) {
        if (channel == 0)
            Record(request, THistory::Started());
    });
    HeldCheck.setInterval(20);
    connect(&HeldCheck, &QTimer::timeout, this, &TRequestDispatcher::CheckHeld);
    connect(&Channels, &TPlayChannels::RequestsDropped, this, [this](int channel, const QList<TPlayRequest> &requests) {
        if (channel != 0)
            return;
        for (const TPlayRequest &request : requests)
            Record(request, THistory::Disabled());
        SystemLog.Add(QStringLiteral("第0路已停用：%1 条未拨号的通知未执行。").arg(requests.size()));
    });
}

QString TRequestDispatcher::HeaderLine(uint16_t messageId, uint8_t direction, uint8_t type)
{
    // Made for every request: the part after the message ID is made once for each direction
    // below 4 and type below 8 (the named ones are among them), the rest put together here.
    // Called on the main thread only.
    static QString known[4][8];
    const bool named = direction < 4 && type < 8;
    QString made;
    if (!named || known[direction][type].isNull()) {
        const QString directionName = LdtxFrame::DirectionName(direction);
        const QString typeName = LdtxFrame::MessageTypeName(type);
        made = QStringLiteral("][消息方向:%1%2[消息类型:%3%4")
                   .arg(QString::number(direction),
                        directionName.isEmpty() ? QString() : QLatin1Char(' ') + directionName + QLatin1Char(']'),
                        QString::number(type), typeName.isEmpty() ? QString() : QLatin1Char(' ') + typeName + QLatin1Char(']'));
        if (named)
            known[direction][type] = made;
    }
    const QString &tail = named ? known[direction][type] : made;
    return QStringLiteral("[消息ID:") + QString::number(messageId) + tail;
}

void TRequestDispatcher::ExecOnCommCommand(uint16_t messageId, uint8_t direction, uint8_t type, QByteArrayView payload)
{
    Link.Requests().Count(type);
    const QString header = HeaderLine(messageId, direction, type);
    Traffic.Append(header);
    if (direction != LdtxFrame::MonitorRequest && direction != LdtxFrame::MonitorReply) {
        Traffic.Append(QStringLiteral("消息方向 ERROR"));
        return;
    }
    CommAnsBuf.resize(0); // keeps its room for the next reply
    switch (type) {
    case LdtxFrame::GroupListQuery: ListingReply(type, messageId, false); break;
    case LdtxFrame::DeviceStatusQuery: ListingReply(type, messageId, true); break;
    case LdtxFrame::VoiceNotify:
        if (!Hold(messageId, payload))
            VoiceNotify(messageId, payload);
        break;
    case LdtxFrame::PhoneCall: PhoneCall(messageId, payload, header); break;
    default: break; // logged only
    }
}

bool TRequestDispatcher::Hold(uint16_t messageId, QByteArrayView payload)
{
    // A group's members are not known before the directory is read: answering 无成员 then
    // would leave an alarm unheard. Those behind it wait too, so they keep their order.
    const bool needsRows = payload.size() >= 7 && At(payload, 0) == 0;
    if (Held.empty() && !(needsRows && Directory.Copy().Awaited()))
        return false;
    Held.push_back({messageId, payload.toByteArray(), QDeadlineTimer(DirectoryWaitMs)});
    HeldCheck.start();
    return true;
}

void TRequestDispatcher::CheckHeld()
{
    Directory.Copy().Rows();
    while (!Held.empty() && (!Directory.Copy().Awaited() || Held.front().Until.hasExpired()))
        CarryOutFirstHeld();
    if (Held.empty())
        HeldCheck.stop();
}

void TRequestDispatcher::ReleaseHeld()
{
    while (!Held.empty())
        CarryOutFirstHeld();
    HeldCheck.stop();
}

void TRequestDispatcher::CarryOutFirstHeld()
{
    THeld held = std::move(Held.front());
    Held.pop_front();
    CommAnsBuf.resize(0);
    VoiceNotify(held.MessageId, held.Payload);
}

bool TRequestDispatcher::AddRow(QByteArray &reply, const QByteArray &row)
{
    // The count byte says how many rows the reply carries, and the reply always fits one frame.
    const auto rows = uint8_t(reply[0]);
    if (rows == MaxRows || reply.size() + row.size() > LdtxFrame::MaxSentPayload)
        return false;
    reply += row;
    reply[0] = char(rows + 1);
    return true;
}

void TRequestDispatcher::ListingReply(uint8_t type, uint16_t messageId, bool devices)
{
    const TDirectoryRows *rows = Directory.Copy().Rows();
    const int count = !rows ? 0 : int(devices ? rows->Phones.size() : rows->Groups.size());
    const QString summary = devices ? QStringLiteral("应答通信设备状态获取接口: 电话个数=%1").arg(count)
                                    : QStringLiteral("应答分组信息列表获取接口: 分组个数=%1").arg(count);
    TListing &listing = Listings[devices ? 1 : 0];
    if (listing.Payload.isEmpty() || listing.Generation != (rows ? rows->Generation : 0))
        BuildListing(listing, rows, devices);
    if (listing.TooLong)
        Trace.LogMon(TooLong);
    Traffic.Append(summary);
    Link.sendComm(listing.Payload, type, LdtxFrame::DispatchReply, messageId, Config.CommIpAddress, Config.CommIpPort);
}

void TRequestDispatcher::BuildListing(TListing &listing, const TDirectoryRows *rows, bool devices)
{
    QByteArray &reply = listing.Payload;
    reply = QByteArray(1, char(0));
    reply.reserve(LdtxFrame::MaxSentPayload);
    // Adds the rows while they fit; false once one was left out or the reply is full.
    const auto addAll = [this, &reply](const auto &items) {
        for (const auto &item : items)
            if (!AddRow(reply, item.Row) || reply.size() > ReplyMark)
                return false;
        return true;
    };
    listing.TooLong = rows && !(devices ? addAll(rows->Phones) : addAll(rows->Groups));
    listing.Generation = rows ? rows->Generation : 0;
}

void TRequestDispatcher::VoiceNotify(uint16_t messageId, QByteArrayView payload)
{
    if (payload.size() < 7) {
        Trace.LogMon(QStringLiteral("播放时数据长度小于10错"));
        RefuseShort(messageId, QStringLiteral("语音通知"), payload.size(), 7);
        return;
    }
    const uint8_t playType = At(payload, 0);
    const int32_t target = qFromLittleEndian<int32_t>(payload.data() + 1);
    const uint8_t mode = At(payload, 5);
    const QString content = QString::fromUtf8(payload.sliced(6, payload.size() - 7));
    const int playCount = At(payload, payload.size() - 1);
    static const QStringList Modes{QStringLiteral("播放文件"), QStringLiteral("播放预案"), QStringLiteral("播放文本")};
    const QString modeText = mode < Modes.size() ? Modes[mode] : QStringLiteral("播放类型错");

    TPlayRequest request;
    request.PlayText = content;
    request.TextMode = mode == PlayTextMode;
    request.PlayCountLabel = QString::number(playCount);
    request.Kind = QStringLiteral("语音通知");
    request.MessageId = messageId;
    request.Target = QString::number(target);
    request.Content = content;
    request.PlayCount = playCount;
    QString summary;
    if (playType == 0) {
        const TDirectoryRows *rows = Directory.Copy().Rows();
        const std::vector<const TDirectoryRows::TPhone *> members =
            rows ? rows->Members(QString::number(target)) : std::vector<const TDirectoryRows::TPhone *>();
        const int count = int(members.size());
        // One multi-argument arg: the platform's text is never read as a format.
        summary = QStringLiteral("应答语音通知接口: 组号=%1 电话个数=%2 播报内容=%3 播报次数=%4")
                      .arg(QString::number(target), QString::number(count), content, QString::number(playCount));
        request.NumberLines.append(summary);
        request.TargetName = GroupName(rows, target);
        request.TotalLabel = QString::number(count);
        request.CallTypeLabel = QStringLiteral("组号=%1").arg(target) + modeText;
        CommAnsBuf.append(char(0));
        for (const TDirectoryRows::TPhone *member : members) {
            if (!AddRow(CommAnsBuf, LdtxFrame::Le32(member->Number) + char(0))) {
                Trace.LogMon(TooLong);
                break;
            }
            request.NumberLines.append(member->Name + QLatin1Char(' ') + QString::number(member->Number));
            if (CommAnsBuf.size() > ReplyMark) {
                Trace.LogMon(TooLong);
                break;
            }
        }
        for (const TDirectoryRows::TPhone *member : members) {
            if (request.Numbers.size() >= TPlayChn::MaxNumbers)
                break;
            request.Numbers.append(member->Number);
            request.Names.append(member->Name);
        }
        if (count == 0)
            NoMembers(request);
        else
            Offer(request);
    } else if (playType == 1) {
        summary = QStringLiteral("应答语音通知接口: 指定号码=%1 播报内容=%2 播报次数=%3")
                      .arg(QString::number(target), content, QString::number(playCount));
        request.NumberLines = QStringList{summary, QString::number(target)};
        request.TotalLabel = QStringLiteral("1");
        request.CallTypeLabel = QStringLiteral("指定号码") + modeText;
        request.Numbers = {target};
        request.TargetName = PhoneName(Directory.Copy().Rows(), target);
        request.Names = {request.TargetName};
        CommAnsBuf.append(char(1));
        CommAnsBuf += LdtxFrame::Le32(target) + char(0);
        Offer(request);
    } else {
        Trace.LogMon(QStringLiteral("播放类型错:%1").arg(playType));
        return;
    }
    Traffic.Append(summary);
    SendAns(LdtxFrame::CallNotifyResult, messageId);
}

void TRequestDispatcher::NoMembers(const TPlayRequest &request)
{
    // Nothing to dial. An idle box shows what was asked; a running notification's box is left alone.
    const uint8_t state = Channels.Channel(0).State;
    if (state == ChnIdle || state == ChnBlocked)
        Channels.ShowRequest(0, request);
    Record(request, THistory::NoMembers());
    // Nobody is called: a directory or group that is not what the platform expects.
    SystemLog.Add(QStringLiteral("%1 (消息ID:%2 目标:%3) 未执行：无成员（电话号码库中没有该目标的号码）。")
                      .arg(request.Kind, QString::number(request.MessageId), request.Target));
}

void TRequestDispatcher::Offer(TPlayRequest request)
{
    // Started requests are recorded as they start (RequestStarted), queued ones also now: under
    // one entry, which their start (or their drop) then changes.
    if (History)
        request.HistoryId = History->Reserve(&request.HistoryAt);
    switch (Channels.Offer(0, request)) {
    case TPlayChannels::TOffer::Started: break;
    case TPlayChannels::TOffer::Queued: Record(request, THistory::Queued()); break;
    case TPlayChannels::TOffer::Blocked:
        Record(request, THistory::Disabled());
        SystemLog.Add(QStringLiteral("%1 (消息ID:%2 目标:%3) 未执行：第0路通道闭塞（未启用）。")
                          .arg(request.Kind, QString::number(request.MessageId), request.Target));
        break;
    case TPlayChannels::TOffer::QueueFull:
        Record(request, THistory::QueueFull());
        SystemLog.Add(QStringLiteral("%1 (消息ID:%2 目标:%3) 未执行：第0路已有 %4 条通知在排队。")
                          .arg(request.Kind, QString::number(request.MessageId), request.Target,
                               QString::number(TPlayChannels::MaxQueued)));
        break;
    }
}

void TRequestDispatcher::PhoneCall(uint16_t messageId, QByteArrayView payload, const QString &header)
{
    // A call with missing bytes would restart channel 0 and press the key of a made-up number.
    if (payload.size() < 8) {
        RefuseShort(messageId, QStringLiteral("电话呼叫"), payload.size(), 8);
        return;
    }
    const int caller = At(payload, 0) | At(payload, 1) << 8;
    const int called = At(payload, 4) | At(payload, 5) << 8;
    const QString line = header + QStringLiteral(" 电话呼叫 主叫：%1 被叫:%2").arg(QString::number(caller), QString::number(called));
    Traffic.Append(line);

    TPlayRequest request;
    request.IsCall = true;
    request.PlayText = QStringLiteral("1");
    request.Numbers = {called};
    request.TargetName = PhoneName(Directory.Copy().Rows(), called);
    request.Names = {request.TargetName};
    request.NumberLines = {line};
    request.PlayCountLabel = QStringLiteral("1");
    request.TotalLabel = QStringLiteral("1");
    request.CallTypeLabel = QStringLiteral("单呼号码=%1播放文本").arg(called);
    request.Kind = QStringLiteral("电话拨打");
    request.MessageId = messageId;
    request.Target = QString::number(called);
    request.Content = QStringLiteral("主叫%1").arg(caller);
    request.PlayCount = 1;
    Channels.Call(0, std::move(request));

    CommAnsBuf.append(char(0));
    SendAns(LdtxFrame::PhoneCall, messageId);
}

void TRequestDispatcher::Record(const TPlayRequest &request, const QString &outcome)
{
    if (!History)
        return;
    QList<THistory::TCalled> numbers;
    for (qsizetype i = 0; i < request.Numbers.size(); ++i)
        numbers.append({QString::number(request.Numbers[i]), request.Names.value(i)});
    History->Notice(request.Kind, request.MessageId, request.Target, request.Content, request.PlayCount, 0, outcome,
                    numbers, request.TargetName, request.HistoryId, request.HistoryAt);
}

void TRequestDispatcher::RefuseShort(uint16_t messageId, const QString &request, qsizetype size, int needed)
{
    SystemLog.Add(QStringLiteral("安检监控平台的%1请求 (消息ID:%2) 只有 %3 字节数据，少于 %4 字节，未执行，未应答。")
                      .arg(request, QString::number(messageId), QString::number(size), QString::number(needed)));
}

void TRequestDispatcher::SendAns(uint8_t type, uint16_t messageId)
{
    Link.sendComm(CommAnsBuf, type, LdtxFrame::DispatchReply, messageId, Config.CommIpAddress, Config.CommIpPort);
}
