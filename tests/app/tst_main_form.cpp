#include "platform_link/input_play_dialog.h"
#include "channels/channel_box.h"
#include "keyboard/key_grid.h"
#include "widgets/exit_dialog.h"
#include "common/line_log.h"
#include "widgets/log_memo.h"
#include "widgets/messages.h"
#include "app/main_form.h"
#include "app/varnex_core.h"
#include "app/watch_panel.h"
#include "support/modal.h"
#include "support/test_support.h"
#include "support/window_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TstMainForm : public QObject, private TWindowFixture
{
    Q_OBJECT


private Q_SLOTS:
    void init()
    {
        NewFolder();
        StartProgram();
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    }
    void cleanup()
    {
        StopProgram();
    }

    // A program of a standby pair shows its part in the title bar and the status bar, and
    // follows each change; a program alone shows neither.
    void roleShowsInTitleAndStatusBar_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("told"); // -1: not told
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("label"); // empty: hidden
        QTest::newRow("alone") << QString() << -1 << TMainForm::Title() << QString();
        QTest::newRow("pair at start") << "Role=pair" << -1 << TMainForm::Title() + " [备用]" << "备用";
        QTest::newRow("pair master") << "Role=pair" << int(TRole::Master) << TMainForm::Title() + " [主用]" << "主用";
        QTest::newRow("pair fault") << "Role=pair" << int(TRole::Fault) << TMainForm::Title() + " [故障]" << "故障";
    }
    void roleShowsInTitleAndStatusBar()
    {
        QFETCH(QString, setting);
        QFETCH(int, told);
        QFETCH(QString, title);
        QFETCH(QString, label);
        NewFolder();
        StartProgram(setting.isEmpty() ? QStringList{} : QStringList{setting});
        Form->show();
        if (told >= 0)
            QCOMPARE(Core->PairRole().Change(TRole(told), QStringLiteral("test")), QString());
        QCOMPARE(Form->windowTitle(), title);
        QCOMPARE(Form->RoleLabel->isVisible(), !label.isEmpty());
        if (!label.isEmpty())
            QCOMPARE(Form->RoleLabel->text(), label);
    }

    // Lines reach a memo in batches, in order; at the bottom it follows them, scrolled up it
    // stays where the operator left it.
    void memosShowLinesInBatches()
    {
        TLineLog log(QStringLiteral("first"));
        TLogMemo memo(log);
        memo.resize(300, 100);
        memo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&memo));
        for (int i = 0; i < 3000; ++i)
            log.Add(QString::number(i));
        QCOMPARE(memo.LineCount(), 1); // nothing shown line by line
        QTRY_COMPARE_WITH_TIMEOUT(memo.LineCount(), 3001, 1000);
        QCOMPARE(memo.Line(3000), QStringLiteral("2999"));
        QCOMPARE(memo.Line(1), QStringLiteral("0"));
        QScrollBar *bar = memo.verticalScrollBar();
        QTRY_COMPARE(bar->value(), bar->maximum());

        bar->setValue(10);
        log.Add(QStringLiteral("later"));
        memo.Flush();
        QCOMPARE(bar->value(), 10);
        bar->setValue(bar->maximum());
        log.Add(QStringLiteral("newest"));
        memo.Flush();
        QTRY_COMPARE(bar->value(), bar->maximum());
        QCOMPARE(memo.Line(memo.LineCount() - 1), QStringLiteral("newest"));

        // The log's cap holds for the memo too, and a long line can be scrolled to.
        for (int i = 0; i < int(TLineLog::MaxLines); ++i)
            log.Add(QString(500, QLatin1Char('A')));
        memo.Flush();
        QCOMPARE(memo.LineCount(), int(TLineLog::MaxLines));
        QVERIFY(memo.horizontalScrollBar()->maximum() > 0);
        log.Clear();
        QCOMPARE(memo.LineCount(), 0);
    }

    void opensWithTitleAndCaptions()
    {
        QCOMPARE(Form->windowTitle(), QStringLiteral("Varnex 煤炭安全监控系统联动控制通讯平台"));
        QCOMPARE(Form->findChild<QLabel *>(QStringLiteral("BannerCaption"))->text(),
                 QStringLiteral("Varnex 煤炭安全监控系统联动控制通讯平台 "));
        QCOMPARE(Form->display->text(), QStringLiteral("调度主机通讯状态:通讯中断"));
        QCOMPARE(Form->CommConectedIp->text(), QStringLiteral("安检监控平台通讯状态:通讯中断"));
        QCOMPARE(Form->RecCommandShow->text(), QStringLiteral("模块: 0  行号: 8  列号:4 振铃"));
        QCOMPARE(Form->DisplayCheckBox->text(), QStringLiteral("显示调度主机消息"));
        QVERIFY(!Form->DisplayCheckBox->isChecked());
        QCOMPARE(Form->LogMemo->toPlainText().section(QLatin1Char('\n'), 0, 0), QStringLiteral("系统运行消息"));
        QCOMPARE(Form->Panel2->width(), 143);
        QCOMPARE(Form->ChannelArea->width(), 1222);
        QVERIFY(Form->watchPanel->isHidden());
        QCOMPARE(Form->watchPanel->DialNumEdit->text(), QStringLiteral("2005"));
        QCOMPARE(Form->watchPanel->CommMsg->toPlainText(), QStringLiteral("消息发包显示"));

        QStringList groups;
        for (const QGroupBox *box : Form->Panel2->findChildren<QGroupBox *>())
            groups << box->title();
        QCOMPARE(groups, (QStringList{"通信IP地址设置", "数据设置", "自环测试", "Watch Massegw"}));
    }

    void buttons_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("hint");
        QTest::newRow("host settings") << "HostCommSetBtn" << "主机侧通讯设置" << "";
        QTest::newRow("platform settings") << "MonitorCommSetBtn" << "安检侧通讯设置" << "";
        QTest::newRow("channels") << "SetChnBtn" << "通道设置" << "";
        QTest::newRow("directory") << "TelBookBtn" << "编组号码设置" << "";
        QTest::newRow("key data") << "KeyDataBtn" << "键位数据显示" << "从维护终端将key.dat拷入";
        QTest::newRow("history") << "HistoryBtn" << "通知记录" << "查看、筛选和导出通知与通讯事件的记录";
        QTest::newRow("group list test") << "GroupListTestBtn" << "分组信息列表获取" << "模拟对端系统发码测试";
        QTest::newRow("device status test") << "DeviceStatusTestBtn" << "设备状态获取" << "模拟对端系统发码测试";
        QTest::newRow("phone call test") << "PhoneCallTestBtn" << "电话拨打" << "电话拨打";
        QTest::newRow("voice notify test") << "VoiceNotifyTestBtn" << "组呼语音通知" << "播放语音通知";
        QTest::newRow("open messages") << "OpenMsgBtn" << "打开消息显示" << "";
        QTest::newRow("close messages") << "CloseMsgBtn" << "关闭消息显示" << "";
        QTest::newRow("clear messages") << "ClearMsgBtn" << "清空消息显示" << "";
    }
    void buttons()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, hint);
        QPushButton *button = Form->Button(name);
        QVERIFY(button);
        QCOMPARE(button->text(), caption);
        QCOMPARE(button->toolTip(), hint);
        QCOMPARE(button->size(), QSize(121, 35));
    }

    void messageDisplayButtons()
    {
        TTrafficLog &traffic = Core->CommMsg();
        traffic.Append(QStringLiteral("line collected while hidden"));
        QTest::mouseClick(Form->Button(QStringLiteral("OpenMsgBtn")), Qt::LeftButton);
        QVERIFY(Form->watchPanel->isVisible());
        QCOMPARE(Form->watchPanel->geometry(), QRect(152, 48, 609, 641));
        QCOMPARE(Form->watchPanel->CommMsg->toPlainText(), QStringLiteral("消息发包显示\nline collected while hidden"));

        QTest::mouseClick(Form->Button(QStringLiteral("CloseMsgBtn")), Qt::LeftButton);
        QVERIFY(Form->watchPanel->isHidden());
        QVERIFY(traffic.Shown()); // still collecting
        traffic.Append(QStringLiteral("second"));
        QTest::mouseClick(Form->Button(QStringLiteral("ClearMsgBtn")), Qt::LeftButton);
        QCOMPARE(traffic.Lines(), QStringList());
        QCOMPARE(Form->watchPanel->CommMsg->toPlainText(), QString());

        QTest::mouseClick(Form->DisplayCheckBox, Qt::LeftButton, {}, QPoint(5, Form->DisplayCheckBox->height() / 2));
        QVERIFY(traffic.HostMessagesShown());

        // Opened again after a burst, the memo shows the newest lines and follows new ones.
        QTest::mouseClick(Form->Button(QStringLiteral("CloseMsgBtn")), Qt::LeftButton);
        for (int i = 0; i < 500; ++i)
            traffic.Append(QStringLiteral("line %1").arg(i));
        QTest::mouseClick(Form->Button(QStringLiteral("OpenMsgBtn")), Qt::LeftButton);
        QScrollBar *bar = Form->watchPanel->CommMsg->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        QTRY_COMPARE(bar->value(), bar->maximum());
        traffic.Append(QStringLiteral("newest"));
        QTRY_COMPARE(Form->watchPanel->CommMsg->Line(Form->watchPanel->CommMsg->LineCount() - 1), QStringLiteral("newest"));
        QTRY_COMPARE(bar->value(), bar->maximum());
    }

    // The message panel and the key grid go beside the channels where the window has room for
    // them, and keep their design place, over the channels, where it has not.
    void overlaysBesideTheChannels_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("designPlace");
        QTest::newRow("1366×768, narrower than the design") << QSize(1366, 768) << true;
        QTest::newRow("design size") << TMainForm::DesignSize() << true;
        QTest::newRow("1920×1080") << QSize(1920, 1080) << false;
        QTest::newRow("2560×1440") << QSize(2560, 1440) << false;
        QTest::newRow("1920×700, the channels scroll") << QSize(1920, 700) << false;
    }
    void overlaysBesideTheChannels()
    {
        QFETCH(QSize, size);
        QFETCH(bool, designPlace);
        Form->resize(size);
        QWidget *central = Form->centralWidget();
        QTRY_COMPARE(central->width(), size.width());
        const auto place = [central](const QWidget *w) { return QRect(w->mapTo(central, QPoint()), w->size()); };

        QTest::mouseClick(Form->Button(QStringLiteral("OpenMsgBtn")), Qt::LeftButton);
        const QRect watch = place(Form->watchPanel);
        QVERIFY(Form->watchPanel->rect().contains(Form->watchPanel->CommMsg->geometry())); // the memo inside its panel
        QTest::mouseClick(Form->Button(QStringLiteral("CloseMsgBtn")), Qt::LeftButton);
        Form->ShowKeyboard();
        const QList<QRect> grid{place(Form->tablename), place(Form->table), place(Form->KeySearchEdit),
                                place(Form->KeySearchNote)};

        if (designPlace) {
            QCOMPARE(watch, QRect(152, 48, 609, 641));
            QCOMPARE(grid[0].topLeft(), QPoint(244, 140));
            QCOMPARE(grid[1], QRect(152, 172, central->width() - 160, 270));
            QCOMPARE(grid[2], QRect(152, 446, 300, 24));
            QCOMPARE(grid[3], QRect(458, 446, 300, 24));
            return;
        }
        // Inside the channel area's view: neither the status bar nor a scroll bar covered.
        const QRect view = place(Form->RunPanel->viewport());
        for (const QRect &overlay : QList<QRect>{watch} + grid) {
            QVERIFY2(view.contains(overlay), qPrintable(QStringLiteral("%1,%2 %3×%4")
                                                            .arg(overlay.x()).arg(overlay.y())
                                                            .arg(overlay.width()).arg(overlay.height())));
            for (const TChannelBox *box : Form->ChannelBoxes)
                QVERIFY2(!overlay.intersects(place(box)), qPrintable(QStringLiteral("channel %1").arg(Form->ChannelBoxes.indexOf(box))));
        }
        // The grid's parts do not cover one another either.
        for (int i = 0; i < grid.size(); ++i)
            for (int j = i + 1; j < grid.size(); ++j)
                QVERIFY2(!grid[i].intersects(grid[j]), qPrintable(QStringLiteral("parts %1 and %2").arg(i).arg(j)));
    }

    void statusFollowsTheCore()
    {
        Core->PlatformLink().CommToMonitorUDPRead(QByteArray("x"), QStringLiteral("10.9.9.9"));
        QCOMPARE(Form->CommConectedIp->text(), QStringLiteral("安检监控平台通讯状态:不正确IP 10.9.9.9"));
        QCOMPARE(Form->CommConectedIp->palette().color(QPalette::WindowText), QColor(Qt::red));
    }

    // A platform that sends nothing for CommSilenceSeconds is shown quiet, in grey, with the
    // seconds since its last datagram: nothing is known to be wrong, and nothing goes into the
    // history. Red stays for what is: replies that cannot be sent.
    void platformQuietAndWrong_data()
    {
        QTest::addColumn<int>("silenceSeconds");
        QTest::newRow("default 60 s") << 60;
        QTest::newRow("0 turns it off") << 0;
    }
    void platformQuietAndWrong()
    {
        QFETCH(int, silenceSeconds);
        Core->Config().CommSilenceSeconds = silenceSeconds;
        TPlatformLink &link = Core->PlatformLink();
        const QColor green(0x00, 0x80, 0x00);
        const QString up = QStringLiteral("安检监控平台通讯状态:连上 ") + Core->Config().CommIpAddress;
        const auto colour = [this] { return Form->CommConectedIp->palette().color(QPalette::WindowText); };
        const int memo = int(Core->LogMemo().Lines().size());
        link.CommToMonitorUDPRead(QByteArray("x"), Core->Config().CommIpAddress);
        QCOMPARE(Form->CommConectedIp->text(), up);
        QCOMPARE(colour(), green);
        link.Supervise(link.ClockMs() + 59000);
        QCOMPARE(Form->CommConectedIp->text(), up);
        link.Supervise(link.ClockMs() + 61000);
        QVERIFY(link.IsUp());
        if (silenceSeconds > 0) {
            QCOMPARE(Form->CommConectedIp->text(), QStringLiteral("安检监控平台通讯状态:无数据 61 秒"));
            QCOMPARE(colour(), QColor(0x60, 0x60, 0x60));
            QCOMPARE(link.Health(), TPlatformLink::THealth::Quiet);
        } else {
            QCOMPARE(colour(), green);
        }
        QCOMPARE(Core->LogMemo().Lines().size(), memo);
        link.CommToMonitorUDPRead(QByteArray("x"), Core->Config().CommIpAddress);
        QCOMPARE(Form->CommConectedIp->text(), up);
        QCOMPARE(colour(), green);

        // Replies that cannot leave: red until one does.
        QVERIFY(!link.sendComm(QByteArray(1, '\0'), 0, 1, 1, QStringLiteral("0.0.0.0"), 0));
        QCOMPARE(Form->CommConectedIp->text(), TPlatformLink::SendFailedText());
        QCOMPARE(colour(), QColor(Qt::red));
        QVERIFY(link.sendComm(QByteArray(1, '\0'), 0, 1, 1, QStringLiteral("127.0.0.1"), 9));
        QCOMPARE(Form->CommConectedIp->text(), up);
        QCOMPARE(colour(), green);
        // The switch link's label too.
        QCOMPARE(Form->display->palette().color(QPalette::WindowText), QColor(Qt::red));
        Core->HostLink().CommToPabxUDPRead(QByteArray("alive"), Core->Config().IpAddress);
        QCOMPARE(Form->display->palette().color(QPalette::WindowText), green);
    }

    void startupErrorsInOneBox()
    {
        Form->ShowStartupErrors({QStringLiteral("设置值 IpPort = \"x\" 不是十进制整数"), QStringLiteral("端口 1 无法打开")});
        QMessageBox *box = nullptr;
        QTRY_VERIFY((box = Form->findChild<QMessageBox *>(QStringLiteral("StartupErrorBox"))) && box->isVisible());
        QVERIFY(box->text().contains(QStringLiteral("IpPort")));
        QVERIFY(box->text().contains(QStringLiteral("端口 1")));
        box->accept();
    }

    void testRequestButtons()
    {
        TTestRequests &requests = Core->TestRequests();
        QTest::mouseClick(Form->watchPanel->TestCrcBtn, Qt::LeftButton);
        QTRY_COMPARE(Form->watchPanel->SndCrcEdit->text(), QStringLiteral("0X616D/24941"));
        QCOMPARE(requests.CommMsgId, uint16_t(0));
        Form->watchPanel->DialNumEdit->setText(QStringLiteral("abc"));
        for (const char *name : {"GroupListTestBtn", "DeviceStatusTestBtn", "PhoneCallTestBtn"})
            QTest::mouseClick(Form->Button(QString::fromLatin1(name)), Qt::LeftButton);
        QCOMPARE(requests.CommMsgId, uint16_t(3));
        QVERIFY(Core->CommMsg().Lines().last().startsWith(
            QStringLiteral("发送:4C 44 54 58 0C 00 02 00 00 06 D1 07 00 00 00 00 00 00 ")));
    }

    void voiceNotifyDialog()
    {
        TInputPlayFrom *dialog = Form->InputPlayFrom;
        QCOMPARE(dialog->windowTitle(), QStringLiteral("初始化用户参数"));
        QCOMPARE(dialog->PlayTypeBox->currentText(), QStringLiteral("0"));
        QCOMPARE(dialog->GroupOrNumberBox->currentText(), QStringLiteral("1"));
        QCOMPARE(dialog->GroupOrNumberBox->count(), 19);
        QCOMPARE(dialog->PlayTxtTypeBox->currentText(), QStringLiteral("2"));
        QCOMPARE(dialog->PlayTimesBox->count(), 6);
        QCOMPARE(dialog->PlayTxtEdit->text(), QStringLiteral("瓦斯监测联动测试，请挂机"));
        QCOMPARE(dialog->PlayTypeBox->toolTip(), QStringLiteral("0：分组拨打1：指定号码"));

        const auto answer = [dialog](const std::function<void()> &act) {
            AnswerModal(dialog, act);
            QTest::mouseClick(dialog->parentWidget()->findChild<QPushButton *>(QStringLiteral("VoiceNotifyTestBtn")),
                              Qt::LeftButton);
        };
        answer([dialog] { dialog->OkButton->click(); });
        QCOMPARE(Core->TestRequests().CommMsgId, uint16_t(1));
        QVERIFY(Core->CommMsg().Lines().last().startsWith(QStringLiteral("发送:4C 44 54 58 2F 00 00 00 00 02 ")));

        answer([dialog] { dialog->GroupOrNumberBox->setEditText(QString()); dialog->OkButton->click(); });
        QCOMPARE(Core->TestRequests().CommMsgId, uint16_t(1)); // nothing sent
        QMessageBox *box = nullptr;
        QTRY_VERIFY((box = Form->findChild<QMessageBox *>(QStringLiteral("MessageBox"))));
        QVERIFY(box->text().contains(QStringLiteral("组号或号码")));
        box->accept();

        answer([dialog] { dialog->GroupOrNumberBox->setEditText(QStringLiteral("2")); }); // closed: cancel
        QCOMPARE(Core->TestRequests().CommMsgId, uint16_t(1));
    }

    // A short text makes a narrow box, whose title a window manager with narrow dialogs cut to
    // "提…": the boxes are wide enough for their whole title beside a title bar's icon and buttons.
    void boxesFitTheirTitle_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("提示") << "提示" << "好";
        QTest::newRow("提示信息") << "提示信息" << "EXCEL数据导出成功!";
        QTest::newRow("启动错误") << "启动错误" << "端口 1 无法打开";
        QTest::newRow("是否选择") << "是否选择" << QString(); // the shared yes/no question
    }
    void boxesFitTheirTitle()
    {
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFont font = QApplication::font("QMdiSubWindowTitleBar");
        font.setBold(true);
        // An icon and three buttons of a title bar, about 32 px each, and a margin either side.
        const int needed = QFontMetrics(font).horizontalAdvance(title) + 4 * 32 + 2 * 16;
        if (text.isEmpty()) {
            TExitForm dialog;
            QCOMPARE(dialog.windowTitle(), title);
            QVERIFY2(dialog.width() >= needed, qPrintable(QStringLiteral("%1 < %2").arg(dialog.width()).arg(needed)));
            return;
        }
        QMessageBox *box = OpenMessage(Form.get(), QMessageBox::Information, title, text);
        QVERIFY(QTest::qWaitForWindowExposed(box));
        QVERIFY2(box->width() >= needed, qPrintable(QStringLiteral("%1 < %2").arg(box->width()).arg(needed)));
        QCOMPARE(box->text(), text);
        box->accept();
    }

    void exitForm_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("answer");
        QTest::newRow("是") << "yes" << true;
        QTest::newRow("Enter") << "enter" << true;
        QTest::newRow("否") << "no" << false;
        QTest::newRow("Esc") << "escape" << false;
        QTest::newRow("close box") << "close" << false;
    }
    void exitForm()
    {
        QFETCH(QString, action);
        QFETCH(bool, answer);
        TExitForm dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("是否选择"));
        bool yesHadFocus = false;
        // Answer from inside the modal loop; whatever happens the dialog is closed, so nothing blocks.
        QTimer::singleShot(0, &dialog, [&] {
            (void)QTest::qWaitFor([&] { return dialog.isVisible(); });
            yesHadFocus = dialog.focusWidget() == dialog.YesButton;
            if (action == QLatin1String("yes"))
                QTest::mouseClick(dialog.YesButton, Qt::LeftButton);
            else if (action == QLatin1String("no"))
                QTest::mouseClick(dialog.NoButton, Qt::LeftButton);
            else if (action == QLatin1String("enter"))
                QTest::keyClick(&dialog, Qt::Key_Return);
            else if (action == QLatin1String("escape"))
                QTest::keyClick(&dialog, Qt::Key_Escape);
            dialog.close();
        });
        QCOMPARE(dialog.Ask(QStringLiteral("是否进行初始化？")), answer);
        QCOMPARE(dialog.Label->text(), QStringLiteral("是否进行初始化？"));
        QCOMPARE(dialog.Answer(), answer);
        QVERIFY(yesHadFocus);
        QCOMPARE(dialog.y(), dialog.screen()->availableGeometry().y() + 130);
    }
};

QTEST_MAIN(TstMainForm)
#include "tst_main_form.moc"
