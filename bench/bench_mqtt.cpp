// Positions through a real broker: MqttPublisher hands batches of positions
// (four tags, QoS 1, each also retained as the tag's last) to a mosquitto of
// its own on 127.0.0.1, and a QoS 1 subscriber counts what arrives. The figure
// is positions per second delivered end to end. Needs the mosquitto binary.
#include "mqttpublisher.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>
#include <mosquitto.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>

namespace {

int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QCoreApplication::processEvents();
        QThread::usleep(200);
    }
    return done();
}

int port = 0;
std::atomic<long> received{0};

// Batches of this many positions stay below the publisher's bound on
// unacknowledged messages, so none is dropped; the broker queues without limit
// (max_queued_messages 0), so it drops none for the subscriber either.
constexpr int Batch = 4000;

void BM_PublishDelivered(benchmark::State& state)
{
    MqttPublisher publisher;
    publisher.setAnchors({Anchor("1A2B", "Master", Qt::red, 0, 0, 0, true, 0)});
    MqttSettings settings;
    settings.enabled = true;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    publisher.configure(settings);
    if (!waitFor([&] { return publisher.isConnected(); }, 5000)) {
        state.SkipWithError("no connection to the broker");
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    long total = 0;
    for (auto _ : state) {
        const long target = received + Batch;
        for (int i = 0; i < Batch; ++i)
            publisher.publishPosition({QString(), QStringLiteral("2B0%1").arg(i % 4 + 1), QStringLiteral("Läufer"),
                                       now + i, 100 + i % 500, 200, 101, 199, 1.25, 500.0, 4.2, 3.1, 10.6, 0.25});
        if (!waitFor([&] { return received >= target; }, 30000)) {
            state.SkipWithError("positions lost");
            return;
        }
        total += Batch;
    }
    if (publisher.counts().dropped != 0)
        state.SkipWithError("positions dropped");
    state.SetItemsProcessed(total);
}
BENCHMARK(BM_PublishDelivered)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    const QString mosquittoPath = QStandardPaths::findExecutable(QStringLiteral("mosquitto"),
                                                                  {"/usr/sbin", "/usr/bin", "/usr/local/sbin"});
    if (mosquittoPath.isEmpty()) {
        std::fprintf(stderr, "mosquitto not installed (scripts/setup.sh test)\n");
        return 1;
    }
    QTemporaryDir dir;
    port = freePort();
    QFile conf(dir.filePath(QStringLiteral("broker.conf")));
    if (!conf.open(QIODevice::WriteOnly))
        return 1;
    conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest none\nuser %2\nmax_queued_messages 0\n")
                   .arg(port).arg(QString::fromLocal8Bit(getpwuid(getuid())->pw_name)).toUtf8());
    conf.close();
    QProcess broker;
    broker.start(mosquittoPath, {QStringLiteral("-c"), conf.fileName()});
    if (!broker.waitForStarted())
        return 1;

    mosquitto_lib_init();
    mosquitto* sub = mosquitto_new(nullptr, true, nullptr);
    mosquitto_message_callback_set(sub, [](mosquitto*, void*, const mosquitto_message*) { ++received; });
    const bool up = waitFor([&] { return mosquitto_connect(sub, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS; }, 5000);
    if (!up || mosquitto_subscribe(sub, nullptr, "orvane/+/tags/+/position", 1) != MOSQ_ERR_SUCCESS
        || mosquitto_loop_start(sub) != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "subscriber could not connect\n");
        return 1;
    }
    QThread::msleep(200);   // the subscription is in place

    benchmark::RunSpecifiedBenchmarks();

    mosquitto_disconnect(sub);
    mosquitto_loop_stop(sub, false);
    mosquitto_destroy(sub);
    broker.kill();
    broker.waitForFinished();
    return 0;
}
