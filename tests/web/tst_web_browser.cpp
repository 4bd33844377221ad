#include "app/varnex_core.h"
#include "directory/directory.h"
#include "platform_link/ldtx_frame.h"
#include "support/test_support.h"
#include "control/control_server.h"
#include "history/history.h"
#include "web/web_face.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

// Chromium without a window, driven over WebDriver from its driver on a free port.
class TBrowser
{
public:
    ~TBrowser()
    {
        if (!Session.isEmpty())
            Command("DELETE", QString());
        Driver.kill();
        Driver.waitForFinished(5000);
    }
    bool Start(QString *why)
    {
        const QString driver = QStandardPaths::findExecutable(QStringLiteral("chromedriver"));
        const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (driver.isEmpty() || chromium.isEmpty()) {
            *why = QStringLiteral("chromium and chromedriver are not installed (Debian: chromium chromium-driver)");
            return false;
        }
        Port = TestSupport::FreeTcpPort();
        Driver.start(driver, {QStringLiteral("--port=%1").arg(Port)});
        if (!QTest::qWaitFor([this] { return TestSupport::Http("GET", Base() + QStringLiteral("/status")).Status == 200; }, 15000)) {
            *why = QStringLiteral("chromedriver did not answer: ") + QString::fromUtf8(Driver.readAll());
            return false;
        }
        const QJsonObject options{{"binary", chromium},
                                  {"args", QJsonArray{"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                                                      "--window-size=900,1100", "--user-data-dir=" + Profile.path()}}};
        const QJsonObject capabilities{{"capabilities", QJsonObject{{"alwaysMatch", QJsonObject{{"goog:chromeOptions", options}}}}}};
        const auto answer = TestSupport::Http("POST", Base() + QStringLiteral("/session"), {{"Content-Type", "application/json"}},
                                              QJsonDocument(capabilities).toJson());
        Session = QJsonDocument::fromJson(answer.Body)[QStringLiteral("value")][QStringLiteral("sessionId")].toString();
        if (Session.isEmpty())
            *why = QStringLiteral("no browser session: ") + QString::fromUtf8(answer.Body);
        return !Session.isEmpty();
    }
    void Open(const QString &url) { Command("POST", QStringLiteral("/url"), QJsonObject{{"url", url}}); }
    // The value of a script run in the page.
    QJsonValue Run(const QString &script)
    {
        return Command("POST", QStringLiteral("/execute/sync"), QJsonObject{{"script", script}, {"args", QJsonArray()}});
    }
    // The first element css finds (a WebDriver element reference), empty when there is none.
    QString Find(const QString &css)
    {
        const QJsonObject found = Command("POST", QStringLiteral("/element"), QJsonObject{{"using", "css selector"}, {"value", css}}).toObject();
        return found.isEmpty() ? QString() : found.begin().value().toString();
    }
    // A real pointer click and real key strokes, as an operator gives them.
    void Click(const QString &element) { Command("POST", QStringLiteral("/element/%1/click").arg(element)); }
    void Type(const QString &element, const QString &keys)
    {
        Command("POST", QStringLiteral("/element/%1/value").arg(element), QJsonObject{{"text", keys}});
    }
    QByteArray Screenshot() { return QByteArray::fromBase64(Command("GET", QStringLiteral("/screenshot")).toString().toLatin1()); }

private:
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(Port); }
    QJsonValue Command(const QByteArray &method, const QString &path, const QJsonObject &body = {})
    {
        const auto answer = TestSupport::Http(method, Base() + QStringLiteral("/session/") + Session + path,
                                              {{"Content-Type", "application/json"}},
                                              method == "GET" || method == "DELETE" ? QByteArray() : QJsonDocument(body).toJson());
        return QJsonDocument::fromJson(answer.Body)[QStringLiteral("value")];
    }

    QProcess Driver;
    QTemporaryDir Profile;
    int Port = 0;
    QString Session;
};

} // namespace

class TstWebBrowser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The page in a real browser: eight channels and both links; a notification from the platform
    // shows on its channel and at the top of the history without a reload; the program gone from
    // the control socket and back shows too.
    void pageFollowsTheProgram()
    {
        TBrowser browser;
        if (QString why; !browser.Start(&why))
            QSKIP(qPrintable(why));
        QTemporaryDir dir;
        QUdpSocket platform;
        QVERIFY(platform.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        TRecordingPlayer player;
        // 2001 has a key on the console, 2002 none.
        QFile keys(dir.filePath(QStringLiteral("key.dat")));
        QVERIFY(keys.open(QIODevice::WriteOnly));
        keys.write(TestSupport::KeyFile({{3 * 1088 + 74, 2001}}));
        keys.close();
        auto core = TestSupport::StartCore(dir, {QStringLiteral("CommIpPort=%1").arg(platform.localPort()), QStringLiteral("ifUse0=是"),
                                                 QStringLiteral("ifUse1=是")},
                                           &player);
        core->Directory().AddTelNumber(QStringLiteral("2001"), QStringLiteral("井口"), {}, {"5"}, QStringLiteral("0"), {});
        core->Directory().AddTelNumber(QStringLiteral("2002"), QStringLiteral("泵房"), {}, {"5"}, QStringLiteral("0"), {});
        core->Directory().Query().Execute(QStringLiteral("insert into \"Group\"(GroupNum, sequence, GroupName) values (5, 1, '一采区')"));
        QVERIFY(TestSupport::CopyCaughtUp(core->Directory()));
        core->StartTimers();
        // The web face as `varnex web` runs it, fed by the program's control socket.
        TControlServer control(core->Status(), core->PairRole());
        QVERIFY(control.Listen(dir.filePath(QStringLiteral("varnex.ctl"))) == TControlServer::TListen::Listening);
        TWebFace web(control.Path(), core->History().Where(), true);
        QString why;
        QVERIFY2(web.Listen(QStringLiteral("127.0.0.1:0"), QString(), {}, &why), qPrintable(why));

        browser.Open(QStringLiteral("http://127.0.0.1:%1/").arg(web.Port()));
        QTRY_COMPARE_WITH_TIMEOUT(browser.Run(QStringLiteral("return document.querySelectorAll('#channels .channel').length")).toInt(), 8, 10000);
        // Named as the main window names them.
        QVERIFY(browser.Run(QStringLiteral("return document.querySelector('#channels .channel b').textContent")).toString().startsWith(QStringLiteral("第0路")));
        QVERIFY(browser.Run(QStringLiteral("return document.querySelectorAll('#channels .channel b')[7].textContent")).toString().startsWith(QStringLiteral("第7路")));
        QCOMPARE(browser.Run(QStringLiteral("return document.querySelector('#link-platform .state').textContent")).toString(), QStringLiteral("中断"));
        QCOMPARE(browser.Run(QStringLiteral("return document.querySelector('#link-switch .state').textContent")).toString(), QStringLiteral("中断"));
        QCOMPARE(browser.Run(QStringLiteral("return document.querySelector('#channels .channel').textContent")).toString().contains(QStringLiteral("井下撤离")), false);
        // What keeps an alarm from a phone, at the top: a request from another address than the
        // platform's is listed with its cause and counted.
        {
            QUdpSocket stranger;
            QVERIFY(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
            stranger.writeDatagram(QByteArray::fromHex("4c4454580400000000006d61"), QHostAddress::LocalHost,
                                   quint16(core->Config().CommRecIpPort));
        }
        QTRY_VERIFY_WITH_TIMEOUT(browser.Run(QStringLiteral("return document.querySelector('#alarm-problems li[data-cause=\"wrong_address\"]') !== null")).toBool(),
                                 3000);
        QVERIFY(browser.Run(QStringLiteral("return document.getElementById('alarm-state').textContent")).toString().contains(QStringLiteral("处问题")));
        QVERIFY(browser.Run(QStringLiteral("return document.getElementById('alarm-counts').textContent")).toString().contains(QStringLiteral("非平台地址：1")));
        const QString loadedAt = browser.Run(QStringLiteral("window.loadMark = window.loadMark || Math.random(); return String(window.loadMark)")).toString();

        const QByteArray voice = QByteArray(1, char(0)) + LdtxFrame::Le32(5) + char(2) + QStringLiteral("井下撤离").toUtf8() + char(3);
        QCOMPARE(TestSupport::Ask(platform, core->Config().CommRecIpPort, LdtxFrame::VoiceNotify, voice, 41), int(LdtxFrame::CallNotifyResult));
        // Within 2 s, on the page as it stands: the channel, the newest history entry, the link.
        QTRY_VERIFY_WITH_TIMEOUT(browser.Run(QStringLiteral("return document.querySelector('#channels .channel').textContent")).toString()
                                     .contains(QStringLiteral("井下撤离")), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(browser.Run(QStringLiteral("const r = document.querySelector('#history tr'); return r ? r.textContent : ''")).toString()
                                     .contains(QStringLiteral("井下撤离")), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(browser.Run(QStringLiteral("return document.querySelector('#link-platform .state').textContent")).toString(),
                                  QStringLiteral("正常"), 2000);
        QCOMPARE(browser.Run(QStringLiteral("return String(window.loadMark)")).toString(), loadedAt); // no reload

        // The entry opened by a click shows its numbers as the history holds them: name, key
        // position; the number without a key stands out.
        const TNotice *held = core->History().LastOf(0);
        QVERIFY(held);
        QCOMPARE(held->Numbers.size(), 2);
        QVERIFY(held->Numbers[0].KeyPosition != TNotice::NoKeyText());
        const QString numbers = QStringLiteral("const d = document.querySelector('#history tr.details'); return d ? d.textContent : ''");
        const QString keyless = QStringLiteral("return Array.from(document.querySelectorAll('#history tr.details tr.keyless'), r => r.textContent).join('|')");
        QCOMPARE(browser.Run(numbers).toString(), QString());
        // Found afresh for every try: the history may be drawn anew meanwhile (the entry's
        // outcome changes), and a click on a row no longer shown is lost.
        const QString entry = QStringLiteral("#history tr.entry");
        QTRY_VERIFY_WITH_TIMEOUT((browser.Click(browser.Find(entry)), browser.Run(numbers).toString().contains(QStringLiteral("2001"))), 5000);
        const QString shown = browser.Run(numbers).toString();
        QVERIFY2(shown.contains(QStringLiteral("2001井口") + held->Numbers[0].KeyPosition), qPrintable(shown));
        QCOMPARE(browser.Run(keyless).toString().left(9), QStringLiteral("2002泵房") + TNotice::NoKeyText());
        // Enter on the focused row closes it, and opens it again.
        const QString focused = QStringLiteral("const f = document.activeElement; return f && f.matches('#history tr.entry') ? f.dataset.id : ''");
        QCOMPARE(browser.Run(focused).toString(), QString::number(held->Id));
        QTRY_VERIFY_WITH_TIMEOUT((browser.Type(browser.Find(entry), QStringLiteral("\uE007")), browser.Run(numbers).toString().isEmpty()), 5000);
        QTRY_VERIFY_WITH_TIMEOUT((browser.Type(browser.Find(entry), QStringLiteral("\uE007")), browser.Run(numbers).toString().contains(QStringLiteral("井口"))),
                                 5000);

        // A change of the status alone leaves the history's rows in place: a row replaced between
        // the press and the release of a click takes no click.
        browser.Run(QStringLiteral("window.entryRow = document.querySelector('#history tr.entry');"
                                   " window.seenHistory = JSON.stringify(lastHistory); return 0"));

        // The program gone from the control socket: the page says so, and no stale link state.
        control.Close();
        QTRY_COMPARE_WITH_TIMEOUT(browser.Run(QStringLiteral("return getComputedStyle(document.getElementById('stopped')).display")).toString(),
                                  QStringLiteral("block"), 8000);
        QCOMPARE(browser.Run(QStringLiteral("return document.querySelector('#link-platform .state').textContent")).toString(), QStringLiteral("未知"));
        QCOMPARE(browser.Run(QStringLiteral("return document.getElementById('alarm-state').textContent")).toString(), QStringLiteral("未知"));
        QVERIFY(browser.Run(QStringLiteral("return document.querySelector('#history tr').textContent")).toString().contains(QStringLiteral("井下撤离")));
        // With the program gone, the opened entry stays open.
        QVERIFY(browser.Run(numbers).toString().contains(QStringLiteral("井口")));
        QVERIFY(browser.Run(QStringLiteral("return JSON.stringify(lastHistory) !== window.seenHistory"
                                           " || document.querySelector('#history tr.entry') === window.entryRow")).toBool());
        QVERIFY(control.Listen(dir.filePath(QStringLiteral("varnex.ctl"))) == TControlServer::TListen::Listening);
        QTRY_COMPARE_WITH_TIMEOUT(browser.Run(QStringLiteral("return document.querySelector('#link-platform .state').textContent")).toString(),
                                  QStringLiteral("正常"), 8000);
        QCOMPARE(browser.Run(QStringLiteral("return getComputedStyle(document.getElementById('stopped')).display")).toString(), QStringLiteral("none"));

        const QByteArray png = browser.Screenshot();
        QVERIFY(png.startsWith("\x89PNG"));
        QFile shot(TestSupport::BuildPath(QStringLiteral("web-status.png")));
        QVERIFY(shot.open(QIODevice::WriteOnly));
        shot.write(png);
    }
};

QTEST_GUILESS_MAIN(TstWebBrowser)
#include "tst_web_browser.moc"
