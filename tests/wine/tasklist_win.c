/* Wine's own tasklist.exe prints nothing; this one, placed in the helper's
 * folder (which Windows searches first), prints one line per running process
 * with its image name and id, lines ending in CR LF, in UTF-8. */
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>

int main(void)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 1;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        char name[MAX_PATH * 4];
        char line[MAX_PATH * 4 + 32];
        WideCharToMultiByte(CP_UTF8, 0, entry.szExeFile, -1, name, sizeof name, NULL, NULL);
        const int length = snprintf(line, sizeof line, "%-40s %8lu\r\n", name, entry.th32ProcessID);
        DWORD written;
        WriteFile(out, line, (DWORD)length, &written, NULL);
    }
    CloseHandle(snapshot);
    return 0;
}
