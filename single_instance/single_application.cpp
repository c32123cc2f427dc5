#include "single_application.h"

#include "single_application_private.h"

#include "process_list.h"

#include <cstdlib>

namespace {

std::function<int()> &startupFailureHandler()
{
    static std::function<int()> handler;
    return handler;
}

} // namespace

void SingleApplication::setStartupFailureHandler(std::function<int()> handler)
{
    startupFailureHandler() = std::move(handler);
}

SingleApplication::SingleApplication(int &argc, char **argv, bool permitSecondary,
                                     StartOptions options, int announceTimeoutMs,
                                     const QString &extraKeyText)
    : QCoreApplication(argc, argv),
      d(new SingleApplicationPrivate(this))
{
    d->startOptions = options;
    if (!extraKeyText.isEmpty())
        d->keyExtras.append(extraKeyText);
    d->deriveInstanceKey();

    switch (d->decideRole(permitSecondary, announceTimeoutMs)) {
    case SingleApplicationPrivate::BecamePrimary:
    case SingleApplicationPrivate::BecameSecondary:
    case SingleApplicationPrivate::StayedBystander:
        return;
    case SingleApplicationPrivate::RefusedBesidePrimary:
        delete d;
        d = nullptr;
        ::exit(0);
    case SingleApplicationPrivate::SharedMemoryFailed: {
        const int exitCode = startupFailureHandler() ? startupFailureHandler()() : 1;
        delete d;
        d = nullptr;
        ::exit(exitCode);
    }
    }
}

SingleApplication::~SingleApplication()
{
    delete d;
}

bool SingleApplication::secondaryRole() const
{
    return d->listener == nullptr;
}

quint32 SingleApplication::instanceNumber() const
{
    return d->ownNumber;
}

quint32 SingleApplication::secondaryStartCount() const
{
    return d->readSecondaryCounter();
}

bool SingleApplication::releasePrimaryRole(quint32 expectedCount, bool force, int timeoutMs,
                                           const std::function<void()> &whileLocked)
{
    return d->releasePrimaryRole(expectedCount, force, timeoutMs, whileLocked);
}

bool SingleApplication::isActiveCopy(qint64 pid)
{
    if (!isRunningCopy(pid) || isStoppedProcess(pid))
        return false;
    const qint64 age = processAgeMs(pid);
    return age < 0 || age <= HeldUpAfterMs;
}

int SingleApplication::remainingRunMs() const
{
    return d->remainingPatienceMs();
}

qint64 SingleApplication::primaryProcessId() const
{
    return d->listener ? QCoreApplication::applicationPid() : d->registeredPrimaryPid;
}

bool SingleApplication::commitToPrimary(const std::function<bool()> &commit, const std::function<bool()> &takeBack)
{
    return d->commitToPrimary(commit, takeBack);
}
