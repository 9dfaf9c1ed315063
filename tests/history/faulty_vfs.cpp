#include "faulty_vfs.h"

#include <sqlite3.h>

#include <cstring>

namespace qvlink::test {
namespace {

std::atomic<bool> g_diskFull{false};
sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_faulty{};

struct FaultyFile {
    sqlite3_file base;
    sqlite3_file* real;  // follows this struct in the same allocation
};

sqlite3_file* real(sqlite3_file* file) {
    return reinterpret_cast<FaultyFile*>(file)->real;
}

int faultyClose(sqlite3_file* f) {
    return real(f)->pMethods->xClose(real(f));
}
int faultyRead(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
    return real(f)->pMethods->xRead(real(f), buffer, amount, offset);
}
int faultyWrite(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
    if (g_diskFull.load()) {
        return SQLITE_FULL;
    }
    return real(f)->pMethods->xWrite(real(f), buffer, amount, offset);
}
int faultyTruncate(sqlite3_file* f, sqlite3_int64 size) {
    return real(f)->pMethods->xTruncate(real(f), size);
}
int faultySync(sqlite3_file* f, int flags) {
    return real(f)->pMethods->xSync(real(f), flags);
}
int faultyFileSize(sqlite3_file* f, sqlite3_int64* size) {
    return real(f)->pMethods->xFileSize(real(f), size);
}
int faultyLock(sqlite3_file* f, int level) {
    return real(f)->pMethods->xLock(real(f), level);
}
int faultyUnlock(sqlite3_file* f, int level) {
    return real(f)->pMethods->xUnlock(real(f), level);
}
int faultyCheckReservedLock(sqlite3_file* f, int* reserved) {
    return real(f)->pMethods->xCheckReservedLock(real(f), reserved);
}
int faultyFileControl(sqlite3_file* f, int op, void* arg) {
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int faultySectorSize(sqlite3_file* f) {
    return real(f)->pMethods->xSectorSize(real(f));
}
int faultyDeviceCharacteristics(sqlite3_file* f) {
    return real(f)->pMethods->xDeviceCharacteristics(real(f));
}
int faultyShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** memory) {
    return real(f)->pMethods->xShmMap(real(f), region, size, extend, memory);
}
int faultyShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
}
void faultyShmBarrier(sqlite3_file* f) {
    real(f)->pMethods->xShmBarrier(real(f));
}
int faultyShmUnmap(sqlite3_file* f, int deleteFlag) {
    return real(f)->pMethods->xShmUnmap(real(f), deleteFlag);
}

const sqlite3_io_methods kFaultyMethods = {
    2,  // shared memory for WAL, no memory mapping
    faultyClose,
    faultyRead,
    faultyWrite,
    faultyTruncate,
    faultySync,
    faultyFileSize,
    faultyLock,
    faultyUnlock,
    faultyCheckReservedLock,
    faultyFileControl,
    faultySectorSize,
    faultyDeviceCharacteristics,
    faultyShmMap,
    faultyShmLock,
    faultyShmBarrier,
    faultyShmUnmap,
    nullptr,
    nullptr,
};

int faultyOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    auto* faulty = reinterpret_cast<FaultyFile*>(file);
    faulty->real = reinterpret_cast<sqlite3_file*>(faulty + 1);
    const int result = g_real->xOpen(g_real, name, faulty->real, flags, outFlags);
    faulty->base.pMethods = faulty->real->pMethods != nullptr ? &kFaultyMethods : nullptr;
    return result;
}

}  // namespace

std::atomic<bool>& registerFaultyVfs() {
    if (g_real == nullptr) {
        g_real = sqlite3_vfs_find(nullptr);
        std::memcpy(&g_faulty, g_real, sizeof g_faulty);
        g_faulty.szOsFile = static_cast<int>(sizeof(FaultyFile)) + g_real->szOsFile;
        g_faulty.zName = kFaultyVfsName;
        g_faulty.pNext = nullptr;
        g_faulty.xOpen = faultyOpen;
        sqlite3_vfs_register(&g_faulty, 0);
    }
    return g_diskFull;
}

}  // namespace qvlink::test
