#include "login_name.h"

#include <QtCore/qbytearray.h>

#include <qt_windows.h>

QString systemLoginName()
{
    wchar_t buffer[257];
    DWORD size = 257;
    if (::GetUserNameW(buffer, &size))
        return QString::fromWCharArray(buffer);
    return qEnvironmentVariable("USERNAME");
}
