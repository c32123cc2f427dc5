// Storms of copies of the real helper: 30 rounds of 50 copies started at
// once, each round one editor start with every path exactly once.

#include "selection_support.h"

#include <cstdio>

class tst_Stress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stormsOfFiftyCopies();
};

void tst_Stress::stormsOfFiftyCopies()
{
    // Fewer under the sanitizers, whose copies start several times slower.
    const int rounds = qEnvironmentVariableIntValue("VELLIX_STRESS_ROUNDS") > 0
            ? qEnvironmentVariableIntValue("VELLIX_STRESS_ROUNDS") : 30;
    const int copiesPerRound = 50;
    int pathsDelivered = 0;
    for (int round = 0; round < rounds; ++round) {
        SelectionRig r(QStringLiteral("VcmStorm"), QStringLiteral(EDITOR_DOUBLE_PATH));
        QStringList paths;
        for (int i = 0; i < copiesPerRound; ++i)
            paths.append(QStringLiteral("C:\\Storm %1\\file %2.pdf").arg(round).arg(i));
        const Processes copies = r.start(QStringLiteral("-ftype_merge"), paths);
        QVERIFY(waitAll(copies, 120000));
        for (const auto &copy : copies)
            QCOMPARE(copy->exitCode(), 0);

        const QList<Launch> launches = r.launches();
        QCOMPARE(launches.size(), 1);
        const QStringList delivered = deliveredPaths(launches, QStringLiteral("-ftype_merge"));
        QCOMPARE(delivered, sorted(paths));
        pathsDelivered += delivered.size();
    }
    std::printf("%d rounds of %d copies: %d paths delivered, 0 lost\n", rounds, copiesPerRound, pathsDelivered);
}

QTEST_GUILESS_MAIN(tst_Stress)
#include "tst_stress.moc"
