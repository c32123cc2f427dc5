#ifndef SELECTION_SUPPORT_H
#define SELECTION_SUPPORT_H

// A sandbox with the helper installed under a name of its own, beside the
// editor double as Vellix.exe, and the means to start copies of it as the
// file manager does and to read back what the editor got.

#include "test_support.h"

#include <QtCore/qelapsedtimer.h>
#include <QtCore/qthread.h>

#include <algorithm>


struct Launch
{
    qint64 startedNs = 0;
    QStringList arguments;
};

inline QStringList sorted(QStringList list)
{
    std::sort(list.begin(), list.end());
    return list;
}

// Every path the editor was given over all its starts, sorted; a start with
// another flag than the expected one makes the list a single complaint.
inline QStringList deliveredPaths(const QList<Launch> &launches, const QString &flag)
{
    QStringList paths;
    for (const Launch &launch : launches) {
        QStringList elements = launch.arguments.value(0).split(QLatin1Char(';'));
        if (elements.takeFirst() != flag)
            return { QStringLiteral("wrong flag") };
        paths += elements;
    }
    return sorted(paths);
}

// Paths of a selection, all different, under a folder named by the label.
inline QStringList pathsFor(const QString &label, int count)
{
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths.append(QStringLiteral("C:\\%1\\file %2.pdf").arg(label).arg(i));
    return paths;
}

// The starts of the editor under one flag. (Detached starts made one after
// another may record their times in either order.)
inline QList<Launch> launchesUnder(const QList<Launch> &launches, const QString &flag)
{
    QList<Launch> under;
    for (const Launch &launch : launches) {
        if (launch.arguments.value(0).section(QLatin1Char(';'), 0, 0) == flag)
            under.append(launch);
    }
    return under;
}

class SelectionRig
{
public:
    SelectionRig(const QString &helperName, const QString &editorPath)
    {
        helper = box.installHelper(installFolder(), helperName);
        box.install(editorPath, installFolder(), QStringLiteral("Vellix.exe"));
    }

    QString installFolder() const { return QStringLiteral("Program Files/Vellix Test"); }
    QString handoffFolder() const { return box.tmp() + QStringLiteral("/VellixContextMenu"); }

    // The sandbox's environment, with what the test adds for its copies.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = box.environment();
        env.insert(extraEnvironment);
        return env;
    }

    // Starts one copy per path, each with the flag, the given time apart
    // (of the helper, or of another program).
    Processes start(const QString &flag, const QStringList &paths, int apartMs = 0,
                    const QString &program = QString())
    {
        Processes copies;
        for (const QString &path : paths) {
            if (apartMs > 0 && !copies.empty())
                QThread::msleep(ulong(apartMs));
            auto copy = std::make_unique<QProcess>();
            copy->setProcessEnvironment(environment());
            copy->start(program.isEmpty() ? helper : program, { flag, path });
            pids.append(copy->processId()); // gone once the copy has ended
            copies.push_back(std::move(copy));
        }
        return copies;
    }

    // The editor's starts so far, oldest first, once nothing new has come
    // for quietMs (of the editor in the install folder, or in another).
    QList<Launch> launches(int quietMs = 300, const QString &editorFolder = QString()) const
    {
        const QDir folder(box.path((editorFolder.isEmpty() ? installFolder() : editorFolder)
                                   + QStringLiteral("/launches")));
        QStringList seen;
        QElapsedTimer quiet;
        quiet.start();
        while (quiet.elapsed() < quietMs) {
            const QStringList now = folder.entryList({ QStringLiteral("*.launch") }, QDir::Files, QDir::Name);
            if (now != seen) {
                seen = now;
                quiet.restart();
            }
            QThread::msleep(20);
        }
        QList<Launch> result;
        for (const QString &name : seen) {
            Launch launch;
            launch.startedNs = name.section(QLatin1Char('-'), 0, 0).toLongLong();
            const QByteArray bytes = readAll(folder.filePath(name));
            for (const QByteArray &argument : bytes.split('\0'))
                launch.arguments.append(QString::fromUtf8(argument));
            result.append(launch);
        }
        return result;
    }

    Sandbox box;
    QProcessEnvironment extraEnvironment;
    QString helper;
    QList<qint64> pids; // of every copy started, in order
};

#endif // SELECTION_SUPPORT_H
