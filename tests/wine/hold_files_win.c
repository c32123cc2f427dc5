/* Holds each new hand-off file open for a while, as a virus scanner or an
 * indexer does with a new file: without letting it be renamed or removed.
 * hold_files.exe FOLDER MILLISECONDS SECONDS: for SECONDS, opens every
 * "*.txt" file that appears in FOLDER and closes it MILLISECONDS later.
 * Prints the name of each file it held, then their number. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

#define MAX_HELD 512

int wmain(int argc, wchar_t **argv)
{
    if (argc != 4)
        return 2;
    const DWORD holdMs = (DWORD)_wtoi(argv[2]);
    const DWORD totalMs = (DWORD)_wtoi(argv[3]) * 1000;
    wchar_t pattern[MAX_PATH * 2];
    swprintf(pattern, MAX_PATH * 2, L"%ls\\*.txt", argv[1]);
    static wchar_t names[MAX_HELD][MAX_PATH];
    static HANDLE handles[MAX_HELD];
    static DWORD openedAt[MAX_HELD];
    int count = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < totalMs) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(pattern, &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                int seen = 0;
                for (int i = 0; i < count && !seen; ++i)
                    seen = wcscmp(names[i], found.cFileName) == 0;
                if (seen || count == MAX_HELD)
                    continue;
                wchar_t path[MAX_PATH * 2];
                swprintf(path, MAX_PATH * 2, L"%ls\\%ls", argv[1], found.cFileName);
                HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
                if (file == INVALID_HANDLE_VALUE)
                    continue;
                wcscpy(names[count], found.cFileName);
                printf("held-name %ls\n", found.cFileName);
                handles[count] = file;
                openedAt[count] = GetTickCount();
                ++count;
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        for (int i = 0; i < count; ++i) {
            if (handles[i] && GetTickCount() - openedAt[i] >= holdMs) {
                CloseHandle(handles[i]);
                handles[i] = NULL;
            }
        }
        Sleep(1);
    }
    for (int i = 0; i < count; ++i) {
        if (handles[i])
            CloseHandle(handles[i]);
    }
    printf("held %d\n", count);
    return 0;
}
