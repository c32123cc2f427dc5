#ifndef HANDOFF_FOLDER_H
#define HANDOFF_FOLDER_H

#include <QtCore/qlist.h>
#include <QtCore/qstringlist.h>

// What one hand-off file carries.
struct HandedPath
{
    QString verbFlag;      // empty: the primary's own
    qint64 primaryPid = 0; // the primary it was meant for; 0: the primary's own
    QString path;
    QString claim;         // the file it is held in, once claimed
};

// The hand-off folder and the whole life of its files. A copy's path
// travels in a file of its own, "<pid>-<start stamp>.txt", a name no other
// process can bear: its first line names the verb of the copy's action and
// the primary it was meant for, then comes the path, as the system gave it.
//
// A copy writes its file whole under a draft name (".<pid>-<stamp>.draft")
// and posts it under the shared block's lock, never replacing a file; a
// primary claims the posted files under the same lock by renaming them to
// ".claimed-<its pid>-<its stamp>-<name>", and removes a claim only once a
// start of the editor that carries its path has succeeded. Who may remove
// what:
//  - a posted file: nobody; it is claimed (one that cannot be read stays,
//    for a later primary, until it has not changed for a day). One that
//    another program holds so that it cannot be renamed is claimed by a
//    copy written beside it, and goes itself once its path has been
//    delivered and it can; till then ".delivered-<name>" marks it;
//  - a draft: its writer, or anyone once its writer has ended;
//  - a claim: its owner, after its start; anyone else takes it over (and
//    delivers it) once its owner has ended or is held up past the bound,
//    but never removes it unread. One that another program holds after
//    its start is marked ".delivered-<name>" till it can go.
// Names that begin with a dot are the program's own work files, on every
// system; anything else in the folder (a link, a folder) is swept away.
class HandoffFolder
{
public:
    explicit HandoffFolder(const QString &path);

    QString path() const { return folder; }

    // A copy's own file.
    bool writeDraft(const QString &verbFlag, qint64 primaryPid, const QString &filePath);
    bool post();     // the draft becomes the hand-off file; never replaces one
    bool takeBack(); // the posted file becomes the draft again
    void discardDraft();
    // True while this copy's file is posted and no primary has claimed it.
    bool isPosted() const;

    // The primary's part. Under the block's lock: the files of the folder
    // become this copy's claims, in the order of their names: first what
    // copies that ended (or are held up) claimed and did not deliver, then
    // the posted files but those meant for another primary that runs.
    QList<HandedPath> claim();
    // True while the claim is still this copy's (no other took it over).
    bool holds(const QString &claim) const;
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
    enum HoldOutcome { Claimed, Left, Refused };
    struct HeldFile
    {
        QString path;
        QString fileName;
        qint64 formerOwner;
    };

    QString own(const QString &suffix) const;
    QString claimName(const QString &fileName) const;
    QString originalOf(const QString &claim) const;
    HoldOutcome claimFile(const QString &file, const QString &fileName, qint64 formerOwner, QList<HandedPath> *claimed);
    void claimHeldFiles(QList<HeldFile> held, QList<HandedPath> *claimed);

    QString folder;
    qint64 ownPid;
    quint64 ownStamp;
    QString draft;
};

// The text of a hand-off file and back.
QByteArray handoffFileBytes(const QString &verbFlag, qint64 primaryPid, const QString &path);
HandedPath parseHandoffFile(const QByteArray &bytes);

#endif // HANDOFF_FOLDER_H
