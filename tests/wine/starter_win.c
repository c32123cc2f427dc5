/* Starts copies of a program at once, as the file manager does for a
 * selection: starter.exe PROGRAM FLAG PATH... starts "PROGRAM FLAG PATH" for
 * each path, then waits for all. Prints "pid PID PATH" for each start and
 * "exit CODE" for each end, in UTF-8. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

static void say(const wchar_t *text)
{
    char utf8[8192];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8, (DWORD)(bytes - 1), &written, NULL);
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 4)
        return 2;
    const int count = argc - 3;
    HANDLE *processes = (HANDLE *)calloc((size_t)count, sizeof(HANDLE));
    for (int i = 0; i < count; ++i) {
        wchar_t commandLine[4096];
        swprintf(commandLine, 4096, L"\"%ls\" %ls \"%ls\"", argv[1], argv[2], argv[3 + i]);
        STARTUPINFOW startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        if (!CreateProcessW(argv[1], commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
            return 3;
        processes[i] = info.hProcess;
        CloseHandle(info.hThread);
        wchar_t line[4200];
        swprintf(line, 4200, L"pid %lu %ls\n", info.dwProcessId, argv[3 + i]);
        say(line);
    }
    for (int i = 0; i < count; ++i) {
        DWORD code = 99;
        WaitForSingleObject(processes[i], 120000);
        GetExitCodeProcess(processes[i], &code);
        wchar_t line[64];
        swprintf(line, 64, L"exit %lu\n", code);
        say(line);
        CloseHandle(processes[i]);
    }
    return 0;
}
