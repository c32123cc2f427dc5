#include "login_name.h"

#include <QtCore/qbytearray.h>

#include <qt_windows.h>
#include <sddl.h>

#include <vector>

QString systemLoginName()
{
    wchar_t buffer[257];
    DWORD size = 257;
    if (::GetUserNameW(buffer, &size))
        return QString::fromWCharArray(buffer);
    return qEnvironmentVariable("USERNAME");
}

namespace {

QString userSidTextOfProcess(HANDLE process)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token))
        return QString();
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    QString text;
    wchar_t *sid = nullptr;
    if (size && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)
        && ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &sid)) {
        text = QString::fromWCharArray(sid);
        ::LocalFree(sid);
    }
    ::CloseHandle(token);
    return text;
}

} // namespace

QString userSidText()
{
    return userSidTextOfProcess(::GetCurrentProcess());
}

QString userSidTextOf(qint64 pid)
{
    if (pid <= 0 || pid > 0xffffffffLL)
        return QString();
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return QString();
    const QString text = userSidTextOfProcess(process);
    ::CloseHandle(process);
    return text;
}
