#pragma once

#include <QMainWindow>
#include <QStringList>

class QCheckBox;
class QFrame;
class QLabel;
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

// The main window: banner, command column, status bar and channel area. It shows the core's
// state and passes the operator's actions on to it.
class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    static QString Title() { return QStringLiteral("Varnex 煤炭安全监控系统联动控制通讯平台"); }

    explicit TMainForm(TVarnexCore &core, QWidget *parent = nullptr);

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
    // "组呼语音通知": the test-play dialog, then the request sent.
    void VoiceNotifyTestClick();
    void SendVoiceNotifyTest();

    QPushButton *Button(const QString &objectName) const;

    QFrame *Panel1;
    QFrame *Panel2;
    QFrame *Panel3;
    QFrame *RunPanel;
    QLabel *display;
    QLabel *CommConectedIp;
    QLabel *RecCommandShow;
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

private:
    QFrame *MakeBanner();
    QFrame *MakeCommandColumn();
    QFrame *MakeStatusBar();
    QFrame *MakeRunPanel();

    void OpenMessageDisplay();
    void CloseMessageDisplay();
    // A message box that does not block the timers' work or a test.
    void ShowMessage(const QString &title, const QString &text, const QString &objectName = QStringLiteral("MessageBox"));

    TVarnexCore &Core;
};
