#ifndef INSTANCE_KEY_H
#define INSTANCE_KEY_H

#include <QtCore/qstringlist.h>

// What a copy of a program is known by among the others: the key that
// names its shared block and its channel is made from these alone.
struct InstanceIdentity
{
    QString applicationName;
    QString organizationName;
    QString organizationDomain;
    QStringList keyExtras;
    QString applicationVersion;
    QString applicationFilePath;
    QString loginName;
};

// The 44-character key of copies of that identity started with these
// options (SingleApplication::StartOptions): Base64 of a SHA-256 digest,
// with "_" for "/".
QString instanceKeyFor(const InstanceIdentity &identity, int startOptions);

#endif // INSTANCE_KEY_H
