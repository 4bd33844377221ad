#include "channels/channel_box.h"
#include "channels/channel_settings_dialog.h"
#include "history/history.h"
#include "history/notice_detail_dialog.h"
#include "platform_link/ldtx_frame.h"
#include "widgets/log_memo.h"
#include "app/main_form.h"
#include "support/modal.h"
#include "support/test_support.h"
#include "support/window_fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QScrollBar>
#include <QTest>
#include <QTableWidget>
#include <QTimer>
#include <QUdpSocket>

class TstChannelWindows : public QObject, private TWindowFixture
{
    Q_OBJECT


    // Opens the channel settings through the button, lets `answer` act on the dialog, and waits
    // until the action has finished.
    void ChannelSettings(const std::function<void(TSetChnFrom &)> &answer)
    {
        TSetChnFrom *dialog = Form->SetChnFrom;
        AnswerModal(dialog, [dialog, answer] { answer(*dialog); });
        Form->Button(QStringLiteral("SetChnBtn"))->click();
    }

private Q_SLOTS:
    void init()
    {
        NewFolder();
        StartProgram({QStringLiteral("ifUse2=是"), QStringLiteral("CallerNumber2=2003")});
        Form->show();
    }
    void cleanup()
    {
        StopProgram();
    }

    void boxesAtStart()
    {
        QCOMPARE(Form->ChannelBoxes.size(), 8);
        for (int i = 0; i < 8; ++i) {
            const TChannelBox *box = Form->ChannelBoxes[i];
            QCOMPARE(box->title(), QStringLiteral("第%1路").arg(i));
            QCOMPARE(box->DetailButton->text(), QStringLiteral("%1路详情").arg(i));
            QCOMPARE(box->size(), QSize(297, 321));
            QCOMPARE(box->pos(), QPoint(QList<int>{2, 306, 611, 915}[i % 4], i < 4 ? 0 : 330));
            QCOMPARE(box->StatusPanel->text(), i == 2 ? QStringLiteral("空闲") : QStringLiteral("闭塞"));
            QCOMPARE(box->CallerLabel->text(), i == 2 ? QStringLiteral("2003") : QString());
            QCOMPARE(box->StartTimeLabel->text(), QString());
            QCOMPARE(box->CallTypeLabel->text(), QString());
            for (const QLabel *zero : {box->PlayCountLabel, box->TotalLabel, box->RingLabel, box->OffHookLabel, box->HungUpLabel})
                QCOMPARE(zero->text(), QStringLiteral("0"));
            QCOMPARE(box->TextMemo->toPlainText(), QStringLiteral("播放的文字显示"));
            QCOMPARE(box->NumberMemo->toPlainText(), QStringLiteral("播放的号码显示"));
        }
    }

    void boxFollowsItsChannel()
    {
        TPlayChn &chn = Core->Channels().Channel(2);
        chn.PlayText = QStringLiteral("撤离5");
        Core->Channels().PlayManager(PlayStart, 2);
        const TChannelBox *box = Form->ChannelBoxes[2];
        QCOMPARE(box->StatusPanel->text(), QStringLiteral("摘机  8"));
        QCOMPARE(box->StatusPanel->palette().color(QPalette::Window), QColor(0xFF, 0, 0));
        QCOMPARE(box->TextMemo->toPlainText(), QStringLiteral("撤离5"));
        // The longest call type shows whole.
        const QString longest = QStringLiteral("单呼号码=20051234播放文本");
        box->CallTypeLabel->setText(longest);
        QVERIFY(box->CallTypeLabel->width() >= box->CallTypeLabel->fontMetrics().horizontalAdvance(longest));
        Core->Timer1Timer();
        QCOMPARE(box->StatusPanel->text(), QStringLiteral("摘机  7"));
        QCOMPARE(Form->ChannelBoxes[1]->StatusPanel->text(), QStringLiteral("闭塞"));
        QCOMPARE(Form->RecCommandShow->text(), QStringLiteral("模块: 0  行号: 8  列号:4 振铃"));
        Core->HostLink().SendData(0, 0, 3);
        QCOMPARE(Form->RecCommandShow->text(), QStringLiteral("未发送(主机中断):4     组0 行3 列0"));
        QVERIFY(Form->RecCommandShow->fontMetrics().horizontalAdvance(Form->RecCommandShow->text())
                <= Form->RecCommandShow->contentsRect().width());
        Core->HostLink().CommToPabxUDPRead(QByteArray("alive"), Core->Config().IpAddress);
        Core->HostLink().SendData(0, 0, 3);
        QCOMPARE(Form->RecCommandShow->text(), QStringLiteral("发送:4     组0 行3 列0"));
    }

    // A long notification text wraps in its box: it is read whole, nothing is off to the side.
    void longTextWraps()
    {
        Form->show();
        TPlayChn &chn = Core->Channels().Channel(2);
        chn.PlayText = QStringLiteral("3号综采工作面回风巷瓦斯浓度超限，请井下全体人员立即停止作业，沿避灾路线撤离到地面");
        Core->Channels().PlayManager(PlayStart, 2);
        TLogMemo *memo = Form->ChannelBoxes[2]->TextMemo;
        memo->Flush();
        QCOMPARE(memo->toPlainText(), chn.PlayText);
        QCOMPARE(memo->horizontalScrollBar()->maximum(), 0);
        const QRect row = memo->visualRect(memo->model()->index(0, 0));
        QVERIFY2(row.height() >= 2 * memo->fontMetrics().height(), qPrintable(QString::number(row.height())));
        QVERIFY(row.width() <= memo->viewport()->width());
    }

    // "n路详情" shows the channel's last notification: numbers, names, key positions, sent times.
    void detailShowsTheLastNotification()
    {
        Form->ChannelBoxes[1]->DetailButton->click();
        QVERIFY(Form->NoticeDetail->isVisible());
        QCOMPARE(Form->NoticeDetail->Summary->text(), QStringLiteral("该通道还没有通知。"));

        Core->History().Notice(QStringLiteral("语音通知"), 7, QStringLiteral("5"), QStringLiteral("撤离"), 2, 0,
                               THistory::Started(), {{QStringLiteral("2001"), QStringLiteral("井口")}});
        Form->ChannelBoxes[0]->DetailButton->click();
        QCOMPARE(Form->NoticeDetail->windowTitle(), QStringLiteral("0路详情"));
        QVERIFY(Form->NoticeDetail->Summary->text().contains(QStringLiteral("按键尚未发出")));
        QCOMPARE(Form->NoticeDetail->Numbers->rowCount(), 1);
        QCOMPARE(Form->NoticeDetail->Numbers->item(0, 1)->text(), QStringLiteral("井口"));
        QCOMPARE(Form->NoticeDetail->Numbers->item(0, 2)->text(), QStringLiteral("无键位")); // no key.dat here
        // Counted and marked out, so a keyless number is not missed at the end of a long list.
        QVERIFY2(Form->NoticeDetail->Summary->text().contains(QStringLiteral("1 个号码无键位")),
                 qPrintable(Form->NoticeDetail->Summary->text()));
        QCOMPARE(Form->NoticeDetail->Numbers->item(0, 0)->background().color(), QColor(0xFF, 0xD0, 0xD0));
        Core->History().KeysSent(0, true); // follows while open
        QVERIFY(Form->NoticeDetail->Summary->text().contains(QStringLiteral("按键发出于")));
        QCOMPARE(Form->NoticeDetail->Numbers->item(0, 3)->text(), QString()); // a number without a key is never sent
    }

    // After a restart, n路详情 shows the channel's last notification as the history has it, the
    // target and the called numbers named from the directory.
    void detailAfterRestart_data()
    {
        QTest::addColumn<uint8_t>("type");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("numbers"); // number|name per row
        QByteArray call(8, 0);
        call[0] = char(2009 & 0xFF);
        call[1] = char(2009 >> 8);
        call[4] = char(2002 & 0xFF);
        call[5] = char(2002 >> 8);
        QTest::newRow("notification to a group")
            << uint8_t(LdtxFrame::VoiceNotify) << QByteArray(QByteArray(1, char(0)) + LdtxFrame::Le32(5) + char(2) + "go" + char(2))
            << QStringLiteral("对象 5（一采区）") << QStringList{"2001|井口", "2002|泵房"};
        QTest::newRow("phone call")
            << uint8_t(LdtxFrame::PhoneCall) << call << QStringLiteral("对象 2002（泵房）") << QStringList{"2002|泵房"};
    }
    void detailAfterRestart()
    {
        QFETCH(uint8_t, type);
        QFETCH(QByteArray, payload);
        QFETCH(QString, target);
        QFETCH(QStringList, numbers);
        QUdpSocket platform;
        QVERIFY(platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        const QStringList settings{QStringLiteral("CommIpPort=%1").arg(platform.localPort()), QStringLiteral("ifUse0=是")};
        NewFolder();
        StartProgram(settings);
        Core->Directory().AddTelNumber(QStringLiteral("2001"), QStringLiteral("井口"), {}, {"5"}, QStringLiteral("0"), {});
        Core->Directory().AddTelNumber(QStringLiteral("2002"), QStringLiteral("泵房"), {}, {"5"}, QStringLiteral("0"), {});
        QVERIFY(Core->Directory().Query().Execute(
            QStringLiteral("insert into \"Group\"(GroupNum, sequence, GroupName) values (5, 1, '一采区')")));
        const int reply = type == LdtxFrame::PhoneCall ? int(LdtxFrame::PhoneCall) : int(LdtxFrame::CallNotifyResult);
        QCOMPARE(TestSupport::Ask(platform, Core->Config().CommRecIpPort, type, payload, 7), reply);
        const auto shown = [this] {
            QStringList rows;
            for (int row = 0; row < Form->NoticeDetail->Numbers->rowCount(); ++row)
                rows << Form->NoticeDetail->Numbers->item(row, 0)->text() + QLatin1Char('|') + Form->NoticeDetail->Numbers->item(row, 1)->text();
            return rows;
        };
        Form->ChannelBoxes[0]->DetailButton->click();
        QVERIFY2(Form->NoticeDetail->Summary->text().contains(target), qPrintable(Form->NoticeDetail->Summary->text()));
        QCOMPARE(shown(), numbers);
        const QString before = Form->NoticeDetail->Summary->text();

        StopProgram();
        StartProgram(settings);
        Form->show();
        Form->ChannelBoxes[0]->DetailButton->click();
        QTRY_VERIFY2(Form->NoticeDetail->Summary->text().contains(target), qPrintable(Form->NoticeDetail->Summary->text()));
        QCOMPARE(Form->NoticeDetail->Summary->text(), before);
        QCOMPARE(shown(), numbers);
        // Other channels had none.
        Form->ChannelBoxes[1]->DetailButton->click();
        QCOMPARE(Form->NoticeDetail->Summary->text(), QStringLiteral("该通道还没有通知。"));
    }

    void settingsDialogFillsAndApplies()
    {
        ChannelSettings([](TSetChnFrom &d) {
            QCOMPARE(d.windowTitle(), QStringLiteral("线路参数设置"));
            QCOMPARE(d.ChnNoBox->currentText(), QStringLiteral("1"));
            QCOMPARE(d.ChnNumberBox->currentText(), QString()); // channel 0 has no line number yet
            QCOMPARE(d.ifUseBox->currentText(), QStringLiteral("否")); // and is disabled
            QCOMPARE(d.ChnNoBox->count(), 9);
            QCOMPARE(d.ChnNumberBox->itemText(9), QStringLiteral("2010"));
            d.ChnNoBox->setEditText(QStringLiteral("3"));
            QCOMPARE(d.ChnNumberBox->currentText(), QStringLiteral("2003"));
            QCOMPARE(d.ifUseBox->currentText(), QStringLiteral("是"));
            d.ChnNoBox->setEditText(QStringLiteral("9"));
            QCOMPARE(d.ChnNumberBox->currentText(), QString());
            d.ChnNoBox->setEditText(QStringLiteral("1"));
            QCOMPARE(d.ifUseBox->currentText(), QStringLiteral("否"));
            d.ChnNumberBox->setEditText(QStringLiteral("2001"));
            d.ifUseBox->setEditText(QStringLiteral("是"));
            QCOMPARE(d.SpeakBox->currentText(), QStringLiteral("否")); // off unless asked for
            d.SpeakBox->setEditText(QStringLiteral("是"));
            d.Button1->click();
        });
        QCOMPARE(Form->SetChnFrom->Button1Tag, 1);
        QCOMPARE(Form->ChannelBoxes[0]->StatusPanel->text(), QStringLiteral("空闲"));
        QCOMPARE(Form->ChannelBoxes[0]->CallerLabel->text(), QStringLiteral("2001"));
        TSettingsStore stored(Core->Settings().Path());
        stored.Open();
        QCOMPARE(stored.Read(QStringLiteral("ifUse0")), QStringLiteral("是"));
        QCOMPARE(stored.Read(QStringLiteral("CallerNumber0")), QStringLiteral("2001"));
        QCOMPARE(stored.Read(QStringLiteral("SpeakText0")), QStringLiteral("是"));
        QVERIFY(Core->Channels().Channel(0).SpeakText);

        // The close box applies nothing, even after an earlier confirm; the next opening shows
        // the channel as it is, not the text left in the dialog.
        ChannelSettings([](TSetChnFrom &d) {
            QCOMPARE(d.ChnNumberBox->currentText(), QStringLiteral("2001"));
            d.ifUseBox->setEditText(QStringLiteral("否"));
        });
        QCOMPARE(Form->SetChnFrom->Button1Tag, 0);
        QCOMPARE(Form->ChannelBoxes[0]->StatusPanel->text(), QStringLiteral("空闲"));
        ChannelSettings([](TSetChnFrom &d) {
            QCOMPARE(d.ifUseBox->currentText(), QStringLiteral("是"));
            d.Button2->click();
        });
        QCOMPARE(Core->Channels().Channel(0).State, uint8_t(ChnIdle));
    }

    void channelNumberThatNamesNoChannel_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("said");
        QTest::newRow("not a number") << "x" << "通道号 \"x\" 不是整数。";
        QTest::newRow("nine") << "9" << "没有通道 9：通道号为 1 到 8。";
        QTest::newRow("zero") << "0" << "没有通道 0：通道号为 1 到 8。";
        QTest::newRow("empty") << "" << "通道号 \"\" 不是整数。";
    }
    void channelNumberThatNamesNoChannel()
    {
        QFETCH(QString, typed);
        QFETCH(QString, said);
        ChannelSettings([](TSetChnFrom &d) {
            d.ChnNumberBox->setEditText(QStringLiteral("2009"));
            d.Button1->click(); // channel 1, to have a line number to lose
        });
        bool stayedOpen = false;
        ChannelSettings([&](TSetChnFrom &d) {
            d.ChnNoBox->setEditText(typed);
            d.Button1->click();
            stayedOpen = d.isVisible();
            QCOMPARE(d.ProblemLabel->text(), said);
            QVERIFY(d.ProblemLabel->isVisibleTo(&d));
            QCOMPARE(d.ChnNoBox->currentText(), typed); // kept to be corrected
            QVERIFY(d.ChnNoBox->hasFocus() || QApplication::focusWidget() == d.ChnNoBox->lineEdit());
        });
        QVERIFY(stayedOpen);
        QCOMPARE(Form->SetChnFrom->Button1Tag, 0);
        QCOMPARE(Core->Channels().Channel(0).CallerNumber, QStringLiteral("2009"));
        // Opened again, the dialog starts from channel 1 and shows its own line number.
        ChannelSettings([](TSetChnFrom &d) {
            QCOMPARE(d.ChnNoBox->currentText(), QStringLiteral("1"));
            QCOMPARE(d.ChnNumberBox->currentText(), QStringLiteral("2009"));
            QVERIFY(!d.ProblemLabel->isVisibleTo(&d));
        });
    }
};

QTEST_MAIN(TstChannelWindows)
#include "tst_channel_windows.moc"
