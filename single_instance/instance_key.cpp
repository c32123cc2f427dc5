#include "single_application_private.h"

#include "instance_key.h"
#include "login_name.h"

#include <QtCore/qcryptographichash.h>
#include <QtCore/qrandom.h>
#include <QtCore/qthread.h>

// The key names the shared block and the primary's server alike, so only
// copies of the same program (and, by option, of the same user) meet.
QString instanceKeyFor(const InstanceIdentity &identity, int startOptions)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("SingleApplication", 17);
    hash.addData(identity.applicationName.toUtf8());
    hash.addData(identity.organizationName.toUtf8());
    hash.addData(identity.organizationDomain.toUtf8());
    if (!identity.keyExtras.isEmpty())
        hash.addData(identity.keyExtras.join(QString()).toUtf8());
    if (!(startOptions & SingleApplication::IgnoreVersion))
        hash.addData(identity.applicationVersion.toUtf8());
    if (!(startOptions & SingleApplication::IgnoreExecutablePath))
        hash.addData(identity.applicationFilePath.toLower().toUtf8());
    if (startOptions & SingleApplication::PerUserScope)
        hash.addData(identity.loginName.toUtf8());
    return QString::fromLatin1(hash.result().toBase64().replace('/', '_'));
}

void SingleApplicationPrivate::deriveInstanceKey()
{
    InstanceIdentity identity;
    identity.applicationName = QCoreApplication::applicationName();
    identity.organizationName = QCoreApplication::organizationName();
    identity.organizationDomain = QCoreApplication::organizationDomain();
    identity.keyExtras = keyExtras;
    identity.applicationVersion = QCoreApplication::applicationVersion();
    identity.applicationFilePath = QCoreApplication::applicationFilePath();
    if (startOptions & SingleApplication::PerUserScope)
        identity.loginName = loginName();
    instanceKey = instanceKeyFor(identity, startOptions);
}

QString SingleApplicationPrivate::loginName()
{
    return systemLoginName();
}

// 8 to 17 ms, uniformly, so that contending processes do not retry in step.
int SingleApplicationPrivate::jitterPauseMs(quint32 random)
{
    return 8 + int((quint64(random) * 10) >> 32);
}

void SingleApplicationPrivate::jitterPause()
{
    QThread::msleep(ulong(jitterPauseMs(QRandomGenerator::global()->generate())));
}
