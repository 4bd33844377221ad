// The platform link at wire speed, measured against a bare UDP responder in the same run.
//
// Starts a copy of the built program (its window offscreen) in a private folder with a
// generated directory of 100 and of 10,000 extensions, and a bare responder process that answers
// every request with a frame of the same size as the program's reply. For the group list and
// the device status it measures one-at-a-time latency (p50/p99; both servers in turns, on the
// client's core), the rate answered as fast as possible, the loss when offered 10,000
// requests/s for 5 s, and the program's CPU while idle beside a bare Qt program with a
// 1-second timer.
//
// Usage: bench_platform_link [seconds-of-idle]   (default 10)
#include "directory/directory_store.h"
#include "platform_link/ldtx_frame.h"
#include "platform_link/unit_crc.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
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

// A private folder with a copy of the program, its settings and a directory of `phones`
// extensions in 10 groups.
bool Prepare(const QTemporaryDir &dir, int phones, uint16_t platformPort, uint16_t listenPort, uint16_t hostPort)
{
    if (!QFile::copy(QStringLiteral(VARNEX_PROGRAM), dir.filePath(QStringLiteral("varnex"))))
        return false;
    QFile::setPermissions(dir.filePath(QStringLiteral("varnex")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir().mkpath(dir.filePath(QStringLiteral("config")));
    QFile settings(dir.filePath(QStringLiteral("config/Zelvane.conf")));
    if (!settings.open(QIODevice::WriteOnly))
        return false;
    settings.write(QStringLiteral("CommIpAddress=127.0.0.1\nCommIpPort=%1\nCommRecIpPort=%2\nRecIpPort=%3\n"
                                  "IpAddress=127.0.0.1\nIpAddress1=127.0.0.1\nIpPort=%3\n")
                       .arg(platformPort)
                       .arg(listenPort)
                       .arg(hostPort)
                       .toUtf8());
    settings.close();
    TDM store;
    QString why;
    if (!store.Prepare(dir.path(), &why))
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
    db.commit();
    return true;
}

struct TFigures
{
    TClient::TLatency Latency[2];
    double Rate[2] = {0, 0};
    double Loss[2] = {0, 0};
    double IdleCpu = -1;
};

// One-at-a-time latency of the responder and the program, in alternating blocks so that both
// meet the same spells of load from the machine's other tenants. The client and both servers
// share one core meanwhile: this virtual machine's cores sleep between requests and take tens
// of microseconds, varying from run to run, to wake for a request from the other core, and
// the scheduler moves the two ends of a request-reply ping-pong between the cores at will.
// On one core what is measured is the path through each program.
void MeasureLatency(const TClient &bare, const TClient &program, const std::vector<pid_t> &servers,
                    TFigures &bareFigures, TFigures &programFigures)
{
    std::vector<pid_t> all = servers;
    all.push_back(0);
    Pin(all, true);
    const uint8_t types[2] = {LdtxFrame::GroupListQuery, LdtxFrame::DeviceStatusQuery};
    constexpr int Blocks = 50, BlockSize = 100; // 5,000 samples each: a steadier 99th percentile
    for (int t = 0; t < 2; ++t) {
        bare.Samples(types[t], 200); // warm up
        program.Samples(types[t], 200);
        std::vector<double> fromBare, fromProgram;
        int size = 0;
        for (int block = 0; block < Blocks; ++block) {
            const std::vector<double> b = bare.Samples(types[t], BlockSize);
            const std::vector<double> p = program.Samples(types[t], BlockSize, &size);
            fromBare.insert(fromBare.end(), b.begin(), b.end());
            fromProgram.insert(fromProgram.end(), p.begin(), p.end());
        }
        bareFigures.Latency[t] = TClient::Percentiles(fromBare);
        programFigures.Latency[t] = TClient::Percentiles(fromProgram);
        programFigures.Latency[t].ReplySize = size;
    }
    Pin(all, false);
}

// The rates and losses, then the program's CPU while idle (pid 0: none) and, over the same
// seconds, that of a bare Qt program whose only work is a 1-second timer, as the program's
// channels have one: on this virtual machine a core's waking alone costs from a tenth of a
// millisecond to a few.
void MeasureLoad(const TClient &client, TFigures &f, qint64 pid, int idleSeconds, qint64 tickerPid = 0,
                 double *tickerCpu = nullptr)
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
    if (pid > 0) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double before = CpuSeconds(pid);
        const double tickerBefore = CpuSeconds(tickerPid);
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        f.IdleCpu = 100.0 * (CpuSeconds(pid) - before) / idleSeconds;
        if (tickerCpu)
            *tickerCpu = 100.0 * (CpuSeconds(tickerPid) - tickerBefore) / idleSeconds;
    }
}

void Print(const char *title, const TFigures &bare, const TFigures &program)
{
    const char *names[2] = {"group list", "device status"};
    std::printf("\n%s\n", title);
    std::printf("| figure | bare responder | Varnex | ratio | goal |\n|---|---|---|---|---|\n");
    for (int t = 0; t < 2; ++t) {
        std::printf("| %s (%d-byte reply), one at a time, p50 | %.0f µs | %.0f µs | %.1f× | ≤ 3× |\n", names[t],
                    program.Latency[t].ReplySize, bare.Latency[t].P50, program.Latency[t].P50,
                    program.Latency[t].P50 / bare.Latency[t].P50);
        std::printf("| %s, one at a time, p99 | %.0f µs | %.0f µs | %.1f× | ≤ 3× |\n", names[t], bare.Latency[t].P99,
                    program.Latency[t].P99, program.Latency[t].P99 / bare.Latency[t].P99);
        std::printf("| %s, as fast as possible | %.0f/s | %.0f/s | %.2f | ≥ %s/s |\n", names[t], bare.Rate[t],
                    program.Rate[t], program.Rate[t] / bare.Rate[t], t == 0 ? "50,000" : "20,000");
        std::printf("| %s, offered 10,000/s for 5 s, lost | %.2f %% | %.2f %% | | 0 %% |\n", names[t], bare.Loss[t],
                    program.Loss[t]);
    }
    std::printf("| CPU while idle (beside it: a bare Qt program with a 1-second timer) | %.2f %% | %.2f %% of a core | | "
                "≤ 0.2 %% |\n",
                bare.IdleCpu, program.IdleCpu);
    std::fflush(stdout);
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
    const int idleSeconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    for (const int phones : {100, 10000}) {
        QTemporaryDir dir;
        const int client = Bound();
        const int probe1 = Bound(), probe2 = Bound();
        const uint16_t listen = PortOf(probe1), host = PortOf(probe2);
        close(probe1);
        close(probe2);
        if (!Prepare(dir, phones, PortOf(client), listen, host)) {
            std::fprintf(stderr, "cannot prepare %s\n", qPrintable(dir.path()));
            return 1;
        }
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(dir.path());
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(dir.filePath(QStringLiteral("varnex")), {});
        if (!program.waitForStarted(10000)) {
            std::fprintf(stderr, "the program did not start\n");
            return 1;
        }
        TClient toProgram{client, listen};
        bool up = false;
        for (int i = 0; i < 100 && !up; ++i) {
            toProgram.Send(Request(LdtxFrame::GroupListQuery, 9));
            up = toProgram.Receive(100) >= 0;
        }
        if (!up) {
            std::fprintf(stderr, "the program does not answer\n");
            return 1;
        }
        toProgram.Drain();

        TResponder responder;
        // The responder's replies are as long as the program's.
        for (const uint8_t type : {LdtxFrame::GroupListQuery, LdtxFrame::DeviceStatusQuery}) {
            int size = 0;
            toProgram.Send(Request(type, 1));
            toProgram.Receive(1000, &size);
            responder.Replies[type] = LdtxFrame::Build(QByteArray(size - 12, 'r'), type, 3, 0, CheckType)->Bytes.toStdString();
        }
        toProgram.Drain();
        responder.Start();
        const int bareClient = Bound();
        const TClient toResponder{bareClient, PortOf(responder.Fd)};
        TFigures bare, measured;
        MeasureLatency(toResponder, toProgram, {responder.Process, pid_t(program.processId())}, bare, measured);
        MeasureLoad(toResponder, bare, 0, 0);
        close(bareClient);
        QProcess ticker;
        ticker.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--tick")});
        ticker.waitForStarted(5000);
        MeasureLoad(toProgram, measured, program.processId(), idleSeconds, ticker.processId(), &bare.IdleCpu);
        ticker.kill();
        ticker.waitForFinished(5000);
        program.terminate();
        if (!program.waitForFinished(5000))
            program.kill();
        close(client);
        Print(qPrintable(QStringLiteral("Directory of %1 extensions in 10 groups").arg(phones)), bare, measured);
    }
    return 0;
}
