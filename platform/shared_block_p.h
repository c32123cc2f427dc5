#ifndef SHARED_BLOCK_P_H
#define SHARED_BLOCK_P_H

// The private companion of SharedBlock: what every platform keeps, and the
// few objects and primitives of each, which shared_block_unix.cpp and
// shared_block_win.cpp provide.

#include "shared_block.h"

class SharedBlockPrivate
{
public:
    explicit SharedBlockPrivate(const QString &key) : key(key) {}

    void detach();
    void setError(QSharedMemory::SharedMemoryError code, const char *function, const QString &what);

    QString key;
    void *memory = nullptr;
    int memorySize = 0;
    bool locked = false;
    QSharedMemory::SharedMemoryError error = QSharedMemory::NoError;
    QString errorString;

#ifdef Q_OS_WIN
    bool openMutex(const char *function);
    bool map(const char *function);
    void setWindowsError(const char *function, unsigned long code);

    void *mutex = nullptr;   // HANDLE
    void *mapping = nullptr; // HANDLE
#else
    bool openLockFile(const char *function);
    bool map(int fd, int bytes, const char *function);
    void setErrnoError(const char *function, int code);

    QByteArray blockPath;
    int dataFd = -1;
    int lockFd = -1;
#endif
};

#endif // SHARED_BLOCK_P_H
