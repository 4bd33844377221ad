// The platform link at wire speed, measured against a bare UDP responder in the same run.
//
// Starts two copies of the built program (their windows offscreen), each in a private folder
// with a generated directory of 100 and of 10,000 extensions: one with the directory and the
// history in SQLite files, one in a database on a throwaway PostgreSQL server of the
// benchmark's own (made as the tests make theirs). Beside them a bare responder process answers
// every request with a frame of the same size as the program's reply. For the group list and
// the device status it measures one-at-a-time latency (p50/p99; the three servers in turns, on
// the client's core), the rate answered as fast as possible, the loss when offered 10,000
// requests/s for 5 s, and both programs' CPU while idle beside a bare Qt program with a
// 1-second timer (and the database server's). Last, another program inserts a group through a
// connection of its own, 50 times, and the time until a group-list reply carries it is taken.
//
// Usage: bench_platform_link [seconds-of-idle]   (default 10)
//        bench_platform_link --headless|--window [seconds-of-idle]   (default 30)
// The second form measures one program as a service runs it (no window), or with its main
// window (offscreen): on the files with 10,000 extensions it takes the same load, then its CPU
// while idle and its resident size are taken.
#include "directory/directory_copy.h"
#include "directory/directory_store.h"
#include "platform_link/ldtx_frame.h"
#include "platform_link/unit_crc.h"
#include "store/store_place.h"
#include "support/pg_server.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sched.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const QString CheckType = QStringLiteral("CRC-16/MODBUS");

int Bound(uint16_t port = 0)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    const int room = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    return fd;
}

uint16_t PortOf(int fd)
{
    sockaddr_in a{};
    socklen_t size = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &size);
    return ntohs(a.sin_port);
}

QByteArray Request(uint8_t type, uint16_t id)
{
    return LdtxFrame::Build({}, type, 0, id, CheckType)->Bytes;
}

// A program of its own that answers every request with a fixed reply per type, its message ID
// and check code set: the floor for any program answering over loopback on this machine.
struct TResponder
{
    int Fd = Bound();
    std::string Replies[8];
    pid_t Process = -1;

    // Forked before the benchmark starts any thread; the child only reads, checks and sends.
    void Start()
    {
        Process = fork();
        if (Process != 0)
            return;
        char in[8192];
        for (;;) {
            sockaddr_in from{};
            socklen_t size = sizeof from;
            const ssize_t n = recvfrom(Fd, in, sizeof in, 0, reinterpret_cast<sockaddr *>(&from), &size);
            if (n < 12)
                continue;
            std::string &reply = Replies[uint8_t(in[9]) & 7];
            if (reply.size() < 12)
                continue;
            reply[6] = in[6];
            reply[7] = in[7];
            const uint16_t code = GetCRC16CheckCode(QByteArrayView(reply.data(), qsizetype(reply.size() - 2)));
            reply[reply.size() - 2] = char(code & 0xFF);
            reply[reply.size() - 1] = char(code >> 8);
            sendto(Fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&from), size);
        }
    }
    ~TResponder()
    {
        if (Process > 0) {
            kill(Process, SIGKILL);
            waitpid(Process, nullptr, 0);
        }
        close(Fd);
    }
};

// Keeps every thread of the given processes (0: this one's calling thread) on one core, or
// lets them use all again.
void Pin(const std::vector<pid_t> &processes, bool oneCore)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    const int cores = oneCore ? 1 : int(sysconf(_SC_NPROCESSORS_ONLN));
    for (int c = 0; c < cores; ++c)
        CPU_SET(c, &set);
    for (const pid_t process : processes) {
        if (process == 0) {
            sched_setaffinity(0, sizeof set, &set);
            continue;
        }
        const QStringList threads = QDir(QStringLiteral("/proc/%1/task").arg(process)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &thread : threads)
            sched_setaffinity(pid_t(thread.toInt()), sizeof set, &set);
    }
}

// The client side: sends requests to a target port and takes the replies on its own socket.
struct TClient
{
    int Fd;
    uint16_t Target;

    void Send(const QByteArray &frame) const
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(Target);
        sendto(Fd, frame.constData(), size_t(frame.size()), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    // The message ID of the next reply, or -1 after timeoutMs; its size in *size.
    int Receive(int timeoutMs, int *size = nullptr) const
    {
        pollfd p{Fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return -1;
        char in[8192];
        const ssize_t n = recv(Fd, in, sizeof in, 0);
        if (size)
            *size = int(n);
        return n >= 12 ? (uint8_t(in[6]) | uint8_t(in[7]) << 8) : -1;
    }
    // The reply to one request (its message ID matched), or empty after timeoutMs.
    QByteArray Ask(uint8_t type, uint16_t id, int timeoutMs) const
    {
        Send(Request(type, id));
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        char in[8192];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd p{Fd, POLLIN, 0};
            if (left < 0 || poll(&p, 1, int(left)) <= 0)
                return {};
            const ssize_t n = recv(Fd, in, sizeof in, 0);
            if (n >= 12 && (uint8_t(in[6]) | uint8_t(in[7]) << 8) == id)
                return QByteArray(in, qsizetype(n));
        }
    }
    void Drain() const
    {
        while (Receive(20) >= 0) {
        }
    }

    struct TLatency
    {
        double P50 = 0, P99 = 0;
        int ReplySize = 0;
    };
    // Microseconds from each request sent to its reply, one request at a time.
    std::vector<double> Samples(uint8_t type, int count, int *replySize = nullptr) const
    {
        std::vector<double> micros;
        for (int i = 0; i < count; ++i) {
            const uint16_t id = uint16_t(i);
            const QByteArray frame = Request(type, id);
            const auto start = Clock::now();
            Send(frame);
            int got = -1;
            while ((got = Receive(1000, replySize)) >= 0 && got != id) {
            }
            if (got == id)
                micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        return micros;
    }
    static TLatency Percentiles(std::vector<double> micros)
    {
        TLatency result;
        std::sort(micros.begin(), micros.end());
        if (!micros.empty()) {
            result.P50 = micros[micros.size() / 2];
            result.P99 = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
        }
        return result;
    }

    // Counts the replies that arrive, on a thread of its own, until stopped.
    struct TReplyCounter
    {
        explicit TReplyCounter(const TClient &client)
            : Receiver([this, &client] {
                  while (!Done)
                      if (client.Receive(50) >= 0)
                          ++Count;
              })
        {
        }
        ~TReplyCounter() { Stop(); }
        void Stop()
        {
            Done = true;
            if (Receiver.joinable())
                Receiver.join();
        }
        operator long() const { return Count; }

        std::atomic<long> Count{0};
        std::atomic<bool> Done{false};
        std::thread Receiver;
    };

    // Replies per second with at most `window` requests in flight, over `seconds`. While the
    // window is full the sender sleeps rather than spins: on two cores a spinning sender takes
    // the core the answering program needs.
    double Rate(uint8_t type, double seconds, int window = 256) const
    {
        TReplyCounter answered(*this);
        const QByteArray frame = Request(type, 1);
        long sent = 0;
        long seen = 0;
        const auto start = Clock::now();
        const auto end = start + std::chrono::duration<double>(seconds);
        auto progress = start;
        for (auto now = start; now < end; now = Clock::now()) {
            if (const long a = answered; a != seen) {
                seen = a;
                progress = now;
            }
            if (sent - seen < window) {
                Send(frame);
                ++sent;
            } else if (now - progress > std::chrono::milliseconds(20)) {
                sent = seen; // the replies still missing were lost: open the window again
                progress = now;
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        }
        const long count = answered;
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        answered.Stop();
        Drain();
        return double(count) / elapsed;
    }

    // Share of requests not answered when offered `perSecond` for `seconds`, in percent.
    double Loss(uint8_t type, int perSecond, double seconds) const
    {
        TReplyCounter answered(*this);
        const QByteArray frame = Request(type, 2);
        const long total = long(perSecond * seconds);
        const auto start = Clock::now();
        for (long i = 0; i < total; ++i) {
            std::this_thread::sleep_until(start + std::chrono::nanoseconds(long(i * 1e9 / perSecond)));
            Send(frame);
        }
        for (int wait = 0; wait < 40 && answered < total; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        answered.Stop();
        Drain();
        return 100.0 * double(total - answered) / double(total);
    }
};

// The time the process's threads have been on a core, in seconds, to the nanosecond (the
// clock ticks of /proc/<pid>/stat count 10 ms, a tenth of the idle goal over 10 s). A thread
// that ends in between takes its time with it; the pool's threads end only after 30 s idle.
double CpuSeconds(qint64 pid)
{
    double total = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &thread : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + QLatin1Char('/') + thread + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return total;
}

double CpuSeconds(const std::vector<qint64> &processes)
{
    double total = 0;
    for (const qint64 pid : processes)
        total += CpuSeconds(pid);
    return total;
}

// The database server's processes: its main process and those it started (one per connection,
// and its own helpers).
std::vector<qint64> DatabaseProcesses(const QString &socketFolder)
{
    QFile pidFile(socketFolder + QStringLiteral("/data/postmaster.pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        return {};
    const qint64 main = pidFile.readLine().trimmed().toLongLong();
    std::vector<qint64> processes{main};
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isProcess = false;
        const qint64 pid = entry.toLongLong(&isProcess);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!isProcess || !stat.open(QIODevice::ReadOnly))
            continue;
        // After the name in parentheses (which may hold blanks): the state, then the parent.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == main)
            processes.push_back(pid);
    }
    return processes;
}

// With --scrape every program has a `varnex web` beside it, fed by its control socket, which a
// watcher process scrapes 10 times a second (/metrics) while holding the status page's live feed
// open; the ports they serve on.
bool Scrape = false;
bool Headless = false;
QList<int> WebPorts;

// The watcher: /metrics fetched every 100 ms and the page's feed held open on each port given.
int Watch(const QStringList &ports)
{
    QNetworkAccessManager manager;
    QTimer scrape;
    std::vector<std::unique_ptr<QWebSocket>> feeds;
    for (const QString &port : ports) {
        // The page's own origin: the web face opens its feed for no other.
        feeds.push_back(std::make_unique<QWebSocket>(QStringLiteral("http://127.0.0.1:%1").arg(port)));
        feeds.back()->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/events").arg(port)));
    }
    QObject::connect(&scrape, &QTimer::timeout, &manager, [&] {
        for (const QString &port : ports) {
            QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port))));
            QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        }
    });
    scrape.start(100);
    return QCoreApplication::exec();
}

// Settings and a directory of `phones` extensions in 10 groups beside a copy of the program:
// in the folder's files, or in the database the place names on the server.
bool Prepare(const QTemporaryDir &dir, int phones, uint16_t platformPort, uint16_t listenPort, uint16_t hostPort,
             const TStoreUrl &url, QString *why)
{
    if (!QFile::copy(QStringLiteral(VARNEX_PROGRAM), dir.filePath(QStringLiteral("varnex")))) {
        *why = QStringLiteral("cannot copy the program");
        return false;
    }
    QFile::setPermissions(dir.filePath(QStringLiteral("varnex")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir().mkpath(dir.filePath(QStringLiteral("config")));
    QFile settings(dir.filePath(QStringLiteral("config/Zelvane.conf")));
    if (!settings.open(QIODevice::WriteOnly)) {
        *why = settings.errorString();
        return false;
    }
    settings.write(QStringLiteral("CommIpAddress=127.0.0.1\nCommIpPort=%1\nCommRecIpPort=%2\nRecIpPort=%3\n"
                                  "IpAddress=127.0.0.1\nIpAddress1=127.0.0.1\nIpPort=%3\nHttpAddress=%4\n")
                       .arg(platformPort)
                       .arg(listenPort)
                       .arg(hostPort)
                       .arg(Scrape ? QStringLiteral("127.0.0.1:%1").arg(WebPorts.emplaceBack(TestSupport::FreeTcpPort())) : QString())
                       .toUtf8());
    settings.close();
    TDM store;
    if (!store.Prepare(dir.path(), why, url))
        return false;
    QSqlDatabase db = QSqlDatabase::database(store.Connection());
    QSqlQuery q(db);
    db.transaction();
    q.prepare(QStringLiteral("INSERT INTO TelNumber(TelNum, sequence, TelName, GroupNo1, Status) VALUES (?, ?, ?, ?, 0)"));
    for (int i = 0; i < phones; ++i) {
        q.bindValue(0, 20000 + i);
        q.bindValue(1, i + 1);
        q.bindValue(2, QStringLiteral("%1号工作面电话").arg(i));
        q.bindValue(3, QString::number(i % 10 + 1));
        q.exec();
    }
    q.prepare(QStringLiteral("INSERT INTO \"Group\"(GroupNum, sequence, GroupName) VALUES (?, ?, ?)"));
    for (int g = 1; g <= 10; ++g) {
        q.bindValue(0, g);
        q.bindValue(1, g);
        q.bindValue(2, QStringLiteral("%1号采区").arg(g));
        q.exec();
    }
    if (!db.commit()) {
        *why = db.lastError().text();
        return false;
    }
    return true;
}

// A copy of the built program in a private folder, its window offscreen, answering on a port
// of its own; the directory in the folder's files or, with an address, on the server.
struct TProgram
{
    QTemporaryDir Dir;
    TStorePlace Place;
    int Fd = Bound(); // the platform's end: requests go out and replies come back here
    TClient Client{Fd, 0};
    QProcess Process;
    QProcess Web; // with --scrape

    ~TProgram()
    {
        for (QProcess *process : {&Web, &Process})
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000)) {
                    process->kill();
                    process->waitForFinished(5000);
                }
            }
        close(Fd);
    }

    bool Start(int phones, const QString &url, QString *why)
    {
        const int probe1 = Bound(), probe2 = Bound();
        Client.Target = PortOf(probe1);
        const uint16_t host = PortOf(probe2);
        close(probe1);
        close(probe2);
        Place.File = TDM::FileIn(Dir.path());
        if (!TStoreUrl::Parse(url, &Place.Url, why) || !Prepare(Dir, phones, PortOf(Fd), Client.Target, host, Place.Url, why))
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Dir.filePath(QStringLiteral("config")));
        Process.setProcessEnvironment(env);
        Process.setWorkingDirectory(Dir.path());
        Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList common = QStringList{QStringLiteral("--control"), Dir.filePath(QStringLiteral("varnex.ctl"))}
            + (url.isEmpty() ? QStringList() : QStringList{QStringLiteral("--database"), url});
        Process.start(Dir.filePath(QStringLiteral("varnex")), common + (Headless ? QStringList{QStringLiteral("--headless")} : QStringList()));
        if (!Process.waitForStarted(10000)) {
            *why = QStringLiteral("the program did not start");
            return false;
        }
        if (Scrape) {
            Web.setProcessEnvironment(env);
            Web.setWorkingDirectory(Dir.path());
            Web.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            Web.start(Dir.filePath(QStringLiteral("varnex")), QStringList{QStringLiteral("web")} + common);
            if (!Web.waitForStarted(10000)) {
                *why = QStringLiteral("varnex web did not start");
                return false;
            }
        }
        for (int i = 0; i < 100; ++i) {
            Client.Send(Request(LdtxFrame::GroupListQuery, 9));
            if (Client.Receive(100) >= 0) {
                Client.Drain();
                return true;
            }
        }
        *why = QStringLiteral("the program does not answer");
        return false;
    }
};

struct TFigures
{
    TClient::TLatency Latency[2];
    double Rate[2] = {0, 0};
    double Loss[2] = {0, 0};
    double IdleCpu = -1;
    double RssMb = -1, PeakMb = -1; // VmRSS and VmHWM after the load and the idle seconds
    // Another program's commit to the first reply that shows it, in ms; -1: not measured.
    double CommitMedian = -1, CommitWorst = -1;
    int CommitsUnseen = 0;
};

// One-at-a-time latency of the responder and the programs, in alternating blocks so that all
// meet the same spells of load from the machine's other tenants. The client and the servers
// share one core meanwhile: this virtual machine's cores sleep between requests and take tens
// of microseconds, varying from run to run, to wake for a request from the other core, and
// the scheduler moves the two ends of a request-reply ping-pong between the cores at will.
// On one core what is measured is the path through each program.
void MeasureLatency(const std::vector<const TClient *> &clients, const std::vector<pid_t> &servers,
                    std::vector<TFigures> &figures)
{
    std::vector<pid_t> all = servers;
    all.push_back(0);
    Pin(all, true);
    const uint8_t types[2] = {LdtxFrame::GroupListQuery, LdtxFrame::DeviceStatusQuery};
    constexpr int Blocks = 50, BlockSize = 100; // 5,000 samples each: a steadier 99th percentile
    for (int t = 0; t < 2; ++t) {
        for (const TClient *client : clients)
            client->Samples(types[t], 200); // warm up
        std::vector<std::vector<double>> samples(clients.size());
        std::vector<int> sizes(clients.size(), 0);
        for (int block = 0; block < Blocks; ++block)
            for (size_t c = 0; c < clients.size(); ++c) {
                const std::vector<double> s = clients[c]->Samples(types[t], BlockSize, &sizes[c]);
                samples[c].insert(samples[c].end(), s.begin(), s.end());
            }
        for (size_t c = 0; c < clients.size(); ++c) {
            figures[c].Latency[t] = TClient::Percentiles(samples[c]);
            figures[c].Latency[t].ReplySize = sizes[c];
        }
    }
    Pin(all, false);
}

void MeasureLoad(const TClient &client, TFigures &f)
{
    const uint8_t types[2] = {LdtxFrame::GroupListQuery, LdtxFrame::DeviceStatusQuery};
    for (int t = 0; t < 2; ++t) {
        f.Rate[t] = client.Rate(types[t], 2.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        client.Drain();
        f.Loss[t] = client.Loss(types[t], 10000, 5.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        client.Drain();
    }
}

// The CPU of each group of processes over the same idle seconds, in percent of a core. Beside
// the programs runs a bare Qt program whose only work is a 1-second timer, as the program's
// channels have one: on this virtual machine a core's waking alone costs from a tenth of a
// millisecond to a few.
std::vector<double> IdleCpu(const std::vector<std::vector<qint64>> &groups, int seconds)
{
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::vector<double> before;
    for (const auto &group : groups)
        before.push_back(CpuSeconds(group));
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    std::vector<double> percent;
    for (size_t g = 0; g < groups.size(); ++g)
        percent.push_back(100.0 * (CpuSeconds(groups[g]) - before[g]) / seconds);
    return percent;
}

// The resident size now and at its highest (VmRSS, VmHWM), in MB.
std::pair<double, double> ResidentMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    double rss = -1, peak = -1;
    if (!status.open(QIODevice::ReadOnly))
        return {rss, peak};
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 2 && words[0] == "VmRSS:")
            rss = words[1].toDouble() / 1024;
        else if (words.size() >= 2 && words[0] == "VmHWM:")
            peak = words[1].toDouble() / 1024;
    }
    return {rss, peak};
}

// Another program inserts a group through a connection of its own (the statement committed on
// its own), `repeats` times; each time the milliseconds from sending the INSERT to the first
// group-list reply that carries the group. The platform asks all along, every 200 µs, and the
// inserts come 50–150 ms apart at no fixed phase: on the files a commit is looked for at most
// every 100 ms, when a request comes.
std::vector<double> InsertsSeen(const TClient &client, const QSqlDatabase &other, int repeats, int *unseen)
{
    std::vector<double> ms;
    QSqlQuery insert(other);
    insert.prepare(QStringLiteral("INSERT INTO \"Group\"(GroupNum, sequence, GroupName) VALUES (?, ?, ?)"));
    const auto pace = std::chrono::microseconds(200);
    std::mt19937 random(7);
    uint16_t id = 40000;
    client.Drain();
    for (int r = 0; r < repeats; ++r) {
        const auto quiet = Clock::now() + std::chrono::milliseconds(50 + random() % 100);
        while (Clock::now() < quiet) {
            client.Ask(LdtxFrame::GroupListQuery, ++id, 1000);
            std::this_thread::sleep_for(pace);
        }
        const int number = 1000 + r;
        const QString group = QStringLiteral("新采区%1").arg(number);
        const QByteArray row = TDirectoryRows::WireRow(number, group, nullptr);
        insert.bindValue(0, number);
        insert.bindValue(1, number);
        insert.bindValue(2, group);
        const auto start = Clock::now();
        if (!insert.exec()) {
            std::fprintf(stderr, "another program's INSERT failed: %s\n", qPrintable(insert.lastError().text()));
            break;
        }
        const auto deadline = start + std::chrono::seconds(10);
        for (;;) {
            if (client.Ask(LdtxFrame::GroupListQuery, ++id, 1000).contains(row)) {
                ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                break;
            }
            if (Clock::now() > deadline) {
                ++*unseen;
                break;
            }
            std::this_thread::sleep_for(pace);
        }
    }
    client.Drain();
    return ms;
}

void CommitToReply(const TProgram &program, int repeats, TFigures &f)
{
    const QString name = QStringLiteral("other-program");
    std::vector<double> ms;
    {
        QSqlDatabase other = program.Place.Add(name, QStringLiteral("another program"), false, 2000);
        if (other.open())
            ms = InsertsSeen(program.Client, other, repeats, &f.CommitsUnseen);
        else
            std::fprintf(stderr, "another program cannot connect: %s\n", qPrintable(other.lastError().text()));
        other.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (ms.empty())
        return;
    std::sort(ms.begin(), ms.end());
    f.CommitMedian = ms[ms.size() / 2];
    f.CommitWorst = ms.back();
}

std::string Format(const char *format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// One line of the table: the responder's cell, then each program's cell and its ratio to the
// responder (empty where the ratio says nothing), then the goal; a program not measured shows
// a dash.
void Row(const std::string &figure, const std::string &bare, const std::vector<std::string> &programs,
         const std::vector<std::string> &ratios, const char *goal)
{
    std::printf("| %s | %s", figure.c_str(), bare.c_str());
    for (size_t p = 0; p < 2; ++p)
        std::printf(" | %s | %s", p < programs.size() ? programs[p].c_str() : "—", p < ratios.size() ? ratios[p].c_str() : "");
    std::printf(" | %s |\n", goal);
}

void Print(const char *title, const std::vector<TFigures> &f, double databaseIdle)
{
    const char *names[2] = {"group list", "device status"};
    const TFigures &bare = f[0];
    std::vector<const TFigures *> programs;
    for (size_t p = 1; p < f.size(); ++p)
        programs.push_back(&f[p]);
    auto each = [&](auto cell) {
        std::vector<std::string> cells;
        for (const TFigures *program : programs)
            cells.push_back(cell(*program));
        return cells;
    };
    const std::vector<std::string> none(programs.size());
    std::printf("\n%s\n", title);
    std::printf("| figure | bare responder | Varnex, files | ratio | Varnex, server | ratio | goal |\n"
                "|---|---|---|---|---|---|---|\n");
    for (int t = 0; t < 2; ++t) {
        char label[96];
        std::snprintf(label, sizeof label, "%s (%d-byte reply), one at a time, p50", names[t], f[1].Latency[t].ReplySize);
        Row(label, Format("%.0f µs", bare.Latency[t].P50), each([&](const TFigures &p) { return Format("%.0f µs", p.Latency[t].P50); }),
            each([&](const TFigures &p) { return Format("%.1f×", p.Latency[t].P50 / bare.Latency[t].P50); }), "≤ 3×");
        Row(std::string(names[t]) + ", one at a time, p99", Format("%.0f µs", bare.Latency[t].P99),
            each([&](const TFigures &p) { return Format("%.0f µs", p.Latency[t].P99); }),
            each([&](const TFigures &p) { return Format("%.1f×", p.Latency[t].P99 / bare.Latency[t].P99); }), "≤ 3×");
        Row(std::string(names[t]) + ", as fast as possible", Format("%.0f/s", bare.Rate[t]),
            each([&](const TFigures &p) { return Format("%.0f/s", p.Rate[t]); }),
            each([&](const TFigures &p) { return Format("%.2f", p.Rate[t] / bare.Rate[t]); }), t == 0 ? "≥ 50,000/s" : "≥ 20,000/s");
        Row(std::string(names[t]) + ", offered 10,000/s for 5 s, lost", Format("%.2f %%", bare.Loss[t]),
            each([&](const TFigures &p) { return Format("%.2f %%", p.Loss[t]); }), none, "0 %");
    }
    std::vector<std::string> idle = each([](const TFigures &p) { return Format("%.2f %% of a core", p.IdleCpu); });
    if (idle.size() > 1 && databaseIdle >= 0)
        idle[1] += Format(" (its database server: %.2f %%)", databaseIdle);
    Row("CPU while idle (beside it: a bare Qt program with a 1-second timer)", Format("%.2f %%", bare.IdleCpu), idle, none,
        "≤ 0.2 %");
    Row("resident size after the load and the idle seconds, VmRSS / VmHWM", "",
        each([](const TFigures &p) { return Format("%.1f", p.RssMb) + Format(" / %.1f MB", p.PeakMb); }), none, "< 75 MB");
    Row("another program's INSERT of a group to the first group-list reply with it, median / worst", "",
        each([](const TFigures &p) {
            if (p.CommitMedian < 0)
                return std::string("not seen");
            return Format("%.1f", p.CommitMedian) + Format(" / %.1f ms", p.CommitWorst)
                + (p.CommitsUnseen ? Format(" (%.0f never seen)", p.CommitsUnseen) : std::string());
        }),
        none, "");
    std::fflush(stdout);
}

// One program after the load, as a service runs it (headless) or with its window: its CPU
// while idle beside the bare Qt program, and its resident size.
int MeasureOne(bool headless, int idleSeconds)
{
    Headless = headless;
    TProgram program;
    QString why;
    if (!program.Start(10000, QString(), &why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    TFigures figures;
    MeasureLoad(program.Client, figures);
    const auto [loadedRss, loadedPeak] = ResidentMb(program.Process.processId());
    QProcess ticker;
    ticker.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--tick")});
    ticker.waitForStarted(5000);
    const std::vector<double> idle = IdleCpu({{ticker.processId()}, {program.Process.processId()}}, idleSeconds);
    const auto [rss, peak] = ResidentMb(program.Process.processId());
    ticker.kill();
    ticker.waitForFinished(5000);
    std::printf("\n%s, files, 10,000 extensions, after the load\n"
                "| figure | bare Qt program, 1-second timer | Varnex | goal |\n|---|---|---|---|\n",
                headless ? "No window (--headless)" : "Main window (offscreen)");
    std::printf("| group list as fast as possible / device status | | %.0f/s / %.0f/s | |\n", figures.Rate[0], figures.Rate[1]);
    std::printf("| CPU while idle (%d s) | %.3f %% | %.3f %% of a core | ≤ 0.1 %% |\n", idleSeconds, idle[0], idle[1]);
    std::printf("| resident size right after the load, VmRSS / VmHWM | | %.1f / %.1f MB | < 75 MB |\n", loadedRss, loadedPeak);
    std::printf("| resident size after the idle seconds, VmRSS / VmHWM | | %.1f / %.1f MB | < 75 MB |\n", rss, peak);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--tick") { // the idle reference
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &app, [] {});
        tick.start(1000);
        return app.exec();
    }
    if (argc > 1 && QByteArray(argv[1]) == "--watch")
        return Watch(QCoreApplication::arguments().mid(2));
    QStringList arguments = QCoreApplication::arguments().mid(1);
    for (const bool headless : {true, false})
        if (arguments.removeAll(headless ? QStringLiteral("--headless") : QStringLiteral("--window")) > 0)
            return MeasureOne(headless, !arguments.isEmpty() ? std::max(1, arguments.first().toInt()) : 30);
    Scrape = arguments.removeAll(QStringLiteral("--scrape")) > 0;
    const int idleSeconds = !arguments.isEmpty() ? std::max(1, arguments.first().toInt()) : 10;
    TPgServer &server = TPgServer::Shared();
    if (!server.Problem().isEmpty())
        std::fprintf(stderr, "the server's column stays empty: %s\n", qPrintable(server.Problem()));
    for (const int phones : {100, 10000}) {
        // [0] on the files, [1] on the server.
        std::vector<std::unique_ptr<TProgram>> programs;
        for (const bool onServer : {false, true}) {
            if (onServer && !server.Problem().isEmpty())
                continue;
            auto program = std::make_unique<TProgram>();
            QString why;
            if (!program->Start(phones, onServer ? server.NewDatabase() : QString(), &why)) {
                std::fprintf(stderr, "%s: %s\n", onServer ? "on the server" : "on the files", qPrintable(why));
                return 1;
            }
            programs.push_back(std::move(program));
        }

        QProcess watcher;
        if (Scrape) {
            QStringList ports{QStringLiteral("--watch")};
            for (int port : std::as_const(WebPorts))
                ports << QString::number(port);
            watcher.start(QCoreApplication::applicationFilePath(), ports);
            watcher.waitForStarted(5000);
            QThread::msleep(500);
        }
        WebPorts.clear();

        TResponder responder;
        // The responder's replies are as long as the program's.
        for (const uint8_t type : {LdtxFrame::GroupListQuery, LdtxFrame::DeviceStatusQuery}) {
            int size = 0;
            const TClient &toProgram = programs[0]->Client;
            toProgram.Send(Request(type, 1));
            toProgram.Receive(1000, &size);
            responder.Replies[type] = LdtxFrame::Build(QByteArray(size - 12, 'r'), type, 3, 0, CheckType)->Bytes.toStdString();
            toProgram.Drain();
        }
        responder.Start();
        const int bareClient = Bound();
        const TClient toResponder{bareClient, PortOf(responder.Fd)};
        std::vector<const TClient *> clients{&toResponder};
        std::vector<pid_t> servers{responder.Process};
        for (const auto &program : programs) {
            clients.push_back(&program->Client);
            servers.push_back(pid_t(program->Process.processId()));
        }
        std::vector<TFigures> figures(clients.size());
        MeasureLatency(clients, servers, figures);
        for (size_t c = 0; c < clients.size(); ++c)
            MeasureLoad(*clients[c], figures[c]);
        close(bareClient);

        QProcess ticker;
        ticker.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--tick")});
        ticker.waitForStarted(5000);
        std::vector<std::vector<qint64>> idleGroups{{ticker.processId()}};
        for (const auto &program : programs)
            idleGroups.push_back({program->Process.processId()});
        if (programs.size() > 1)
            idleGroups.push_back(DatabaseProcesses(server.SocketFolder()));
        const std::vector<double> idle = IdleCpu(idleGroups, idleSeconds);
        for (size_t c = 0; c < clients.size(); ++c)
            figures[c].IdleCpu = idle[c];
        for (size_t p = 0; p < programs.size(); ++p)
            std::tie(figures[p + 1].RssMb, figures[p + 1].PeakMb) = ResidentMb(programs[p]->Process.processId());
        ticker.kill();
        ticker.waitForFinished(5000);
        watcher.kill();
        watcher.waitForFinished(5000);

        for (size_t p = 0; p < programs.size(); ++p)
            CommitToReply(*programs[p], 50, figures[p + 1]);
        Print(qPrintable(QStringLiteral("Directory of %1 extensions in 10 groups").arg(phones)), figures,
              programs.size() > 1 ? idle.back() : -1);
    }
    return 0;
}
