#include "single_application_private.h"

#include "instance_block.h"
#include "process_list.h"
#include "shared_block.h"

#include <QtCore/qdebug.h>
#include <QtCore/qelapsedtimer.h>
#include <QtNetwork/qlocalserver.h>
#include <QtNetwork/qlocalsocket.h>

#include <cstring>

namespace {

// A block that stays inconsistent this long is taken to belong to a primary
// that died while writing it.
constexpr qint64 InconsistencyLimitMs = 5000;

// How often a start goes back to creating the block when the block it found
// was gone again before it could attach.
constexpr int BlockOpenAttempts = 8;

} // namespace

SingleApplicationPrivate::SingleApplicationPrivate(SingleApplication *owner)
    : owner(owner)
{
    life.start();
}

int SingleApplicationPrivate::remainingPatienceMs() const
{
    return int(qMax<qint64>(0, SingleApplication::RunBoundMs - life.elapsed()));
}

SingleApplicationPrivate::~SingleApplicationPrivate()
{
    if (primaryLink) {
        primaryLink->close();
        delete primaryLink;
        primaryLink = nullptr;
    }
    if (sharedBlock) {
        // Only a primary has marks to clear; for anyone else the lock guards
        // nothing here, and a holder that does not let it go is not waited on.
        sharedBlock->lock(listener ? EndLockTimeoutMs : 0);
        if (listener)
            clearPrimaryMarks();
        sharedBlock->unlock();
        delete sharedBlock;
        sharedBlock = nullptr;
    }
}

InstanceBlock *SingleApplicationPrivate::block() const
{
    return static_cast<InstanceBlock *>(sharedBlock->data());
}

quint16 SingleApplicationPrivate::computeBlockCrc() const
{
    return instanceBlockCrc(sharedBlock->constData());
}

void SingleApplicationPrivate::resetBlock()
{
    InstanceBlock *b = block();
    b->primaryAlive = 0;
    b->secondaryCounter = 0;
    b->ownerPid = -1;
    b->ownerUserName[0] = '\0';
    b->blockCrc = computeBlockCrc();
}

void SingleApplicationPrivate::becomePrimary()
{
    InstanceBlock *b = block();
    b->primaryAlive = 1;
    b->ownerPid = QCoreApplication::applicationPid();
    qstrncpy(b->ownerUserName, loginName().toUtf8().constData(), sizeof(b->ownerUserName));
    b->blockCrc = computeBlockCrc();
    ownNumber = 0;
    startListener();
}

void SingleApplicationPrivate::clearMarks()
{
    InstanceBlock *b = block();
    b->primaryAlive = 0;
    b->ownerPid = -1;
    b->ownerUserName[0] = '\0';
    b->blockCrc = computeBlockCrc();
}

void SingleApplicationPrivate::becomeSecondary()
{
    InstanceBlock *b = block();
    b->secondaryCounter += 1;
    b->blockCrc = computeBlockCrc();
    ownNumber = b->secondaryCounter;
    registeredPrimaryPid = b->ownerPid;
}

// True when the block names this very process as its live primary.
bool SingleApplicationPrivate::marksThisPrimary() const
{
    const InstanceBlock *b = block();
    return b->primaryAlive != 0 && b->ownerPid == QCoreApplication::applicationPid()
            && b->blockCrc == computeBlockCrc();
}

// The primary's end: its server goes, and the block no longer names it. A
// mark that names another process is that one's (it took the role over
// from this one), and stays. The caller holds the lock.
void SingleApplicationPrivate::clearPrimaryMarks()
{
    listener->close();
    delete listener;
    listener = nullptr;
    if (marksThisPrimary())
        clearMarks();
}

// Looked at every few milliseconds while the primary waits: it does not
// wait for the lock, and a count read while another process writes it is
// only a little early or late.
quint32 SingleApplicationPrivate::readSecondaryCounter() const
{
    const bool locked = sharedBlock->lock(0);
    const quint32 counter = block()->secondaryCounter;
    if (locked)
        sharedBlock->unlock();
    return counter;
}

bool SingleApplicationPrivate::releasePrimaryRole(quint32 expectedCount, bool force, int timeoutMs,
                                                  const std::function<void()> &whileLocked)
{
    const bool locked = sharedBlock->lock(timeoutMs);
    // Deposed, this copy waits for no registrations: they are another's.
    const bool deposed = locked && listener && !marksThisPrimary();
    if (!force && (!locked || (!deposed && block()->secondaryCounter != expectedCount))) {
        if (locked)
            sharedBlock->unlock();
        return false;
    }
    // Without the lock the marks are cleared all the same, as at the end of
    // a primary; a write torn by another writer fails the checksum.
    if (listener)
        clearPrimaryMarks();
    if (whileLocked)
        whileLocked();
    if (locked)
        sharedBlock->unlock();
    return true;
}

bool SingleApplicationPrivate::registeredPrimaryHolds() const
{
    const InstanceBlock *b = block();
    return b->primaryAlive != 0 && b->ownerPid == registeredPrimaryPid && b->blockCrc == computeBlockCrc();
}

bool SingleApplicationPrivate::commitToPrimary(const std::function<bool()> &commit,
                                               const std::function<bool()> &takeBack)
{
    // With the bound spent, the lock is tried once: a copy that cannot
    // commit starts the editor itself.
    if (!sharedBlock->lock(remainingPatienceMs()))
        return false;
    // A primary that died keeps its mark, and one that is held up past the
    // bound may never run again: nothing is committed to either.
    bool committed = registeredPrimaryHolds() && SingleApplication::isActiveCopy(registeredPrimaryPid) && commit();
    // A primary at the end of its wait gives its role up without the lock;
    // if it did so meanwhile, what it gathered may or may not hold the
    // commit. Exactly one of the two undoes or takes it.
    if (committed && !registeredPrimaryHolds() && takeBack && takeBack())
        committed = false;
    sharedBlock->unlock();
    return committed;
}

SingleApplicationPrivate::StartupOutcome SingleApplicationPrivate::abortStartup()
{
    qCritical() << "SingleApplication: " << int(sharedBlock->error()) << sharedBlock->errorString();
    return SharedMemoryFailed;
}

// Attaches to the block, or creates it when there is none, and takes its
// lock. Of the copies of a selection all but the first find the block
// made, so they try that first and spare the making of a block file that
// would only lose to the one there.
bool SingleApplicationPrivate::openBlock()
{
    for (int attempt = 1;; ++attempt) {
        if (sharedBlock->attach(int(sizeof(InstanceBlock)), remainingPatienceMs())) {
            if (!sharedBlock->lock(remainingPatienceMs())) {
                qCritical("SingleApplication: Unable to lock memory block after attach.");
                return false;
            }
            return true;
        }
        if (sharedBlock->error() != QSharedMemory::NotFound) {
            qCritical("SingleApplication: Unable to attach to shared memory block.");
            return false;
        }
        if (sharedBlock->create(int(sizeof(InstanceBlock)))) {
            if (!sharedBlock->lock(remainingPatienceMs())) {
                qCritical("SingleApplication: Unable to lock memory block after create.");
                return false;
            }
            // A creator held up between its create and its lock may find
            // that another copy has meanwhile waited the block out, reset
            // it and taken the role: that block is not reset again.
            if (block()->blockCrc != computeBlockCrc())
                resetBlock();
            return true;
        }
        if (sharedBlock->error() != QSharedMemory::AlreadyExists) {
            qCritical("SingleApplication: Unable to create block.");
            return false;
        }
        // Another copy made it between our attach and our create (or its
        // last user let it go again between our create and this attach).
        if (attempt == BlockOpenAttempts) {
            qCritical("SingleApplication: Unable to attach to shared memory block.");
            return false;
        }
    }
}

SingleApplicationPrivate::StartupOutcome
SingleApplicationPrivate::decideRole(bool permitSecondary, int announceTimeoutMs)
{
    jitterPause();
    sharedBlock = new SharedBlock(instanceKey);
    if (!openBlock())
        return abortStartup();

    QElapsedTimer inconsistentFor;
    inconsistentFor.start();
    while (block()->blockCrc != computeBlockCrc()) {
        if (inconsistentFor.elapsed() > InconsistencyLimitMs) {
            qWarning("SingleApplication: Shared memory block has been in an inconsistent state from more than 5s. Assuming primary instance failure.");
            resetBlock();
        }
        if (!sharedBlock->unlock()) {
            qDebug("SingleApplication: Unable to unlock memory for random wait.");
            qDebug() << sharedBlock->errorString();
        }
        jitterPause();
        if (!sharedBlock->lock(remainingPatienceMs())) {
            qCritical("SingleApplication: Unable to lock memory after random wait.");
            return abortStartup();
        }
    }

    // A primary that was killed cannot clear its mark; where the block
    // outlives its processes, a mark whose owner is not running is stale.
    // So is one that names this very process (its id was given again), and
    // one whose owner has held the role longer than the bound allows: it
    // is stopped or frozen, and is deposed.
    const InstanceBlock *b = block();
    const bool noLivePrimary = b->primaryAlive == 0 || b->ownerPid == QCoreApplication::applicationPid()
            || !SingleApplication::isActiveCopy(b->ownerPid);
    // A run that gathers nothing never becomes a primary that others would
    // commit to; it only clears a stale mark, as a primary's start would.
    if (startOptions & SingleApplication::Bystander) {
        if (noLivePrimary && b->primaryAlive != 0)
            clearMarks();
        if (!sharedBlock->unlock()) {
            qDebug("SingleApplication: Unable to unlock memory at end of execution.");
            qDebug() << sharedBlock->errorString();
        }
        return StayedBystander;
    }
    if (noLivePrimary) {
        becomePrimary();
        if (!sharedBlock->unlock()) {
            qDebug("SingleApplication: Unable to unlock memory after primary start.");
            qDebug() << sharedBlock->errorString();
        }
        return BecamePrimary;
    }

    if (permitSecondary) {
        becomeSecondary();
        if (startOptions & SingleApplication::AnnounceSecondaries)
            announceToPrimary(announceTimeoutMs, SecondaryStart);
        if (!sharedBlock->unlock()) {
            qDebug("SingleApplication: Unable to unlock memory after secondary start.");
            qDebug() << sharedBlock->errorString();
        }
        return BecameSecondary;
    }

    if (!sharedBlock->unlock()) {
        qDebug("SingleApplication: Unable to unlock memory at end of execution.");
        qDebug() << sharedBlock->errorString();
    }
    announceToPrimary(announceTimeoutMs, RefusedStart);
    return RefusedBesidePrimary;
}
