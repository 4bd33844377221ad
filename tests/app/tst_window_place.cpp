#include "app/main_form.h"
#include "app/watch_panel.h"
#include "app/window_place.h"
#include "keyboard/key_grid.h"
#include "support/window_fixture.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

// The main window on a 1366×768 screen (the offscreen platform is given that size in main()).
class TstWindowPlace : public QObject, private TWindowFixture
{
    Q_OBJECT

    std::unique_ptr<TMainForm> Opened()
    {
        auto form = std::make_unique<TMainForm>(*Core);
        form->RestorePlace();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            return nullptr;
        return form;
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

    void fitsTheScreenAndComesBackWhereItWasLeft()
    {
        const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(free.size(), QSize(1366, 768));
        auto form = Opened();
        QVERIFY(form);
        QVERIFY2(free.contains(form->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(form->frameGeometry().x())
                    .arg(form->frameGeometry().y()).arg(form->frameGeometry().width()).arg(form->frameGeometry().height())));
        // The status bar with both link states is whole, and the left column starts on screen.
        const QRect status(form->Panel3->mapTo(form.get(), QPoint(0, 0)), form->Panel3->size());
        QCOMPARE(form->Panel3->height(), 49);
        QVERIFY(form->rect().contains(status));
        QVERIFY(form->mapToGlobal(QPoint(0, 0)).x() >= free.left());
        // Room for a title bar and a taskbar: the window is not held larger than such a screen gives.
        QVERIFY2(form->minimumSizeHint().height() <= 690, qPrintable(QString::number(form->minimumSizeHint().height())));
        // Channel 0 can be scrolled to, and no strip lies between column and channels.
        QCOMPARE(form->RunPanel->geometry().left(), form->Panel2->geometry().right() + 1);

        // Moved and resized by the operator, then closed: the next start puts it back.
        form->showNormal();
        QTRY_VERIFY(!form->isMaximized());
        form->setGeometry(40, 30, 1100, 690);
        QTRY_COMPARE(form->geometry(), QRect(40, 30, 1100, 690));
        form->close();
        form.reset();
        auto again = Opened();
        QVERIFY(again);
        QCOMPARE(again->geometry(), QRect(40, 30, 1100, 690));
        QVERIFY(!again->isMaximized());
    }

    // Wider than the design: the message panel and the key grid stand right of the channels.
    void panelsUseTheRoomRightOfTheChannels_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("beside");
        QTest::newRow("design width: over the channels") << 1382 << false;
        QTest::newRow("wide: beside them") << 2100 << true;
    }
    void panelsUseTheRoomRightOfTheChannels()
    {
        QFETCH(int, width);
        QFETCH(bool, beside);
        TMainForm form(*Core);
        form.resize(width, 784);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.Button(QStringLiteral("OpenMsgBtn"))->click();
        const int channelsRight = form.ChannelArea->mapTo(&form, QPoint(form.ChannelArea->width(), 0)).x();
        const int left = form.watchPanel->mapTo(&form, QPoint(0, 0)).x();
        QCOMPARE(left >= channelsRight, beside);
        if (!beside)
            QCOMPARE(form.watchPanel->geometry(), QRect(152, 48, 609, 641));
        QVERIFY(form.watchPanel->geometry().right() < form.centralWidget()->width());
    }
};

int main(int argc, char *argv[])
{
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screen.json"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly))
        return 1;
    f.write(R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1366, "height": 768, "logicalDpi": 96}]})");
    f.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    QApplication app(argc, argv);
    TstWindowPlace test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_place.moc"
