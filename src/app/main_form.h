#pragma once

#include <QMainWindow>
#include <QStringList>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QScrollArea;
class QPushButton;
class TChannelBox;
class TLogMemo;
class TExitForm;
class TInputPlayFrom;
class TTelBookForm;
class TKeyGrid;
class Teditfrom;
class Tdialogform;
class TSetChnFrom;
class TVarnexCore;
class TWatchPanel;
class TNoticeDetailDialog;
class THistoryWindow;

// The main window: banner, command column, status bar and channel area. It shows the core's
// state and passes the operator's actions on to it.
class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    static QString Title() { return QStringLiteral("Varnex 煤炭安全监控系统联动控制通讯平台"); }

    static QSize DesignSize() { return {1382, 784}; }

    explicit TMainForm(TVarnexCore &core, QWidget *parent = nullptr);

    // Size and place as the operator left them, or fitted to the screen on a first start.
    void RestorePlace();

    // One message box, not blocking, listing what went wrong at start-up.
    void ShowStartupErrors(const QStringList &errors);

    // "通道设置": the channel settings dialog, then its answer applied.
    void SetChnBtnClick();
    void ApplyChannelSettings();
    // "主机侧通讯设置" (host) and "安检侧通讯设置" (platform): the settings dialog, then its answer.
    void CommSettingsClick(int side);
    void ApplyCommSettings(int side);
    // "键位数据显示": the keyboard-number dialog, then the key grid.
    void KeyDataClick();
    void ShowKeyboard();
    // The key grid's pop-up menu.
    void savePopMenuClick();
    void dialPopMenuClick();
    // The key search field: the next key whose number or name holds the text.
    void FindKey();
    // "组呼语音通知": the test-play dialog, then the request sent.
    void VoiceNotifyTestClick();
    void SendVoiceNotifyTest();

    QPushButton *Button(const QString &objectName) const;
    // The title with this program's part of a pair, if it is one: "… [主用]".
    static QString TitleFor(bool pair, const QString &roleText);

    QFrame *Panel1;
    QFrame *Panel2;
    QFrame *Panel3;
    QScrollArea *RunPanel;    // the channel area; scrolls when the window is smaller than its design
    QWidget *ChannelArea;     // the eight channel boxes at their design places
    QLabel *display;
    QLabel *CommConectedIp;
    QLabel *RecCommandShow;
    QLabel *RoleLabel;        // 主用 / 备用 / 故障 in a pair; hidden alone
    QCheckBox *DisplayCheckBox;
    TLogMemo *LogMemo;
    TWatchPanel *watchPanel;
    QList<TChannelBox *> ChannelBoxes;
    TSetChnFrom *SetChnFrom;
    TInputPlayFrom *InputPlayFrom;
    Tdialogform *dialogform;
    Teditfrom *editfrom;
    TExitForm *ExitForm;
    TTelBookForm *TelBookForm;
    QLabel *tablename;
    TKeyGrid *table;
    TNoticeDetailDialog *NoticeDetail;
    THistoryWindow *HistoryWindow;
    QLineEdit *KeySearchEdit;
    QLabel *KeySearchNote;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // The message panel and the key grid: right of the channels where the window has room,
    // over them (from the design place) where it has not.
    void PlaceOverlays();
    // The key grid with its title and search field, shown and hidden together.
    QList<QWidget *> KeyGridParts() const;
    QFrame *MakeBanner();
    QFrame *MakeCommandColumn();
    QFrame *MakeStatusBar();
    QScrollArea *MakeRunPanel();

    void ShowRole();
    void OpenMessageDisplay();
    void CloseMessageDisplay();
    // A message box that does not block the timers' work or a test.
    void ShowMessage(const QString &title, const QString &text, const QString &objectName = QStringLiteral("MessageBox"));

    TVarnexCore &Core;
};
