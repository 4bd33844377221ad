#include "settings/comm_settings_dialog.h"
#include "app/main_form.h"
#include "support/modal.h"
#include "support/test_support.h"
#include "support/window_fixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class TstCommSettingsDialog : public QObject, private TWindowFixture
{
    Q_OBJECT


    // Presses the button and lets act work on the dialog; returns the settings file afterwards.
    void Open(const char *button, const std::function<void(Tdialogform &)> &act)
    {
        Tdialogform *dialog = Form->dialogform;
        AnswerModal(dialog, [dialog, act] { act(*dialog); });
        Form->Button(QString::fromLatin1(button))->click();
    }
    QString Stored(const char *name)
    {
        TSettingsStore store(Core->Settings().Path());
        store.Open();
        return store.Read(QString::fromLatin1(name));
    }

private Q_SLOTS:
    void init()
    {
        NewFolder();
        StartProgram();
    }
    void cleanup()
    {
        StopProgram();
    }

    void hostSide()
    {
        Open("HostCommSetBtn", [](Tdialogform &d) {
            QCOMPARE(d.windowTitle(), QStringLiteral("跟调度机连接通讯设置对话框"));
            QCOMPARE(d.Labels[0]->text(), QStringLiteral("左侧CPU地址"));
            QCOMPARE(d.Fields[0]->currentText(), QStringLiteral("127.0.0.1")); // as the test settings put it
            QCOMPARE(d.Fields[3]->count(), 8);
            d.Fields[0]->setEditText(QStringLiteral("127.0.0.7"));
            d.Fields[2]->setEditText(QStringLiteral("18300"));
            d.OkButton->click();
        });
        QVERIFY(Form->dialogform->Answer());
        QCOMPARE(Core->Config().IpAddress, QStringLiteral("127.0.0.7"));
        QCOMPARE(Stored("IpPort"), QStringLiteral("18300"));

        // Cancel and the close box change nothing, also after an earlier confirm.
        for (const bool useCancel : {true, false}) {
            Open("HostCommSetBtn", [useCancel](Tdialogform &d) {
                for (QComboBox *f : d.Fields)
                    f->setEditText(QStringLiteral("99"));
                if (useCancel)
                    d.CancelButton->click();
            });
            QVERIFY(!Form->dialogform->Answer());
            QCOMPARE(Core->Config().IpAddress, QStringLiteral("127.0.0.7"));
            QCOMPARE(Stored("IpAddress"), QStringLiteral("127.0.0.7"));
        }
    }

    void platformSideAfterHostSide()
    {
        Open("HostCommSetBtn", [](Tdialogform &d) { d.CancelButton->click(); });
        Open("MonitorCommSetBtn", [](Tdialogform &d) {
            QCOMPARE(d.windowTitle(), QStringLiteral("跟安检系统通讯设置对话框"));
            QCOMPARE(d.Labels[1]->text(), QStringLiteral("校验类型"));
            QCOMPARE(d.Fields[1]->count(), 2);
            // Every entry shows whole in its field.
            for (int i = 0; i < d.Fields[1]->count(); ++i)
                QVERIFY(d.Fields[1]->lineEdit()->width() >= d.Fields[1]->fontMetrics().horizontalAdvance(d.Fields[1]->itemText(i)));
            QCOMPARE(d.Fields[0]->currentText(), QStringLiteral("127.0.0.1"));
        });
    }

    // Both sides open with the cursor in their first field, whichever field had it last, so
    // that typing replaces the first value and Enter confirms what was typed.
    void focusStartsInTheFirstField_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::newRow("host side, again") << QByteArray("HostCommSetBtn") << QByteArray("HostCommSetBtn");
        QTest::newRow("host side, then platform side") << QByteArray("HostCommSetBtn") << QByteArray("MonitorCommSetBtn");
    }
    void focusStartsInTheFirstField()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        const auto inFirstField = [](Tdialogform &d) {
            return d.focusWidget() == d.Fields[0] || d.focusWidget() == d.Fields[0]->lineEdit();
        };
        bool firstOpened = false, secondOpened = false;
        Open(first.constData(), [&](Tdialogform &d) {
            firstOpened = inFirstField(d);
            d.Fields[3]->setFocus();
            d.CancelButton->click();
        });
        Open(second.constData(), [&](Tdialogform &d) {
            secondOpened = inFirstField(d) && d.Fields[0]->lineEdit()->selectedText() == d.Fields[0]->currentText();
            d.CancelButton->click();
        });
        QVERIFY(firstOpened);
        QVERIFY(secondOpened);
    }

    void emptyFirstFieldKeepsTheDialogOpen()
    {
        bool stayedOpen = false;
        Open("MonitorCommSetBtn", [&stayedOpen](Tdialogform &d) {
            d.Fields[0]->setEditText(QString());
            d.OkButton->click();
            stayedOpen = d.isVisible();
        });
        QVERIFY(stayedOpen);
        QVERIFY(!Form->dialogform->Answer());
        QCOMPARE(Core->Config().CommIpAddress, QStringLiteral("127.0.0.1"));
    }

    void badFieldIsMarkedAndKept_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("named");
        QTest::newRow("letters as the send port") << 2 << "port" << "我方发送端口";
        QTest::newRow("receive port too large") << 3 << "65536" << "我方接收端口";
        QTest::newRow("a name as the address") << 0 << "abc" << "安检IP地址";
        QTest::newRow("unknown check type") << 1 << "CRC-8" << "校验类型";
    }
    void badFieldIsMarkedAndKept()
    {
        QFETCH(int, row);
        QFETCH(QString, typed);
        QFETCH(QString, named);
        bool stayedOpen = false;
        Open("MonitorCommSetBtn", [&](Tdialogform &d) {
            const QString was = d.Fields[row]->currentText();
            d.Fields[4]->setEditText(QStringLiteral("10.0.0.9"));
            d.Fields[row]->setEditText(typed);
            d.OkButton->click();
            stayedOpen = d.isVisible();
            QCOMPARE(d.MarkedRow(), row);
            // The dialog's own focus, which is there whether or not the window manager has made
            // the window active yet (hasFocus() needs both).
            QWidget *focused = d.focusWidget();
            QVERIFY(focused == d.Fields[row] || d.Fields[row]->isAncestorOf(focused));
            QVERIFY2(d.ProblemLabel->text().contains(named), qPrintable(d.ProblemLabel->text()));
            QVERIFY(d.ProblemLabel->isVisibleTo(&d));
            QCOMPARE(d.Fields[row]->currentText(), typed); // kept to be corrected
            QCOMPARE(d.Fields[4]->currentText(), QStringLiteral("10.0.0.9"));
            // Corrected, it is taken.
            d.Fields[row]->setEditText(was);
            d.OkButton->click();
            QCOMPARE(d.MarkedRow(), -1);
        });
        QVERIFY(stayedOpen);
        QVERIFY(Form->dialogform->Answer());
        QCOMPARE(Core->Config().CommLocalIPAddr, QStringLiteral("10.0.0.9"));
        QVERIFY(!Form->findChild<QMessageBox *>(QStringLiteral("MessageBox")));
    }
};

QTEST_MAIN(TstCommSettingsDialog)
#include "tst_comm_settings_dialog.moc"
