#ifndef HANDOFF_FOLDER_H
#define HANDOFF_FOLDER_H

#include "owner_lock.h"

#include <QtCore/qlist.h>
#include <QtCore/qstringlist.h>

// What one hand-off file carries.
struct HandedPath
{
    QString verbFlag;          // empty: the primary's own
    qint64 primaryPid = 0;     // the primary it was meant for; 0: the primary's own
    quint64 primaryStamp = 0;  // and that primary's start stamp; 0: not said
    QString path;
    QString name;              // the posted file's name, which orders the paths
    QString claim;             // the file it is held in, once claimed
};

// The hand-off folder and the whole life of its files. A copy's path
// travels in a file of its own, "<pid>-<start stamp>.txt", a name no other
// process can bear: its first line names the verb of the copy's action and
// the primary it was meant for (its id and start stamp), then comes the
// path, as the system gave it.
//
// A copy writes its file whole under a draft name (".<pid>-<stamp>.draft")
// and posts it under the shared block's lock, never replacing a file. A
// primary holds ".owner-<pid>-<stamp>", an owner lock (see OwnerLock) that
// the system gives back when the primary ends, however it ends, and never
// while it lives; one that could not make it (a full disk) owns its claims
// while its process (that id with that start stamp) exists. It claims
// posted files by renaming them to
// ".claimed-<its pid>-<its stamp>-<pid>-<stamp>"; the rename decides which
// of two primaries has a file. Who may remove what:
//  - a posted file: nobody; it is claimed, by the primary it was meant for
//    while that one holds its lock (or, before its lock is made, runs),
//    else by any primary. One that another program holds, or that cannot
//    be read, is tried again for a while; still held, it stays for a later
//    primary. One that holds no path is none of ours and goes. One that no
//    primary can read stays until it has not changed for a day;
//  - a draft: its writer, or anyone once its writer has ended;
//  - a claim: its owner, once a start that carries its path has
//    succeeded; where it cannot go then, the owner lists it as delivered
//    in its owner lock. Anyone who can take the owner's lock (or, where the
//    owner made none, finds it ended) takes its claims over and delivers
//    them, but removes those listed as delivered; nobody else removes one;
//  - an owner lock: its owner, or whoever holds it once it is free, when
//    no claim of its owner is left.
// So a primary that is stopped or held up keeps its claims: its paths come
// late, never twice. Names that begin with a dot are the program's own
// work files, on every system, and none of them ends in ".txt"; anything
// else in the folder (a link, a folder) is swept away.
class HandoffFolder
{
public:
    explicit HandoffFolder(const QString &path);

    QString path() const { return folder; }

    // A copy's own file, meant for the primary of that id and stamp.
    bool writeDraft(const QString &verbFlag, qint64 primaryPid, quint64 primaryStamp, const QString &filePath);
    bool post();     // the draft becomes the hand-off file; never replaces one
    bool takeBack(); // the posted file becomes the draft again
    void discardDraft();
    // True while this copy's file is posted and no primary has claimed it.
    bool isPosted() const;
    QString postedName() const;

    // For a run that could not deliver paths itself (no election to take
    // part in, or an editor that would not start): each path posted in a
    // file of its own, in their order, meant for this process, so that the
    // next primary delivers them under the verb in a start of their own
    // once this one has ended. False when one could not be written.
    bool leave(const QString &verbFlag, const QStringList &paths);

    // The primary's part. Its owner lock, taken before anything is claimed.
    bool takeOwnership();
    // Under the block's lock: the files of the folder become this copy's
    // claims: what primaries that ended claimed and did not deliver, and
    // the posted files but those meant for another primary that holds.
    QList<HandedPath> claim();
    // The files that could not be renamed or read then, tried again (the
    // rename decides, so no lock is needed) for up to patienceMs.
    QList<HandedPath> claimRefused(qint64 patienceMs);
    // How many other primaries hold their owner locks now: running copies,
    // of any installation, that hand no path on to this one.
    int otherOwnerCount() const;
    // True when files of the folder were left that this copy could not
    // claim: held by another program, or unreadable.
    bool leftFilesBehind() const { return !refused.isEmpty(); }
    // After a start that carries the claims' paths has succeeded.
    void acknowledge(const QStringList &claims);
    // After a start that failed: the files are posted again, for the next
    // primary.
    void handBack(const QStringList &claims);
    // Removes what nobody needs any more, then the folder once it is empty.
    void sweep();

    // The file name of a copy's posted file; what a work file's name says
    // of its owner.
    static QString postedFileName(qint64 pid, quint64 stamp);
    static bool ownerOfWorkFile(const QString &fileName, qint64 *pid, quint64 *stamp);

private:
    struct RefusedFile
    {
        QString path;
        QString name;
        qint64 formerPid;
        quint64 formerStamp;
    };

    QString own(const QString &suffix) const;
    QString claimName(const QString &postedName) const;
    QString ownerLockName(qint64 pid, quint64 stamp) const;
    bool writeDraftNamed(const QString &name, const QByteArray &bytes);
    bool ownerLives(qint64 pid, quint64 stamp, OwnerLock *theirs) const;
    bool isMeantForAnotherHolder(const HandedPath &handed) const;
    void takeFile(const RefusedFile &file, QList<HandedPath> *claimed);
    void takeOverClaims(qint64 pid, quint64 stamp, const QStringList &claims, QList<HandedPath> *claimed);

    QString folder;
    qint64 ownPid;
    quint64 ownStamp;
    QString draft;
    OwnerLock ownership;
    QList<RefusedFile> refused;
};

// The text of a hand-off file and back.
QByteArray handoffFileBytes(const QString &verbFlag, qint64 primaryPid, quint64 primaryStamp, const QString &path);
HandedPath parseHandoffFile(const QByteArray &bytes);

#endif // HANDOFF_FOLDER_H
