/* Starts copies of a program at once, as the file manager does for a
 * selection: starter.exe PROGRAM FLAG PATH... starts "PROGRAM FLAG PATH" for
 * each path, then waits for all; starter.exe PROGRAM FLAG @FILE takes the
 * paths from FILE, one a line in UTF-8 (a selection whose paths together
 * pass what one command line holds). Prints "began STAMP" (100 ns units
 * since 1601) before the first start, "pid PID PATH" for each start and
 * "exit CODE" for each end, in UTF-8.
 *
 * starter.exe --shell COMMAND PATH... (or @FILE) starts each copy as the
 * system starts a registered verb: COMMAND with %1 replaced by the path,
 * the program found in it as CreateProcessW finds it for a line without an
 * application name, and the line handed over exactly as it stands (Wine
 * would quote an unquoted program path in the child's command line, which
 * Windows never does). */
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

static int is_file(const wchar_t *path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

/* A quoted name up to its closing quote; else the line's words, one more
 * at a time, each with ".exe" added when it has no extension, until one
 * names a file ("C:\Program.exe" first, as the documentation warns). */
static int find_program(const wchar_t *line, wchar_t *program, size_t size)
{
    if (line[0] == L'"') {
        const wchar_t *end = wcschr(line + 1, L'"');
        if (!end || (size_t)(end - line) >= size)
            return 0;
        wcsncpy(program, line + 1, (size_t)(end - line - 1));
        program[end - line - 1] = L'\0';
        return is_file(program);
    }
    for (const wchar_t *space = line;; ++space) {
        space = wcschr(space, L' ');
        const size_t length = space ? (size_t)(space - line) : wcslen(line);
        if (length + 5 >= size)
            return 0;
        wcsncpy(program, line, length);
        program[length] = L'\0';
        const wchar_t *name = wcsrchr(program, L'\\');
        if (!wcschr(name ? name : program, L'.'))
            wcscat(program, L".exe");
        if (is_file(program))
            return 1;
        if (!space)
            return 0;
    }
}

/* The command with each %1 replaced by the path. */
static void fill_in(const wchar_t *command, const wchar_t *path, wchar_t *line, size_t size)
{
    size_t at = 0;
    for (const wchar_t *c = command; *c && at + 1 < size; ++c) {
        if (c[0] == L'%' && c[1] == L'1') {
            for (const wchar_t *p = path; *p && at + 1 < size; ++p)
                line[at++] = *p;
            ++c;
        } else {
            line[at++] = *c;
        }
    }
    line[at] = L'\0';
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 4)
        return 2;
    const int shell = wcscmp(argv[1], L"--shell") == 0;
    wchar_t **paths = argv + 3;
    int count = argc - 3;
    if (argv[3][0] == L'@')
        count = read_paths(argv[3] + 1, &paths);
    HANDLE *processes = (HANDLE *)calloc((size_t)count + 1, sizeof(HANDLE));
    FILETIME began;
    GetSystemTimeAsFileTime(&began);
    wchar_t beganLine[64];
    swprintf(beganLine, 64, L"began %llu\n",
             ((unsigned long long)began.dwHighDateTime << 32) | began.dwLowDateTime);
    say(beganLine);
    for (int i = 0; i < count; ++i) {
        wchar_t commandLine[4096], program[4096];
        if (shell) {
            fill_in(argv[2], paths[i], commandLine, 4096);
            if (!find_program(commandLine, program, 4096))
                return 4;
        } else {
            swprintf(commandLine, 4096, L"\"%ls\" %ls \"%ls\"", argv[1], argv[2], paths[i]);
            wcscpy(program, argv[1]);
        }
        STARTUPINFOW startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info;
        if (!CreateProcessW(program, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
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
