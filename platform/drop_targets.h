#ifndef DROP_TARGETS_H
#define DROP_TARGETS_H

#include <QtCore/qlist.h>
#include <QtCore/qstringlist.h>

#include <functional>

// The verbs as COM drop targets (Windows). The file manager creates a
// verb's object once, out of process when its class names a local server,
// and hands it the whole selection in one data object, in the view's
// order: no process per file, no item limit, no command-line bound.

struct DropTargetClass
{
    QString classId; // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
    QString verbFlag;
};

// True where the system has COM local servers.
bool dropTargetsSupported();

// True for the argument COM adds when it starts a local server.
bool isEmbeddingArgument(const QString &argument);

// The paths of a CF_HDROP block, in its order: a DROPFILES header (the
// offset of the list, a point, two flags, the second for UTF-16 names),
// then the names, each ended by a NUL, the list by an empty name. The block
// comes from another program: a name that the block cuts off is no path,
// and nothing is read outside the block. Names of 8 bits are in the
// system's code page.
QStringList pathsOfDropFiles(const QByteArray &block);

// Runs this process as the local server of the classes: registers those
// no other copy serves yet, and serves calls until no object and no lock
// is held (under Wine, whose class objects outlive their server, a moment
// more), until idleMs have passed from its start without one, or until a
// client that holds one has not called for a minute. Each
// Drop hands its verb flag and its paths (in the data object's order) to
// deliver, which runs once the call has returned. False when no class
// could be registered.
bool serveDropTargets(const QList<DropTargetClass> &classes, int idleMs,
                      const std::function<void(const QString &verbFlag, const QStringList &paths)> &deliver);

// Says where a person can see it that a drop could not be delivered: the
// system's event log (Windows Logs > Application, source
// "VellixContextMenu"), or standard error where there is none.
void reportDropFailure(const QString &text);

// How many drop-target servers of this user run now. A server is started
// by COM and hands each drop to the editor itself: a selection's primary
// that sees it in the task list must not wait for it as for a copy that is
// still to hand its path on.
int runningDropTargetServers();

// Activates each class out of process, as the file manager would, and asks
// it for its drop target; the server that started ends by itself. False,
// with *why, when one of them does not answer.
bool dropTargetsActivate(const QStringList &classIds, QString *why);

#endif // DROP_TARGETS_H
