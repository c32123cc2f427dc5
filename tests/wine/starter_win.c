/* Starts copies of a program at once, as the file manager does for a
 * selection: starter.exe PROGRAM FLAG PATH... starts "PROGRAM FLAG PATH" for
 * each path, then waits for all; starter.exe PROGRAM FLAG @FILE takes the
 * paths from FILE, one a line in UTF-8 (a selection whose paths together
 * pass what one command line holds). Prints "pid PID PATH" for each start
 * and "exit CODE" for each end, in UTF-8. */
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

/* The lines of a UTF-8 file, each a string of its own. */
static int read_paths(const wchar_t *file, wchar_t ***paths)
{
    FILE *in = _wfopen(file, L"rb");
    if (!in)
        return 0;
    static char bytes[1 << 20];
    const size_t length = fread(bytes, 1, sizeof bytes - 1, in);
    fclose(in);
    bytes[length] = '\0';
    int count = 0;
    *paths = (wchar_t **)calloc(4096, sizeof(wchar_t *));
    for (char *line = strtok(bytes, "\r\n"); line && count < 4096; line = strtok(NULL, "\r\n")) {
        const int size = MultiByteToWideChar(CP_UTF8, 0, line, -1, NULL, 0);
        (*paths)[count] = (wchar_t *)calloc((size_t)size, sizeof(wchar_t));
        MultiByteToWideChar(CP_UTF8, 0, line, -1, (*paths)[count], size);
        ++count;
    }
    return count;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 4)
        return 2;
    wchar_t **paths = argv + 3;
    int count = argc - 3;
    if (argv[3][0] == L'@')
        count = read_paths(argv[3] + 1, &paths);
    HANDLE *processes = (HANDLE *)calloc((size_t)count + 1, sizeof(HANDLE));
    for (int i = 0; i < count; ++i) {
        wchar_t commandLine[4096];
        swprintf(commandLine, 4096, L"\"%ls\" %ls \"%ls\"", argv[1], argv[2], paths[i]);
        STARTUPINFOW startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        if (!CreateProcessW(argv[1], commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
            return 3;
        processes[i] = info.hProcess;
        CloseHandle(info.hThread);
        wchar_t line[4200];
        swprintf(line, 4200, L"pid %lu %ls\n", info.dwProcessId, paths[i]);
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
