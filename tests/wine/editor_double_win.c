/* Stands in for the editor under Wine: installed as Vellix.exe beside the
 * helper, it records each start as one file in the folder "launches" beside
 * itself, named by the time of the start (100 ns units) and its process id,
 * holding its arguments in UTF-8, separated by NUL bytes, and beside it a
 * file of the same name ending in ".cwd" with its current folder. */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <wchar.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show)
{
    (void)instance; (void)previous; (void)commandLine; (void)show;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long stamp = ((unsigned long long)now.dwHighDateTime << 32) | now.dwLowDateTime;

    wchar_t folder[MAX_PATH * 2];
    DWORD length = GetModuleFileNameW(NULL, folder, MAX_PATH * 2);
    if (length == 0)
        return 2;
    wchar_t *slash = wcsrchr(folder, L'\\');
    if (!slash)
        return 2;
    wcscpy(slash, L"\\launches");
    CreateDirectoryW(folder, NULL);

    wchar_t draft[MAX_PATH * 3], path[MAX_PATH * 3];
    swprintf(path, MAX_PATH * 3, L"%ls\\%020llu-%lu.launch", folder, stamp, GetCurrentProcessId());
    swprintf(draft, MAX_PATH * 3, L"%ls.draft", path);

    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    HANDLE out = CreateFileW(draft, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (out == INVALID_HANDLE_VALUE)
        return 2;
    for (int i = 1; i < argc; ++i) {
        DWORD written;
        if (i > 1)
            WriteFile(out, "", 1, &written, NULL);
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, NULL, 0, NULL, NULL);
        char *utf8 = (char *)HeapAlloc(GetProcessHeap(), 0, bytes);
        WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, utf8, bytes, NULL, NULL);
        WriteFile(out, utf8, (DWORD)(bytes - 1), &written, NULL);
        HeapFree(GetProcessHeap(), 0, utf8);
    }
    CloseHandle(out);

    wchar_t cwdFile[MAX_PATH * 3], cwd[MAX_PATH * 2];
    swprintf(cwdFile, MAX_PATH * 3, L"%ls\\%020llu-%lu.cwd", folder, stamp, GetCurrentProcessId());
    const DWORD cwdLength = GetCurrentDirectoryW(MAX_PATH * 2, cwd);
    HANDLE cwdOut = CreateFileW(cwdFile, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (cwdOut != INVALID_HANDLE_VALUE && cwdLength > 0) {
        char utf8[MAX_PATH * 8];
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, cwd, (int)cwdLength, utf8, sizeof utf8, NULL, NULL);
        DWORD written;
        WriteFile(cwdOut, utf8, (DWORD)bytes, &written, NULL);
    }
    if (cwdOut != INVALID_HANDLE_VALUE)
        CloseHandle(cwdOut);
    return MoveFileW(draft, path) ? 0 : 2;
}
