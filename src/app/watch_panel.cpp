#include "app/watch_panel.h"

#include "widgets/latest_text.h"

#include "widgets/log_memo.h"
#include "app/varnex_core.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace {
QLineEdit *AddField(QWidget *panel, const QString &caption, int top, const QString &objectName)
{
    auto *label = new QLabel(caption, panel);
    label->setGeometry(10, top + 3, 90, 17);
    auto *edit = new QLineEdit(panel);
    edit->setObjectName(objectName);
    edit->setGeometry(100, top, 160, 22);
    return edit;
}
} // namespace

TWatchPanel::TWatchPanel(TVarnexCore &core, QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("watchPanel"));
    setFrameShape(QFrame::Panel);
    setAutoFillBackground(true);
    setGeometry(152, 48, 609, 641);

    DialNumEdit = AddField(this, QStringLiteral("拨打号码:"), 6, QStringLiteral("DialNumEdit"));
    DialNumEdit->setText(QStringLiteral("2005"));
    SndCrcEdit = AddField(this, QStringLiteral("发送的CRC值:"), 32, QStringLiteral("SndCrcEdit"));
    RecCrcEdit = AddField(this, QStringLiteral("接收的CRC值:"), 58, QStringLiteral("RecCrcEdit"));
    TestCrcBtn = new QPushButton(QStringLiteral("测试CRC计算"), this);
    TestCrcBtn->setObjectName(QStringLiteral("TestCrcBtn"));
    TestCrcBtn->setGeometry(10, 84, 121, 25);

    CommMsg = new TLogMemo(core.CommMsg(), this);
    CommMsg->setObjectName(QStringLiteral("CommMsg"));
    CommMsg->setGeometry(10, 113, 589, 524);

    TPlatformLink &link = core.PlatformLink();
    SndCrcEdit->setText(link.SndCrcText());
    RecCrcEdit->setText(link.RecCrcText());
    // A code per frame: shown at most ten times a second.
    for (const auto &[signal, edit] : {std::pair{&TPlatformLink::SndCrcTextChanged, SndCrcEdit},
                                       std::pair{&TPlatformLink::RecCrcTextChanged, RecCrcEdit}}) {
        auto *latest = new TLatestText([edit](const QString &text) { edit->setText(text); }, edit);
        connect(&link, signal, latest, &TLatestText::Set);
    }
}

void TWatchPanel::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    if (!CommMsg)
        return;
    // Beside the channels the panel may be narrower than its design width: the memo follows it.
    CommMsg->setGeometry(10, 113, std::max(0, width() - 20), std::max(0, height() - 117));
}
