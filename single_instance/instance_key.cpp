#include "single_application_private.h"

#include "login_name.h"

#include <QtCore/qcryptographichash.h>
#include <QtCore/qrandom.h>
#include <QtCore/qthread.h>

// The key names the shared block and the primary's server alike, so only
// copies of the same program (and, by option, of the same user) meet.
void SingleApplicationPrivate::deriveInstanceKey()
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("SingleApplication", 17);
    hash.addData(QCoreApplication::applicationName().toUtf8());
    hash.addData(QCoreApplication::organizationName().toUtf8());
    hash.addData(QCoreApplication::organizationDomain().toUtf8());
    if (!keyExtras.isEmpty())
        hash.addData(keyExtras.join(QString()).toUtf8());
    if (!(startOptions & SingleApplication::IgnoreVersion))
        hash.addData(QCoreApplication::applicationVersion().toUtf8());
    if (!(startOptions & SingleApplication::IgnoreExecutablePath))
        hash.addData(QCoreApplication::applicationFilePath().toLower().toUtf8());
    if (startOptions & SingleApplication::PerUserScope)
        hash.addData(loginName().toUtf8());

    instanceKey = QString::fromLatin1(hash.result().toBase64().replace('/', '_'));
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
