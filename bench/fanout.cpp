// Fan-out: N copies of the helper started at once (or some time apart), as
// the file manager starts them for a selection of N files, against N
// copies of the floor (a Qt program that only starts, takes a shared-memory
// lock and writes its path) and N bare processes started the same way. Prints, for each case, the time from the
// first start to the editor's start, from the last copy's exit to the
// editor's start, the primary's processor time, the peak memory of a copy,
// and the paths delivered.

#include "selection_support.h"

#include <QtCore/qcoreapplication.h>
#include <QtCore/qdatetime.h>
#include <QtCore/qeventloop.h>
#include <QtCore/qtimer.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include <sys/resource.h>


namespace {

qint64 nowNs()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Sample
{
    qint64 cpuNs = 0;
    qint64 peakKb = 0;
};

// What /proc tells of a running process; kept from the last look before it ends.
void sample(qint64 pid, Sample *into)
{
    const QByteArray cpu = readAll(QStringLiteral("/proc/%1/schedstat").arg(pid)).split(' ').value(0);
    if (!cpu.isEmpty())
        into->cpuNs = cpu.toLongLong();
    for (const QByteArray &line : readAll(QStringLiteral("/proc/%1/status").arg(pid)).split('\n')) {
        if (line.startsWith("VmHWM:"))
            into->peakKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
}

// Processor time of the children reaped so far (user and system).
qint64 childrenCpuNs()
{
    rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ns = [](const timeval &t) { return qint64(t.tv_sec) * 1000000000 + qint64(t.tv_usec) * 1000; };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

struct Run
{
    qint64 cpuNs = 0; // of all the copies together
    qint64 firstStartNs = 0;
    qint64 lastExitNs = 0;
    qint64 lastSecondaryExitNs = 0; // of every copy but the one that ended last
    std::map<qint64, Sample> samples;
    qint64 lastPid = 0; // the copy that ended last: the primary
};

Run runCopies(const QString &program, const QStringList &paths, int apartMs,
              const QProcessEnvironment &env, const QString &flag)
{
    Run run;
    const qint64 cpuBefore = childrenCpuNs();
    Processes copies;
    std::map<QProcess *, qint64> pids;
    int running = 0;
    QEventLoop loop;
    run.firstStartNs = nowNs();
    for (const QString &path : paths) {
        if (apartMs > 0 && !copies.empty()) {
            QElapsedTimer apart;
            apart.start();
            while (apart.elapsed() < apartMs)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        auto copy = std::make_unique<QProcess>();
        copy->setProcessEnvironment(env);
        QProcess *raw = copy.get();
        QObject::connect(raw, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), [&, raw] {
            run.lastSecondaryExitNs = run.lastExitNs;
            run.lastExitNs = nowNs();
            if (qEnvironmentVariableIsSet("BENCH_TRACE"))
                std::printf("  exit %.1f ms\n", (run.lastExitNs - run.firstStartNs) / 1e6);
            run.lastPid = pids[raw];
            if (--running == 0)
                loop.quit();
        });
        copy->start(program, { flag, path });
        pids[raw] = copy->processId();
        ++running;
        copies.push_back(std::move(copy));
    }
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        for (auto &copy : copies) {
            if (copy->state() == QProcess::Running)
                sample(copy->processId(), &run.samples[copy->processId()]);
        }
    });
    sampler.start(5);
    if (running > 0)
        loop.exec();
    run.cpuNs = childrenCpuNs() - cpuBefore;
    return run;
}

// Returns the ratio of the helper's time to the editor to the floor's + 200 ms.
double benchCase(const char *label, int count, int apartMs, int heldMs = 0)
{
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths.append(QStringLiteral("C:\\Docs\\bench %1.pdf").arg(i));

    SelectionRig rig(QStringLiteral("VcmBench%1x%2").arg(count).arg(apartMs),
                     QStringLiteral(EDITOR_DOUBLE_PATH));
    // A stranger whose name contains the helper's keeps the primary waiting.
    QProcess stranger;
    if (heldMs > 0) {
        stranger.start(rig.box.install(QStringLiteral("/bin/sleep"), QStringLiteral("other"),
                                       QFileInfo(rig.helper).fileName() + QStringLiteral("Hold")),
                       { QString::number(heldMs / 1000.0) });
        stranger.waitForStarted();
    }
    const Run helper = runCopies(rig.helper, paths, apartMs, rig.box.environment(),
                                 QStringLiteral("-ftype_merge"));
    stranger.waitForFinished();
    const QList<Launch> launches = rig.launches(400);

    Sandbox bareBox;
    const Run bare = runCopies(QStringLiteral(BARE_COPY_PATH), paths, apartMs,
                               bareBox.environment(), QStringLiteral("-ftype_merge"));
    const double floorMs = (bare.lastExitNs - bare.firstStartNs) / 1e6;

    // What a Qt helper cannot do with less: start, lock, write, end.
    Sandbox floorBox;
    const Run floorRun = runCopies(QStringLiteral(FLOOR_COPY_PATH), paths, apartMs, floorBox.environment(),
                                   QStringLiteral("-ftype_merge"));
    const double qtFloorMs = (floorRun.lastExitNs - floorRun.firstStartNs) / 1e6;

    QStringList delivered;
    for (const Launch &launch : launches)
        delivered += launch.arguments.value(0).split(QLatin1Char(';')).mid(1);
    QStringList sortedDelivered = delivered, sortedPaths = paths;
    sortedDelivered.sort();
    sortedPaths.sort();

    const qint64 editorNs = launches.isEmpty() ? 0 : launches.first().startedNs;
    const double toEditorMs = (editorNs - helper.firstStartNs) / 1e6;
    const double afterLastExitMs = (editorNs - (count > 1 ? helper.lastSecondaryExitNs : helper.firstStartNs)) / 1e6;
    const Sample primary = helper.samples.count(helper.lastPid) ? helper.samples.at(helper.lastPid) : Sample();
    qint64 peakKb = 0;
    for (const auto &entry : helper.samples)
        peakKb = qMax(peakKb, entry.second.peakKb);

    std::printf("%-22s first start -> editor %8.1f ms | last secondary exit -> editor %7.1f ms | primary cpu %6.1f ms (%4.1f%% of a core)"
                " | peak rss %6lld KiB | editor starts %d | paths %d/%d%s\n",
                label, toEditorMs, afterLastExitMs, primary.cpuNs / 1e6, 100.0 * primary.cpuNs / 1e6 / toEditorMs,
                static_cast<long long>(peakKb), int(launches.size()), int(delivered.size()), count,
                sortedDelivered == sortedPaths ? " each once" : " MISMATCH");
    std::printf("%-22s floor (Qt, lock, write) %8.1f ms | ratio to floor + 200 ms: %.2f (target <= 1.10)\n",
                "", qtFloorMs, toEditorMs / (qtFloorMs + 200.0));
    std::printf("%-22s processor time a copy: helper %.2f ms, floor %.2f ms\n", "",
                helper.cpuNs / 1e6 / count, floorRun.cpuNs / 1e6 / count);
    std::printf("%-22s bare processes          %8.1f ms | ratio to that + 200 ms: %.2f\n",
                "", floorMs, toEditorMs / (floorMs + 200.0));
    std::fflush(stdout);
    return toEditorMs / (qtFloorMs + 200.0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The machine's own noise is large with many processes on few cores:
    // each count runs five times, each run beside a floor of its own.
    for (const int count : { 1, 15, 100 }) {
        const QByteArray label = QByteArray::number(count) + " at once";
        QList<double> ratios;
        for (int round = 0; round < 5; ++round)
            ratios.append(benchCase(label.constData(), count, 0));
        std::sort(ratios.begin(), ratios.end());
        std::printf("%-22s median ratio to floor + 200 ms over 5 runs: %.2f (target <= 1.10; from %.2f to %.2f)\n",
                    label.constData(), ratios.at(2), ratios.first(), ratios.last());
    }
    benchCase("15, 20 ms apart", 15, 20);
    benchCase("15, held 3 s", 15, 0, 3000);
    return 0;
}
