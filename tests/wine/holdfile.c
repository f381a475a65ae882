// SPDX-License-Identifier: GPL-3.0-or-later
// Holds a file open as a virus scanner or a sync client does for a moment.
//   holdfile FILE SHARING MILLISECONDS READY
// SHARING is what others may do with the file meanwhile: any of r (read), w (write) and
// d (delete), or - for nothing. READY is created once the file is held.
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int main(int argc, char **argv)
{
    if (argc != 5)
        return 2;
    DWORD sharing = (strchr(argv[2], 'r') ? FILE_SHARE_READ : 0) |
                    (strchr(argv[2], 'w') ? FILE_SHARE_WRITE : 0) |
                    (strchr(argv[2], 'd') ? FILE_SHARE_DELETE : 0);
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, sharing, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(CreateFileA(argv[4], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    Sleep(strtoul(argv[3], NULL, 10));
    CloseHandle(file);
    return 0;
}
