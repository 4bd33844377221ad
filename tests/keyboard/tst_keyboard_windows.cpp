#include "keyboard/key_grid.h"
#include "keyboard/keyboard_display.h"
#include "keyboard/keyboard_number_dialog.h"
#include "app/main_form.h"
#include "app/watch_panel.h"
#include "support/modal.h"
#include "support/test_support.h"
#include "support/window_fixture.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class TstKeyboardWindows : public QObject, private TWindowFixture
{
    Q_OBJECT

    QByteArray Keys = TestSupport::KeyFile({{3 * 1088 + 74, 2001}, {5 * 1088, 0x4007}});

    void ShowKeyboard(const std::function<void(Teditfrom &)> &act)
    {
        Teditfrom *dialog = Form->editfrom;
        AnswerModal(dialog, [dialog, act] { act(*dialog); });
        Form->Button(QStringLiteral("KeyDataBtn"))->click();
    }
    QMessageBox *Message()
    {
        QMessageBox *box = nullptr;
        (void)QTest::qWaitFor([&] { return (box = Form->findChild<QMessageBox *>(QStringLiteral("MessageBox"))); }, 2000);
        return box;
    }

private Q_SLOTS:
    void init()
    {
        NewFolder();
        QFile f(Dir->filePath(QStringLiteral("key.dat")));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(Keys);
        f.close();
        StartProgram();
        Form->show();
    }

    // The keyboard number opens with the cursor in its field: typing replaces the number.
    void focusStartsInTheKeyboardField()
    {
        bool inField = false;
        ShowKeyboard([&inField](Teditfrom &d) {
            inField = d.focusWidget() == d.KeyboardBox || d.focusWidget() == d.KeyboardBox->lineEdit();
            d.CancelButton->click();
        });
        QVERIFY(inField);
    }
    void cleanup()
    {
        StopProgram();
    }

    // The search field selects the next key whose number or name holds the text.
    void searchFindsAKey()
    {
        ShowKeyboard([](Teditfrom &d) { d.CancelButton->click(); });
        QTest::keyClicks(Form->KeySearchEdit, QStringLiteral("2001"));
        QCOMPARE(Form->table->SelectedGridColumn(), 10);
        QCOMPARE(Form->table->SelectedGridRow(), 3);
        QCOMPARE(Form->KeySearchNote->text(), QStringLiteral("键位：1*1 行2"));
        QTest::keyClick(Form->KeySearchEdit, Qt::Key_Return); // the only one: found again
        QCOMPARE(Form->table->SelectedGridColumn(), 10);
        QTest::keyClicks(Form->KeySearchEdit, QStringLiteral("9"));
        QCOMPARE(Form->KeySearchNote->text(), QStringLiteral("未找到该号码或名称的键位"));
        QCOMPARE(Core->KeyboardDisplay().FindKey(QStringLiteral("  ")), QPoint());
        QCOMPARE(Core->KeyboardDisplay().FindKey(QStringLiteral("200"), 10, 3), QPoint(10, 3)); // wraps round
    }

    void cancelShowsTheCurrentKeyboard()
    {
        QTest::mouseClick(Form->Button(QStringLiteral("OpenMsgBtn")), Qt::LeftButton);
        QString offered;
        ShowKeyboard([&offered](Teditfrom &d) {
            offered = d.KeyboardBox->currentText();
            d.CancelButton->click();
        });
        QCOMPARE(offered, QStringLiteral("3"));
        QVERIFY(!Core->CommMsg().Shown());
        QVERIFY(Form->watchPanel->isHidden());
        QVERIFY(Form->table->isVisible());
        QCOMPARE(Form->tablename->text(), QStringLiteral("  键   盘   数   据   设   置"));
        QCOMPARE(Form->table->pos(), QPoint(152, 172));
        QCOMPARE(Form->table->height(), 270);
        QCOMPARE(Form->table->geometry().right(), Form->centralWidget()->width() - 9); // the window's width
        QVERIFY(Form->KeySearchEdit->isVisible());
        QCOMPARE(Form->table->horizontalHeaderItem(9)->text(), QStringLiteral("1*1"));
        QCOMPARE(Form->table->Corner->text(), QStringLiteral("序 号"));
        QCOMPARE(Form->table->Cell(10, 3), QStringLiteral("2001"));
        QCOMPARE(Form->table->Cell(129, 3), QString());

        // Dial the selected cell, then the spare column.
        Form->table->SelectCell(10, 3);
        Form->table->DialAction->trigger();
        QCOMPARE(Form->RecCommandShow->text(), QStringLiteral("未发送(主机中断):75     组1 行2 列1"));
        Form->table->SelectCell(129, 3);
        Form->table->DialAction->trigger();
        QCOMPARE(Core->HostLink().HostSendRing.Count(), 12);

        // "打开消息显示" hides the grid again and collects traffic.
        QTest::mouseClick(Form->Button(QStringLiteral("OpenMsgBtn")), Qt::LeftButton);
        QVERIFY(Form->table->isHidden());
        QVERIFY(Form->tablename->isHidden());
        QVERIFY(Core->CommMsg().Shown());
    }

    void confirmOtherKeyboardAndSave()
    {
        ShowKeyboard([](Teditfrom &d) {
            d.KeyboardBox->setEditText(QStringLiteral("5"));
            d.OkButton->click();
        });
        QCOMPARE(Core->Config().CurrentKeyboard, 5);
        QCOMPARE(Form->table->Cell(1, 1), QStringLiteral("网用7"));
        Form->table->item(0, 0)->setText(QStringLiteral("typed"));
        Form->table->SaveAction->trigger();
        QFile f(Dir->filePath(QStringLiteral("key.dat")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), Keys);
    }

    void refusedKeyboardChangesNothing()
    {
        ShowKeyboard([](Teditfrom &d) { d.CancelButton->click(); });
        bool stayedOpen = false;
        ShowKeyboard([&stayedOpen](Teditfrom &d) {
            d.KeyboardBox->setEditText(QString());
            d.OkButton->click();
            stayedOpen = d.isVisible();
            d.KeyboardBox->setEditText(QStringLiteral("16"));
            d.OkButton->click();
        });
        QVERIFY(stayedOpen);
        QMessageBox *box = Message();
        QVERIFY(box);
        QVERIFY(box->text().contains(QStringLiteral("16")));
        box->accept();
        QCOMPARE(Core->Config().CurrentKeyboard, 3);
        QCOMPARE(Form->table->Cell(10, 3), QStringLiteral("2001"));
    }

    void missingKeyFileIsReported()
    {
        QFile::remove(Dir->filePath(QStringLiteral("key.dat")));
        ShowKeyboard([](Teditfrom &d) { d.CancelButton->click(); });
        QMessageBox *box = Message();
        QVERIFY(box);
        QVERIFY(box->text().contains(QStringLiteral("key.dat")));
        box->accept();
        QVERIFY(Form->table->isVisible());
        QCOMPARE(Form->table->Cell(10, 3), QString());
        QCOMPARE(Form->table->horizontalHeaderItem(9)->text(), QStringLiteral("1*1"));
    }
};

QTEST_MAIN(TstKeyboardWindows)
#include "tst_keyboard_windows.moc"
