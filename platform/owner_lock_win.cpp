#include "owner_lock.h"

#include <windows.h>

namespace {

HANDLE handleOf(qintptr handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

OwnerLock::~OwnerLock()
{
    release();
}

bool OwnerLock::acquire(const QString &path, Opening opening)
{
    release();
    // Writing is shared with nobody, so a second holder's open fails for
    // as long as this handle lives; the system closes it with the process.
    // Reading and removal stay open to the one who holds the file next. The
    // handle is not inherited by the editor.
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()),
                                    GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, opening == CreateIfMissing ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    handle = reinterpret_cast<qintptr>(file);
    held = path;
    return true;
}

void OwnerLock::release(bool remove)
{
    if (!isHeld())
        return;
    CloseHandle(handleOf(handle));
    handle = invalidHandle;
    // One who tries the hold meanwhile shares removal: the file goes once
    // that one lets go.
    if (remove)
        DeleteFileW(reinterpret_cast<const wchar_t *>(held.utf16()));
    held.clear();
}

QByteArray OwnerLock::contents() const
{
    QByteArray bytes;
    if (!isHeld() || SetFilePointer(handleOf(handle), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(handleOf(handle), buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, int(got));
    return bytes;
}

bool OwnerLock::append(const QByteArray &bytes)
{
    if (!isHeld() || SetFilePointer(handleOf(handle), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER)
        return false;
    DWORD put = 0;
    return WriteFile(handleOf(handle), bytes.constData(), DWORD(bytes.size()), &put, nullptr)
            && put == DWORD(bytes.size());
}
