#include "app/main_form.h"

#include "channels/channel_box.h"
#include "channels/channel_settings_dialog.h"
#include "directory/tel_book_window.h"
#include "keyboard/key_grid.h"
#include "keyboard/keyboard_number_dialog.h"
#include "platform_link/input_play_dialog.h"
#include "settings/comm_settings_dialog.h"
#include "widgets/exit_dialog.h"
#include "widgets/log_memo.h"
#include "widgets/messages.h"
#include "app/varnex_core.h"
#include "app/watch_panel.h"
#include "app/window_place.h"
#include "history/history_window.h"
#include "history/notice_detail_dialog.h"
#include "keyboard/keyboard_display.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

namespace {

const QColor MoneyGreen(0xC0, 0xDC, 0xC0);
const QColor SkyBlue(0xA6, 0xCA, 0xF0);
const QColor Navy(0x00, 0x00, 0x80);

QFont SongFont(int pixelSize = 12, bool bold = false)
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void Paint(QWidget *w, QPalette::ColorRole role, const QColor &color)
{
    QPalette palette = w->palette();
    palette.setColor(role, color);
    w->setPalette(palette);
    if (role == QPalette::Window)
        w->setAutoFillBackground(true);
}

struct TButtonDef
{
    const char *ObjectName;
    const char *Caption;
    const char *Hint;
};

struct TGroupDef
{
    const char *Caption;
    std::initializer_list<TButtonDef> Buttons;
};

} // namespace

TMainForm::TMainForm(TVarnexCore &core, QWidget *parent) : QMainWindow(parent), Core(core)
{
    setObjectName(QStringLiteral("TMainForm"));
    setWindowTitle(Title());
    setFont(QFont(QStringLiteral("MS Sans Serif")));
    resize(DesignSize());

    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(MakeBanner());
    auto *middle = new QHBoxLayout;
    middle->setSpacing(0);
    middle->addWidget(MakeCommandColumn());
    middle->addWidget(MakeRunPanel(), 1); // meets the command column: no strip between them
    column->addLayout(middle, 1);
    column->addWidget(MakeStatusBar());
    setCentralWidget(central);

    watchPanel = new TWatchPanel(core, central);
    watchPanel->hide();
    SetChnFrom = new TSetChnFrom(core.Channels(), this);
    InputPlayFrom = new TInputPlayFrom(this);
    dialogform = new Tdialogform(this);
    editfrom = new Teditfrom(this);
    ExitForm = new TExitForm(this);
    TelBookForm = new TTelBookForm(core.TelBook(), core.NumberImport(), *ExitForm, this);
    TelBookForm->SetKeyCheck([&core](int number) { return core.Keys().findkeycode(number, core.Config().CurrentKeyboard) != 0; },
                             [&core] { return core.Config().CurrentKeyboard; });

    tablename = new QLabel(TKeyboardDisplay::Title(), central);
    tablename->setObjectName(QStringLiteral("tablename"));
    tablename->setFont(SongFont(21));
    Paint(tablename, QPalette::WindowText, Navy);
    Paint(tablename, QPalette::Window, SkyBlue);
    tablename->adjustSize();
    tablename->hide();
    table = new TKeyGrid(core.KeyboardDisplay(), central);
    table->hide();
    KeySearchEdit = new QLineEdit(central);
    KeySearchEdit->setObjectName(QStringLiteral("KeySearchEdit"));
    KeySearchEdit->setPlaceholderText(QStringLiteral("查找键位：号码或名称，回车找下一个"));
    KeySearchEdit->setClearButtonEnabled(true);
    KeySearchEdit->hide();
    KeySearchNote = new QLabel(central);
    KeySearchNote->setObjectName(QStringLiteral("KeySearchNote"));
    Paint(KeySearchNote, QPalette::Window, SkyBlue);
    KeySearchNote->hide();
    connect(KeySearchEdit, &QLineEdit::returnPressed, this, &TMainForm::FindKey);
    connect(KeySearchEdit, &QLineEdit::textEdited, this, [this] {
        table->setCurrentCell(-1, -1); // a changed text is looked for from the start
        FindKey();
    });
    connect(table->SaveAction, &QAction::triggered, this, &TMainForm::savePopMenuClick);
    connect(table->DialAction, &QAction::triggered, this, &TMainForm::dialPopMenuClick);

    NoticeDetail = new TNoticeDetailDialog(core.History(), this);
    HistoryWindow = nullptr;
    connect(Button(QStringLiteral("HistoryBtn")), &QPushButton::clicked, this, [this] {
        if (!HistoryWindow) // made on first use: the history file exists by then
            HistoryWindow = new THistoryWindow(Core.History(), this);
        HistoryWindow->Open();
    });
    for (int channel = 0; channel < ChannelBoxes.size(); ++channel)
        connect(ChannelBoxes[channel]->DetailButton, &QPushButton::clicked, this,
                [this, channel] { NoticeDetail->ShowChannel(channel); });
    connect(Button(QStringLiteral("OpenMsgBtn")), &QPushButton::clicked, this, &TMainForm::OpenMessageDisplay);
    connect(&core.PairRole(), &TPairRole::Changed, this, &TMainForm::ShowRole);
    ShowRole();
    connect(Button(QStringLiteral("CloseMsgBtn")), &QPushButton::clicked, this, &TMainForm::CloseMessageDisplay);
    connect(Button(QStringLiteral("ClearMsgBtn")), &QPushButton::clicked, &core.CommMsg(), &TTrafficLog::Clear);
    connect(DisplayCheckBox, &QCheckBox::toggled, &core.CommMsg(), &TTrafficLog::SetHostMessagesShown);
    connect(Button(QStringLiteral("SetChnBtn")), &QPushButton::clicked, this, &TMainForm::SetChnBtnClick);
    connect(Button(QStringLiteral("HostCommSetBtn")), &QPushButton::clicked, this,
            [this] { CommSettingsClick(TCommSettings::Host); });
    connect(Button(QStringLiteral("MonitorCommSetBtn")), &QPushButton::clicked, this,
            [this] { CommSettingsClick(TCommSettings::Platform); });
    connect(Button(QStringLiteral("KeyDataBtn")), &QPushButton::clicked, this, &TMainForm::KeyDataClick);
    connect(Button(QStringLiteral("TelBookBtn")), &QPushButton::clicked, TelBookForm, &TTelBookForm::Open);
    TTestRequests &requests = core.TestRequests();
    connect(Button(QStringLiteral("GroupListTestBtn")), &QPushButton::clicked, this,
            [&requests] { requests.SendGroupListRequest(); });
    connect(Button(QStringLiteral("DeviceStatusTestBtn")), &QPushButton::clicked, this,
            [&requests] { requests.SendDeviceStatusRequest(); });
    connect(Button(QStringLiteral("PhoneCallTestBtn")), &QPushButton::clicked, this,
            [this, &requests] { requests.SendPhoneCall(watchPanel->DialNumEdit->text()); });
    connect(Button(QStringLiteral("VoiceNotifyTestBtn")), &QPushButton::clicked, this, &TMainForm::VoiceNotifyTestClick);
    connect(watchPanel->TestCrcBtn, &QPushButton::clicked, this, [&requests] { requests.TestCrc(); });

    // Link labels: green while the link is up, red while it is down.
    const auto show = [](QLabel *label, const QString &text, bool up) {
        label->setText(text);
        up = up && text.contains(QStringLiteral("连上")); // a refused address is no link
        Paint(label, QPalette::WindowText, up ? QColor(0x00, 0x80, 0x00) : QColor(Qt::red));
    };
    show(display, core.HostLink().display(), core.HostLink().IsUp());
    connect(&core.HostLink(), &THostLink::displayChanged, display,
            [this, show](const QString &text) { show(display, text, Core.HostLink().IsUp()); });
    RecCommandShow->setText(core.HostLink().RecCommandShow());
    connect(&core.HostLink(), &THostLink::RecCommandShowChanged, RecCommandShow, &QLabel::setText);
    // The platform's label: green while heard, grey while merely quiet (a platform without
    // alarms sends nothing), red when something is known to be wrong or nothing was heard yet.
    const auto showPlatform = [this](const QString &text) {
        CommConectedIp->setText(text);
        const TPlatformLink::THealth health = Core.PlatformLink().Health();
        Paint(CommConectedIp, QPalette::WindowText,
              health == TPlatformLink::THealth::Up      ? QColor(0x00, 0x80, 0x00)
              : health == TPlatformLink::THealth::Quiet ? QColor(0x60, 0x60, 0x60)
                                                        : QColor(Qt::red));
    };
    showPlatform(core.PlatformLink().CommConectedIp());
    connect(&core.PlatformLink(), &TPlatformLink::CommConectedIpChanged, CommConectedIp, showPlatform);
}

QPushButton *TMainForm::Button(const QString &objectName) const
{
    return findChild<QPushButton *>(objectName);
}

QFrame *TMainForm::MakeBanner()
{
    Panel1 = new QFrame;
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(41);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Paint(Panel1, QPalette::Window, MoneyGreen);

    auto *picture = new QLabel(Panel1);
    picture->setFixedSize(44, 34);
    picture->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(34, 34));
    auto *caption = new QLabel(Title() + QLatin1Char(' '), Panel1);
    caption->setObjectName(QStringLiteral("BannerCaption"));
    QFont font = caption->font();
    font.setPixelSize(24);
    font.setBold(true);
    caption->setFont(font);
    Paint(caption, QPalette::WindowText, Navy);

    auto *row = new QHBoxLayout(Panel1);
    row->setContentsMargins(2, 2, 2, 2);
    row->addWidget(picture);
    row->addWidget(caption, 1);
    return Panel1;
}

QFrame *TMainForm::MakeCommandColumn()
{
    static const std::initializer_list<TGroupDef> Groups = {
        {"通信IP地址设置",
         {{"HostCommSetBtn", "主机侧通讯设置", ""}, {"MonitorCommSetBtn", "安检侧通讯设置", ""}}},
        {"数据设置",
         {{"SetChnBtn", "通道设置", ""},
          {"TelBookBtn", "编组号码设置", ""},
          {"KeyDataBtn", "键位数据显示", "从维护终端将key.dat拷入"},
          {"HistoryBtn", "通知记录", "查看、筛选和导出通知与通讯事件的记录"}}},
        {"自环测试",
         {{"GroupListTestBtn", "分组信息列表获取", "模拟对端系统发码测试"},
          {"DeviceStatusTestBtn", "设备状态获取", "模拟对端系统发码测试"},
          {"PhoneCallTestBtn", "电话拨打", "电话拨打"},
          {"VoiceNotifyTestBtn", "组呼语音通知", "播放语音通知"}}},
        {"Watch Massegw",
         {{"OpenMsgBtn", "打开消息显示", ""}, {"CloseMsgBtn", "关闭消息显示", ""}, {"ClearMsgBtn", "清空消息显示", ""}}},
    };

    Panel2 = new QFrame;
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setAutoFillBackground(true);
    Panel2->setFixedWidth(143);
    auto *column = new QVBoxLayout(Panel2);
    column->setContentsMargins(4, 2, 4, 2);
    column->setSpacing(2); // tight, so the window fits a 1366 × 768 screen with its title bar and a taskbar
    for (const TGroupDef &group : Groups) {
        auto *box = new QGroupBox(QString::fromUtf8(group.Caption), Panel2);
        auto *buttons = new QVBoxLayout(box);
        buttons->setContentsMargins(5, 2, 5, 3);
        buttons->setSpacing(2);
        for (const TButtonDef &def : group.Buttons) {
            auto *button = new QPushButton(QString::fromUtf8(def.Caption), box);
            button->setObjectName(QString::fromLatin1(def.ObjectName));
            button->setFixedSize(121, 35);
            button->setFont(SongFont());
            Paint(button, QPalette::ButtonText, Navy);
            button->setToolTip(QString::fromUtf8(def.Hint));
            buttons->addWidget(button);
        }
        column->addWidget(box);
    }
    column->addStretch();
    return Panel2;
}

QString TMainForm::TitleFor(bool pair, const QString &roleText)
{
    return pair ? Title() + QStringLiteral(" [") + roleText + QLatin1Char(']') : Title();
}

void TMainForm::ShowRole()
{
    const bool pair = Core.PairRole().IsPair();
    const TRole role = Core.PairRole().Current();
    setWindowTitle(TitleFor(pair, Role::Text(role)));
    RoleLabel->setVisible(pair);
    RoleLabel->setText(Role::Text(role));
    // A program that does not work is easy to tell from across the room.
    Paint(RoleLabel, QPalette::Window, Role::Works(role) ? QColor(0x00, 0x80, 0x00) : QColor(0x80, 0x80, 0x80));
}

QFrame *TMainForm::MakeStatusBar()
{
    Panel3 = new QFrame;
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedHeight(49);
    Paint(Panel3, QPalette::Window, MoneyGreen);

    display = new QLabel(Panel3);
    display->setObjectName(QStringLiteral("display"));
    CommConectedIp = new QLabel(Panel3);
    CommConectedIp->setObjectName(QStringLiteral("CommConectedIp"));
    for (QLabel *label : {display, CommConectedIp}) {
        label->setFont(SongFont());
        Paint(label, QPalette::WindowText, Qt::red);
    }

    RoleLabel = new QLabel(Panel3);
    RoleLabel->setObjectName(QStringLiteral("RoleLabel"));
    RoleLabel->setFont(SongFont(16, true));
    RoleLabel->setAlignment(Qt::AlignCenter);
    RoleLabel->setMinimumWidth(56);
    Paint(RoleLabel, QPalette::WindowText, Qt::white);
    RoleLabel->hide();

    RecCommandShow = new QLabel(Panel3);
    RecCommandShow->setObjectName(QStringLiteral("RecCommandShow"));
    RecCommandShow->setFixedSize(241, 25);
    RecCommandShow->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    DisplayCheckBox = new QCheckBox(QStringLiteral("显示调度主机消息"), Panel3);
    DisplayCheckBox->setObjectName(QStringLiteral("DisplayCheckBox"));

    LogMemo = new TLogMemo(Core.LogMemo(), Panel3);
    LogMemo->setObjectName(QStringLiteral("LogMemo"));
    LogMemo->setFixedSize(329, 42);

    auto *row = new QHBoxLayout(Panel3);
    row->setContentsMargins(6, 3, 6, 3);
    row->addWidget(RoleLabel);
    row->addWidget(display);
    row->addSpacing(16);
    row->addWidget(CommConectedIp);
    row->addStretch();
    row->addWidget(RecCommandShow);
    row->addWidget(DisplayCheckBox);
    row->addWidget(LogMemo);
    return Panel3;
}

QScrollArea *TMainForm::MakeRunPanel()
{
    RunPanel = new QScrollArea;
    RunPanel->setObjectName(QStringLiteral("RunPanel"));
    RunPanel->setFrameShape(QFrame::NoFrame);
    Paint(RunPanel, QPalette::Window, SkyBlue);
    Paint(RunPanel->viewport(), QPalette::Window, SkyBlue);
    ChannelArea = new QWidget;
    ChannelArea->setObjectName(QStringLiteral("ChannelArea"));
    ChannelArea->setFixedSize(1222, 656);
    Paint(ChannelArea, QPalette::Window, SkyBlue);
    RunPanel->setWidget(ChannelArea);
    RunPanel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Two rows of four boxes, channel 0 at the top left.
    static constexpr int Lefts[] = {2, 306, 611, 915};
    for (int channel = 0; channel < TPlayChannels::Count; ++channel) {
        auto *box = new TChannelBox(Core.Channels(), channel, ChannelArea);
        box->move(Lefts[channel % 4], channel < 4 ? 0 : 330);
        ChannelBoxes << box;
    }
    return RunPanel;
}

void TMainForm::RestorePlace()
{
    TWindowPlace::Restore(*this, Core.Settings(), DesignSize());
}

void TMainForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    PlaceOverlays();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    TWindowPlace::Save(*this, Core.Settings()); // a settings file that cannot be written costs only the place
    QMainWindow::closeEvent(event);
}

void TMainForm::PlaceOverlays()
{
    QWidget *central = centralWidget();
    if (!central)
        return;
    // Design places, relative to the window's inside: over the channels, from channel 0 on.
    static constexpr int DesignLeft = 152, WatchTop = 48, WatchWidth = 609, WatchHeight = 641;
    static constexpr int GridTop = 172, GridWidth = 680, GridHeight = 270, SearchTop = 446, SearchWidth = 300;
    // Narrower than this, the panel's fields and the grid's search row no longer fit side by
    // side, and covering channels from the design place serves the operator better.
    static constexpr int MinBesideWidth = 400;
    const int channelsRight = Panel2->width() + ChannelArea->width() + 4;
    // A window too low for the channels scrolls them: the bar at its right edge stays uncovered.
    const QScrollBar *bar = RunPanel->verticalScrollBar();
    const int room = central->width() - channelsRight - 8 - (bar->isVisible() ? bar->width() : 0);
    const bool beside = room >= MinBesideWidth;

    // Beside the channels the panel also stays above the status bar.
    const int watchHeight = beside ? std::clamp(Panel3->y() - WatchTop - 4, 200, WatchHeight) : WatchHeight;
    const int watchLeft = beside ? channelsRight : DesignLeft;
    watchPanel->setGeometry(watchLeft, WatchTop, beside ? std::min(WatchWidth, room) : WatchWidth, watchHeight);

    const int gridLeft = beside ? channelsRight : DesignLeft;
    const int gridWidth = beside ? room : std::max(GridWidth, central->width() - gridLeft - 8);
    tablename->move(gridLeft + (beside ? std::max(0, (gridWidth - tablename->width()) / 2) : 92), 140);
    table->setGeometry(gridLeft, GridTop, gridWidth, GridHeight);
    const int searchWidth = std::min(SearchWidth, gridWidth);
    KeySearchEdit->setGeometry(gridLeft, SearchTop, searchWidth, 24);
    // The note beside the field where both fit, else under it.
    if (gridWidth >= 2 * SearchWidth + 6)
        KeySearchNote->setGeometry(gridLeft + SearchWidth + 6, SearchTop, SearchWidth, 24);
    else
        KeySearchNote->setGeometry(gridLeft, SearchTop + 28, searchWidth, 24);
}

QList<QWidget *> TMainForm::KeyGridParts() const
{
    return {tablename, table, KeySearchEdit, KeySearchNote};
}

void TMainForm::OpenMessageDisplay()
{
    Core.CommMsg().SetShown(true);
    for (QWidget *w : KeyGridParts())
        w->hide();
    PlaceOverlays();
    watchPanel->show();
    watchPanel->raise();
}

void TMainForm::CloseMessageDisplay()
{
    watchPanel->hide();
}

void TMainForm::SetChnBtnClick()
{
    SetChnFrom->Prepare();
    SetChnFrom->exec();
    ApplyChannelSettings();
}

void TMainForm::ApplyChannelSettings()
{
    if (SetChnFrom->Button1Tag != 1)
        return;
    const QString error = Core.Channels().ApplySettings(SetChnFrom->ChnNoBox->currentText(),
                                                        SetChnFrom->ChnNumberBox->currentText(),
                                                        SetChnFrom->ifUseBox->currentText(), Core.Settings(),
                                                        SetChnFrom->SpeakBox->currentText());
    if (!error.isEmpty())
        ShowMessage(QStringLiteral("提示信息"), error);
}

void TMainForm::CommSettingsClick(int side)
{
    dialogform->Fill(TCommSettings::Form(TCommSettings::TSide(side), Core.Config()));
    dialogform->exec();
    ApplyCommSettings(side);
}

void TMainForm::ApplyCommSettings(int side)
{
    if (!dialogform->Answer())
        return;
    const TCommSettings::TOutcome outcome =
        TCommSettings::Apply(TCommSettings::TSide(side), dialogform->Texts(), Core.Config(), Core.Settings());
    if (!outcome.Error.isEmpty())
        ShowMessage(QStringLiteral("提示信息"), outcome.Error);
    else if (!outcome.Notice.isEmpty())
        ShowMessage(QStringLiteral("提示信息"), outcome.Notice);
}

void TMainForm::KeyDataClick()
{
    Core.CommMsg().SetShown(false);
    watchPanel->hide();
    editfrom->KeyboardBox->setEditText(QString::number(Core.Config().CurrentKeyboard));
    editfrom->exec();
    ShowKeyboard();
}

void TMainForm::ShowKeyboard()
{
    TKeyboardDisplay &display = Core.KeyboardDisplay();
    QString problem = editfrom->Answer() ? display.ChooseKeyboard(editfrom->KeyboardBox->currentText()) : QString();
    if (problem.isEmpty())
        problem = display.ShowableProblem();
    if (!problem.isEmpty()) {
        ShowMessage(QStringLiteral("提示信息"), problem);
        return;
    }
    const QString loadProblem = display.Load();
    table->ShowKeys(loadProblem.isEmpty());
    PlaceOverlays();
    KeySearchNote->clear();
    for (QWidget *w : KeyGridParts()) {
        w->show();
        w->raise();
    }
    if (!loadProblem.isEmpty())
        ShowMessage(QStringLiteral("提示信息"), loadProblem);
}

void TMainForm::savePopMenuClick()
{
    const QString problem = Core.KeyboardDisplay().Save();
    if (!problem.isEmpty())
        ShowMessage(QStringLiteral("提示信息"), problem);
}

void TMainForm::dialPopMenuClick()
{
    Core.KeyboardDisplay().Dial(table->SelectedGridColumn(), table->SelectedGridRow());
}

void TMainForm::FindKey()
{
    const QPoint found = Core.KeyboardDisplay().FindKey(KeySearchEdit->text(), table->SelectedGridColumn(),
                                                        table->currentRow() < 0 ? 8 : table->SelectedGridRow());
    if (found.isNull()) {
        KeySearchNote->setText(KeySearchEdit->text().trimmed().isEmpty() ? QString()
                                                                          : QStringLiteral("未找到该号码或名称的键位"));
        return;
    }
    table->SelectCell(found.x(), found.y());
    table->scrollTo(table->currentIndex(), QAbstractItemView::PositionAtCenter);
    KeySearchNote->setText(QStringLiteral("键位：%1 行%2").arg(TKeyboardDisplay::HeaderText(found.x()), TKeyboardDisplay::RowLabel(found.y())));
}

void TMainForm::VoiceNotifyTestClick()
{
    InputPlayFrom->exec();
    SendVoiceNotifyTest();
}

void TMainForm::SendVoiceNotifyTest()
{
    if (!InputPlayFrom->Answer())
        return;
    const QString error = Core.TestRequests().SendVoiceNotify(
        InputPlayFrom->PlayTypeBox->currentText(), InputPlayFrom->GroupOrNumberBox->currentText(),
        InputPlayFrom->PlayTxtTypeBox->currentText(), InputPlayFrom->PlayTimesBox->currentText(),
        InputPlayFrom->PlayTxtEdit->text());
    if (!error.isEmpty())
        ShowMessage(QStringLiteral("提示信息"), error);
}

void TMainForm::ShowMessage(const QString &title, const QString &text, const QString &objectName)
{
    OpenMessage(this, QMessageBox::Warning, title, text)->setObjectName(objectName);
}

void TMainForm::ShowStartupErrors(const QStringList &errors)
{
    if (errors.isEmpty())
        return;
    ShowMessage(QStringLiteral("启动错误"),
                errors.join(QLatin1Char('\n')) + QStringLiteral("\n\n其余启动步骤已照常完成。"),
                QStringLiteral("StartupErrorBox"));
}
