/* Wine's own tasklist.exe prints nothing. This one stands where Windows
 * keeps the tool (the prefix's system32) and answers as the Windows tool
 * does, for what the helper and the suite ask of it:
 *
 *   tasklist [/FO TABLE|LIST|CSV] [/NH] [/FI "SESSION eq N"] [/FI "IMAGENAME eq NAME"]
 *
 * The table has a blank line and two header lines (left out with /NH), an
 * image-name column 25 characters wide that cuts longer names; CSV quotes
 * every field. Output is in the OEM code page, lines end in CR LF. An
 * unknown option or filter is an error on standard error with exit code 1;
 * no match is an INFO line on standard output. */
#include <windows.h>
#include <tlhelp32.h>
#include <psapi.h>
#include <stdio.h>
#include <wchar.h>

static void write_text(DWORD handle_kind, const wchar_t *text)
{
    char bytes[8192];
    const int length = WideCharToMultiByte(CP_OEMCP, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
    DWORD written;
    if (length > 1)
        WriteFile(GetStdHandle(handle_kind), bytes, (DWORD)(length - 1), &written, NULL);
}

static int invalid_option(const wchar_t *option)
{
    wchar_t line[512];
    swprintf(line, 512, L"ERROR: Invalid argument/option - '%ls'.\r\nType \"TASKLIST /?\" for usage.\r\n", option);
    write_text(STD_ERROR_HANDLE, line);
    return 1;
}

static int invalid_filter(void)
{
    write_text(STD_ERROR_HANDLE, L"ERROR: The search filter cannot be recognized.\r\n");
    return 1;
}

static int is_option(const wchar_t *argument, const wchar_t *name)
{
    return (argument[0] == L'/' || argument[0] == L'-') && _wcsicmp(argument + 1, name) == 0;
}

enum format { TABLE, LIST, CSV };

int wmain(int argc, wchar_t **argv)
{
    enum format format = TABLE;
    int header = 1;
    int session_filter = -1;
    const wchar_t *image_filter = NULL;
    wchar_t image_buffer[MAX_PATH];

    for (int i = 1; i < argc; ++i) {
        if (is_option(argv[i], L"NH")) {
            header = 0;
        } else if (is_option(argv[i], L"FO") && i + 1 < argc) {
            ++i;
            if (_wcsicmp(argv[i], L"TABLE") == 0)
                format = TABLE;
            else if (_wcsicmp(argv[i], L"LIST") == 0)
                format = LIST;
            else if (_wcsicmp(argv[i], L"CSV") == 0)
                format = CSV;
            else
                return invalid_option(argv[i]);
        } else if (is_option(argv[i], L"FI") && i + 1 < argc) {
            ++i;
            wchar_t name[64], op[8], value[MAX_PATH];
            if (swscanf(argv[i], L"%63ls %7ls %259l[^\n]", name, op, value) != 3 || _wcsicmp(op, L"eq") != 0)
                return invalid_filter();
            if (_wcsicmp(name, L"SESSION") == 0) {
                session_filter = _wtoi(value);
            } else if (_wcsicmp(name, L"IMAGENAME") == 0) {
                wcscpy(image_buffer, value);
                image_filter = image_buffer;
            } else {
                return invalid_filter();
            }
        } else {
            return invalid_option(argv[i]);
        }
    }
    if (format == LIST)
        header = 0; /* the list format has no header lines */

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        write_text(STD_ERROR_HANDLE, L"ERROR: Not found.\r\n");
        return 1;
    }
    int listed = 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        DWORD session = 0;
        ProcessIdToSessionId(entry.th32ProcessID, &session);
        if (session_filter >= 0 && (DWORD)session_filter != session)
            continue;
        if (image_filter && _wcsicmp(image_filter, entry.szExeFile) != 0)
            continue;
        unsigned long kilobytes = 0;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (process) {
            PROCESS_MEMORY_COUNTERS counters;
            if (GetProcessMemoryInfo(process, &counters, sizeof counters))
                kilobytes = (unsigned long)(counters.WorkingSetSize / 1024);
            CloseHandle(process);
        }
        wchar_t memory[32];
        if (kilobytes >= 1000)
            swprintf(memory, 32, L"%lu,%03lu K", kilobytes / 1000, kilobytes % 1000);
        else
            swprintf(memory, 32, L"%lu K", kilobytes);
        const wchar_t *session_name = session == 0 ? L"Services" : L"Console";

        if (listed == 0 && format == TABLE) {
            write_text(STD_OUTPUT_HANDLE, L"\r\n");
            if (header)
                write_text(STD_OUTPUT_HANDLE,
                           L"Image Name                     PID Session Name        Session#    Mem Usage\r\n"
                           L"========================= ======== ================ =========== ============\r\n");
        }
        if (listed == 0 && format == CSV && header)
            write_text(STD_OUTPUT_HANDLE, L"\"Image Name\",\"PID\",\"Session Name\",\"Session#\",\"Mem Usage\"\r\n");
        wchar_t line[MAX_PATH + 200];
        if (format == TABLE)
            swprintf(line, MAX_PATH + 200, L"%-25.25ls %8lu %-16.16ls %11lu %12ls\r\n", entry.szExeFile,
                     entry.th32ProcessID, session_name, session, memory);
        else if (format == CSV)
            swprintf(line, MAX_PATH + 200, L"\"%ls\",\"%lu\",\"%ls\",\"%lu\",\"%ls\"\r\n", entry.szExeFile,
                     entry.th32ProcessID, session_name, session, memory);
        else
            swprintf(line, MAX_PATH + 200,
                     L"\r\nImage Name:   %ls\r\nPID:          %lu\r\nSession Name: %ls\r\nSession#:     %lu\r\nMem Usage:    %ls\r\n",
                     entry.szExeFile, entry.th32ProcessID, session_name, session, memory);
        write_text(STD_OUTPUT_HANDLE, line);
        ++listed;
    }
    CloseHandle(snapshot);
    if (listed == 0)
        write_text(STD_OUTPUT_HANDLE, L"INFO: No tasks are running which match the specified criteria.\r\n");
    return 0;
}
