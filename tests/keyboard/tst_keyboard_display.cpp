#include "host_link/host_link.h"
#include "keyboard/key_table.h"
#include "keyboard/keyboard_display.h"
#include "common/configuration.h"
#include "common/settings_store.h"
#include "common/traffic_log.h"
#include "support/test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QDir>
#include <QTest>

namespace {
struct TDisplay
{
    QTemporaryDir Dir;
    TConfiguration Config;
    TSettingsStore Store{TestSupport::WriteSettings(Dir, {})};
    TKeyTable Keys;
    TTrafficLog Traffic;
    THostLink Host{Config, Traffic};
    TKeyboardDisplay Display{Config, Store, Keys, Host, Dir.filePath(QStringLiteral("key.dat"))};

    TDisplay() { Store.Open(); }
    void WriteKeys(const QByteArray &bytes)
    {
        QFile f(Dir.filePath(QStringLiteral("key.dat")));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
    }
    QByteArray KeyFile()
    {
        QFile f(Dir.filePath(QStringLiteral("key.dat")));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    QString Stored()
    {
        TSettingsStore s(Store.Path());
        s.Open();
        return s.Read(QStringLiteral("CurrentKeyboard"));
    }
};
} // namespace

class TstKeyboardDisplay : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void headersAndCells()
    {
        TDisplay d;
        QCOMPARE(TKeyboardDisplay::HeaderText(0), QStringLiteral("序 号"));
        QCOMPARE(TKeyboardDisplay::HeaderText(1), QStringLiteral("0*0"));
        QCOMPARE(TKeyboardDisplay::HeaderText(10), QStringLiteral("1*1"));
        QCOMPARE(TKeyboardDisplay::HeaderText(128), QStringLiteral("15*7"));
        QCOMPARE(TKeyboardDisplay::HeaderText(129), QString());
        QCOMPARE(TKeyboardDisplay::RowLabel(1), QStringLiteral("0"));
        QCOMPARE(TKeyboardDisplay::RowLabel(8), QStringLiteral("7"));
        d.Config.CurrentKeyboard = 3;
        d.WriteKeys(TestSupport::KeyFile({{3 * 1088 + 74, 2001}, {3 * 1088 + 1023, 0x8005}}));
        QCOMPARE(d.Display.Load(), QString());
        QCOMPARE(d.Display.CellText(10, 3), QStringLiteral("2001")); // module 1, column 1, row 2
        QCOMPARE(d.Display.CellText(128, 8), QStringLiteral("中继5"));
        QCOMPARE(d.Display.CellText(1, 1), QStringLiteral("空"));
        QCOMPARE(d.Display.CellText(129, 1), QString());
    }

    void dial_data()
    {
        QTest::addColumn<int>("gridColumn");
        QTest::addColumn<int>("gridRow");
        QTest::addColumn<QString>("caption"); // empty: nothing pressed
        QTest::newRow("column 10 row 3") << 10 << 3 << "发送:75     组1 行2 列1";
        QTest::newRow("last key") << 128 << 8 << "发送:1024     组15 行7 列7";
        QTest::newRow("spare column 129") << 129 << 1 << "";
        QTest::newRow("fixed row") << 5 << 0 << "";
    }
    void dial()
    {
        QFETCH(int, gridColumn);
        QFETCH(int, gridRow);
        QFETCH(QString, caption);
        TDisplay d;
        d.Host.CommToPabxUDPRead(QByteArray("alive"), d.Config.IpAddress); // the switch is there
        QCOMPARE(d.Display.Dial(gridColumn, gridRow), !caption.isEmpty());
        QCOMPARE(d.Host.HostSendRing.Count(), caption.isEmpty() ? 0 : 12);
        if (!caption.isEmpty())
            QCOMPARE(d.Host.RecCommandShow(), caption);
    }

    void chooseKeyboard_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("taken");
        QTest::newRow("5") << "5" << true;
        QTest::newRow("0") << "0" << true;
        QTest::newRow("8") << "8" << false;
        QTest::newRow("16") << "16" << false;
        QTest::newRow("-1") << "-1" << false;
        QTest::newRow("letters") << "x" << false;
    }
    void chooseKeyboard()
    {
        QFETCH(QString, text);
        QFETCH(bool, taken);
        TDisplay d;
        QCOMPARE(d.Display.ChooseKeyboard(text).isEmpty(), taken);
        QCOMPARE(d.Config.CurrentKeyboard, taken ? text.toInt() : 3);
        QCOMPARE(d.Stored(), taken ? text : QString());
        QCOMPARE(d.Config.StartKeyboard, 3);
    }

    void saveWritesWhatWasLoaded()
    {
        TDisplay d;
        QByteArray original = TestSupport::KeyFile({{0, 1}, {74, 2001}, {8703, -5}});
        d.WriteKeys(original);
        QCOMPARE(d.Display.Load(), QString());
        d.Config.CurrentKeyboard = 6;
        QCOMPARE(d.Display.Save(), QString());
        QCOMPARE(d.KeyFile(), original);
        QCOMPARE(d.Stored(), QStringLiteral("6"));
    }

    void saveWithNothingLoaded()
    {
        TDisplay d;
        QVERIFY(!d.Display.Load().isEmpty()); // no key.dat: a message for the operator
        QCOMPARE(d.Display.Save(), QString());
        QCOMPARE(d.KeyFile(), QByteArray(34816, '\0'));
    }

    void saveWhereNoFileCanBeWritten()
    {
        TDisplay d;
        TKeyboardDisplay display(d.Config, d.Store, d.Keys, d.Host, d.Dir.filePath(QStringLiteral("no/such/folder/key.dat")));
        QVERIFY(!display.Save().isEmpty());
    }

    // A key.dat that is not there is named with the folder it was looked for in.
    void missingFileNamesItsFolder()
    {
        TDisplay d;
        const QString before = QDir::currentPath();
        QDir::setCurrent(d.Dir.path());
        TKeyboardDisplay display(d.Config, d.Store, d.Keys, d.Host, QStringLiteral("key.dat"));
        const QString said = display.Load();
        QDir::setCurrent(before);
        QVERIFY2(said.contains(QDir::toNativeSeparators(d.Dir.filePath(QStringLiteral("key.dat")))), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(TstKeyboardDisplay)
#include "tst_keyboard_display.moc"
