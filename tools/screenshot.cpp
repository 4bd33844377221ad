// Draws the README's pictures offscreen into a folder: the main window at its design size, the
// directory window with the example site's directory imported, the main window at 1920 × 1080
// with the message panel beside the channels after a notification and a call, and 通知记录 with
// what they left there. Runs the program's own core and windows on a copy of the example site in
// a throwaway folder; the platform and the switch are stood in on loopback, so nothing leaves
// 127.0.0.1.
#include "app/main_form.h"
#include "app/varnex_core.h"
#include "directory/import_window.h"
#include "directory/init_dialogs.h"
#include "directory/tel_book_window.h"
#include "history/history_model.h"
#include "history/history_window.h"
#include "platform_link/ldtx_frame.h"
#include "widgets/exit_dialog.h"
#include "widgets/qt_texts.h"
#include "support/modal.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <cstdio>

namespace {

// Plays nothing: drawing pictures must not sound through the machine's speakers.
class TSilentPlayer : public TSoundPlayer
{
public:
    using TSoundPlayer::TSoundPlayer;
    bool Open(const QString &) override { return true; }
    void Play() override {}
    void Stop() override {}
    void Rewind() override {}
};

bool Fail(const QString &text)
{
    std::fprintf(stderr, "varnex-screenshot: %s\n", text.toLocal8Bit().constData());
    return false;
}

bool Save(QWidget &window, const QDir &out, const QString &name)
{
    QTest::qWait(300); // memos and labels settle
    const QString path = out.filePath(name);
    if (!window.grab().save(path))
        return Fail(QStringLiteral("cannot write ") + path);
    std::printf("wrote %s\n", path.toLocal8Bit().constData());
    return true;
}

// A message box a window opened (they do not block), as a failure; none is no failure.
bool NoMessage(const QWidget &window)
{
    for (const QMessageBox *box : window.findChildren<QMessageBox *>())
        if (box->isVisible())
            return Fail(window.windowTitle() + QStringLiteral(": ") + box->text());
    return true;
}

quint16 FreeUdpPort()
{
    QUdpSocket probe;
    return probe.bind(QHostAddress::AnyIPv4, 0) ? probe.localPort() : 0; // as the program binds
}

// The site's settings with both peers on this machine: the stand-ins' ports, and free receive
// ports for the program.
bool WriteSettings(const QString &siteFile, const QString &path, quint16 platformPort, quint16 switchPort)
{
    QFile site(siteFile);
    if (!site.open(QIODevice::ReadOnly | QIODevice::Text))
        return Fail(QStringLiteral("cannot read %1: %2").arg(siteFile, site.errorString()));
    const QStringList own{"CommIpAddress", "CommIpPort", "CommRecIpPort", "IpAddress", "IpAddress1", "IpPort", "RecIpPort"};
    QStringList lines;
    for (const QString &line : QString::fromUtf8(site.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (!own.contains(line.section(QLatin1Char('='), 0, 0).trimmed(), Qt::CaseInsensitive))
            lines << line;
    lines << QStringLiteral("CommIpAddress=127.0.0.1") << QStringLiteral("CommIpPort=%1").arg(platformPort)
          << QStringLiteral("CommRecIpPort=%1").arg(FreeUdpPort()) << QStringLiteral("IpAddress=127.0.0.1")
          << QStringLiteral("IpAddress1=127.0.0.1") << QStringLiteral("IpPort=%1").arg(switchPort)
          << QStringLiteral("RecIpPort=%1").arg(FreeUdpPort());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0)
        return Fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    return true;
}

// 导入 of the site's directory and 初始化组 for its groups 1 to 8, as an operator does them in
// the directory window, which is drawn before it is left.
bool DrawDirectory(TMainForm &form, const QString &csv, const QDir &out)
{
    TTelBookForm *window = form.TelBookForm;
    bool drawn = false;
    AnswerModal(window, [&] {
        TFrloadNo *import = window->FrloadNo;
        AnswerModal(import, [&] {
            import->NextFileName = csv;
            import->BrowseClick();
            import->StartImport();
            for (QMessageBox *box : import->findChildren<QMessageBox *>())
                box->close();
            import->ExitButton->click();
        });
        window->Button(QStringLiteral("导入"))->click();
        if (import->LastMessage != QStringLiteral("导入成功！")) {
            Fail(QStringLiteral("导入 %1: %2").arg(csv, import->LastMessage));
            return;
        }
        AnswerModal(form.ExitForm, [&form] { form.ExitForm->YesButton->click(); });
        AnswerModal(window->InitGroupFrom, [window] {
            window->InitGroupFrom->len->setEditText(QStringLiteral("8"));
            window->InitGroupFrom->Msg->clear();
            window->InitGroupFrom->OkButton->click();
        });
        window->Button(QStringLiteral("初始化组"))->click();
        window->Button(QStringLiteral("刷新组内用户数"))->click();
        drawn = NoMessage(*window) && Save(*window, out, QStringLiteral("directory-window.png"));
        window->Button(QStringLiteral("退出"))->click();
    });
    form.Button(QStringLiteral("TelBookBtn"))->click();
    return drawn;
}

// The monitoring platform and the switch, stood in on loopback. The switch says it is alive
// every second, as a real one does, so the program's switch link stays up.
struct TStandIns
{
    QUdpSocket Platform;
    QUdpSocket Switch;
    QTimer Alive;

    quint16 SwitchTo = 0; // the program's switch receive port

    bool Bind() { return Platform.bind(QHostAddress::LocalHost, 0) && Switch.bind(QHostAddress::LocalHost, 0); }
    void SayAlive() { Switch.writeDatagram(QByteArray(1, char(0x5A)), QHostAddress::LocalHost, SwitchTo); }
    void KeepSwitchUp(quint16 programPort)
    {
        SwitchTo = programPort;
        QObject::connect(&Alive, &QTimer::timeout, &Switch, [this] { SayAlive(); });
        Alive.start(1000);
        SayAlive();
    }
    // The platform's request; true when the program replied.
    bool Ask(quint16 programPort, uint8_t type, const QByteArray &payload, uint16_t id)
    {
        Platform.writeDatagram(LdtxFrame::Build(payload, type, LdtxFrame::MonitorRequest, id, QStringLiteral("CRC-16/MODBUS"))->Bytes,
                               QHostAddress::LocalHost, programPort);
        if (!QTest::qWaitFor([this] { return Platform.hasPendingDatagrams(); }, 3000))
            return Fail(QStringLiteral("no reply to the platform's %1").arg(LdtxFrame::MessageTypeName(type)));
        while (Platform.hasPendingDatagrams())
            Platform.receiveDatagram();
        return true;
    }
};

// The README's drill on the running program: the platform asks for the groups, has 2001 call
// 2005, then group 5 notified; each waits until its keys have left and channel 0 says 拨号. The
// eight seconds off-hook run in real time, so the history's times are true; the call's three
// minutes of dialling are ticked through instead of waited for.
bool Notify(TVarnexCore &core, TStandIns &peers)
{
    peers.KeepSwitchUp(quint16(core.Config().RecIpPort));
    if (!QTest::qWaitFor([&core] { return core.HostLink().IsUp(); }, 3000))
        return Fail(QStringLiteral("the switch link did not come up"));
    QObject scope; // the counter below is not told after this returns
    int done = 0;
    QObject::connect(&core.History(), &THistory::NoticeDone, &scope, [&done] { ++done; });
    const TPlayChn &channel = core.Channels().Channel(0);
    const auto dialling = [&done, &channel](int count) {
        return QTest::qWaitFor([&] { return done >= count && channel.State == ChnDialing
                                            && channel.StatusCaption.startsWith(QStringLiteral("拨号")); },
                               (TPlayChannels::OffHookTicks + 4) * 1000)
            || Fail(QStringLiteral("no keys left for the switch"));
    };
    const auto hangUp = [&core, &peers, &channel] {
        for (int tick = 0; channel.State == ChnDialing; ++tick) {
            if (tick % (THostLink::SilentTicks / 2) == 0) {
                // The switch is heard between the ticks, as it would be in those minutes.
                peers.SayAlive();
                if (!QTest::qWaitFor([&core] { return core.HostLink().HostLinkCountdown() == THostLink::SilentTicks; }, 3000))
                    return Fail(QStringLiteral("the switch went silent"));
            }
            core.Timer1Timer();
        }
        return true;
    };
    const quint16 port = quint16(core.Config().CommRecIpPort);
    QByteArray call(8, 0);
    qToLittleEndian<uint16_t>(2001, call.data());
    qToLittleEndian<uint16_t>(2005, call.data() + 4);
    const QByteArray notice = QByteArray(1, char(0)) + LdtxFrame::Le32(5) + char(2)
        + QStringLiteral("3号工作面瓦斯超限，请立即撤离").toUtf8() + char(1);
    const bool ok = peers.Ask(port, LdtxFrame::GroupListQuery, {}, 1) && peers.Ask(port, LdtxFrame::PhoneCall, call, 2)
        && dialling(1) && hangUp() && peers.Ask(port, LdtxFrame::VoiceNotify, notice, 3) && dialling(2);
    if (ok && !peers.Switch.hasPendingDatagrams())
        return Fail(QStringLiteral("the switch stand-in got no key commands"));
    return ok;
}

// 通知记录 once the call and the notification are in the list with the time their keys left,
// and the totals; as wide as its columns, as an operator would make it to see them all.
bool DrawHistory(TMainForm &form, const QDir &out)
{
    form.Button(QStringLiteral("HistoryBtn"))->click();
    THistoryWindow *window = form.HistoryWindow;
    const auto complete = [window] {
        int sent = 0;
        for (int row = 0; row < window->Model->rowCount(); ++row)
            sent += !window->Model->EntryAt(row).IsEvent() && window->Model->EntryAt(row).SentAt.isValid();
        return sent == 2;
    };
    if (!QTest::qWaitFor(complete, 5000))
        return Fail(QStringLiteral("通知记录 does not list the call and the notification"));
    window->ShowTotals();
    if (!QTest::qWaitFor([window] { return window->Totals->rowCount() > 0; }, 5000))
        return Fail(QStringLiteral("通知记录 shows no totals"));
    const int hidden = window->Grid->horizontalHeader()->length() - window->Grid->viewport()->width();
    window->resize(window->width() + std::max(0, hidden), 440);
    if (!QTest::qWaitFor([window] { return window->Grid->horizontalScrollBar()->maximum() == 0; }, 2000))
        return Fail(QStringLiteral("通知记录's columns do not fit"));
    window->Grid->setFocus();
    return Save(*window, out, QStringLiteral("history-window.png"));
}

// The program on a copy of the site in folder, drawn into out.
bool Run(const QDir &site, const QDir &out, const QTemporaryDir &folder)
{
    if (!out.exists() && !QDir().mkpath(out.path()))
        return Fail(QStringLiteral("cannot make ") + out.path());
    // The stand-ins listen first, so the settings can name their ports.
    TStandIns peers;
    if (!peers.Bind())
        return Fail(QStringLiteral("cannot bind on 127.0.0.1"));
    TCoreOptions options;
    options.SettingsPath = folder.filePath(QStringLiteral("Zelvane.conf"));
    if (!WriteSettings(site.filePath(QStringLiteral("Zelvane.conf")), options.SettingsPath, peers.Platform.localPort(),
                       peers.Switch.localPort()))
        return false;
    options.KeyFile = folder.filePath(QStringLiteral("key.dat"));
    if (!QFile::copy(site.filePath(QStringLiteral("key.dat")), options.KeyFile))
        return Fail(QStringLiteral("cannot copy key.dat from ") + site.path());
    options.ProgramDir = folder.path();
    options.SoundDir = QCoreApplication::applicationDirPath();
    TSilentPlayer player;
    options.Player = &player;

    TVarnexCore core(options);
    TMainForm form(core);
    core.FormCreate();
    if (!core.StartupErrors().isEmpty())
        return Fail(core.StartupErrors().join(QStringLiteral("; ")));
    form.resize(TMainForm::DesignSize());
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return Fail(QStringLiteral("the main window is not shown"));
    bool ok = Save(form, out, QStringLiteral("main-window.png"))
        && DrawDirectory(form, site.filePath(QStringLiteral("directory.csv")), out);
    if (ok) {
        core.StartTimers();
        ok = Notify(core, peers);
    }
    if (ok) {
        form.resize(1920, 1080);
        form.Button(QStringLiteral("OpenMsgBtn"))->click();
        ok = Save(form, out, QStringLiteral("main-window-wide.png")) && DrawHistory(form, out);
    }
    core.FormDestroy();
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: varnex-screenshot SITE_FOLDER OUT_FOLDER\n"
                             "  SITE_FOLDER holds Zelvane.conf, key.dat and directory.csv (share/examples/site)\n");
        return 2;
    }
    QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", folder.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UseChineseQtTexts();
    return Run(QDir(QString::fromLocal8Bit(argv[1])), QDir(QString::fromLocal8Bit(argv[2])), folder) ? 0 : 1;
}
