/*
 * zerik_dll: access to the zerik sheet scanner.
 *
 * An application opens a scanner with Zerik_OpenDevice, passes the returned
 * DeviceContext pointer as the first argument of every other export, and
 * closes it with Zerik_CloseDevice. Every export returns a signed 32-bit
 * status: 0 success, -1 null context or argument out of range, -2 no reply
 * within 1000 ms, -3 scanner not connected, -100 no device path open or a
 * reply or read-back check failed.
 *
 * Log texts are code-page-936 (GBK) byte strings.
 */
#ifndef ZERIK_DLL_H
#define ZERIK_DLL_H

#include <stdint.h>

#if defined(ZERIK_BUILDING_DLL)
#define ZERIK_API __attribute__((visibility("default")))
#else
#define ZERIK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque per-scanner record. */
typedef struct DeviceContext DeviceContext;

/* Every log sink: printf-style, its result is ignored. */
typedef int (*LogFunc)(const char* format, ...);

/* ---- Page memory ------------------------------------------------------
 * Movable global memory blocks, named by 32-bit handles. Page buffers are
 * allocated through these by the application's allocator and belong to the
 * application once its page handler is called.
 */
typedef uint32_t ZkGlobalHandle;

#define ZK_GMEM_MOVEABLE 0x0002u
#define ZK_GMEM_ZEROINIT 0x0040u
#define ZK_GHND (ZK_GMEM_MOVEABLE | ZK_GMEM_ZEROINIT)

/* Allocates a zero-filled block of `bytes` bytes; 0 when it cannot. */
ZERIK_API ZkGlobalHandle ZkGlobalAlloc(uint32_t flags, uint32_t bytes);
/* Address of the block, counting one more lock; NULL for an unknown handle. */
ZERIK_API void* ZkGlobalLock(ZkGlobalHandle handle);
/* Drops one lock; returns non-zero while the block stays locked. */
ZERIK_API int32_t ZkGlobalUnlock(ZkGlobalHandle handle);
/* Frees the block; returns 0 on success, the handle itself when unknown. */
ZERIK_API ZkGlobalHandle ZkGlobalFree(ZkGlobalHandle handle);
/* Size of the block in bytes; 0 for an unknown handle. */
ZERIK_API uint32_t ZkGlobalSize(ZkGlobalHandle handle);

/* ---- Pages ----------------------------------------------------------------
 * A finished page: fifteen 32-bit fields (60 bytes) on every platform.
 * Memory is the handle of the page buffer: a 40-byte bitmap information
 * header, a 256-entry grey colour table (1064 bytes in all), then the page
 * data, whose length is the header's sixth 32-bit word.
 */
typedef struct PageRecord {
    uint32_t Idx; /* data pipe: 0 (A) or 1 (B) */
    uint32_t PageNo;
    uint32_t Reserved3;
    uint32_t Dpi;
    uint32_t Layer;
    uint32_t Status;
    uint32_t Reserved7;
    uint32_t Reserved8;
    uint32_t Reserved9;
    uint32_t Reserved10;
    uint32_t Reserved11;
    uint32_t Reserved12;
    uint32_t AllocSize;
    ZkGlobalHandle Memory;
    uint32_t Reserved15;
} PageRecord;

#ifdef __cplusplus
static_assert(sizeof(PageRecord) == 60, "PageRecord is 60 bytes");
#else
_Static_assert(sizeof(PageRecord) == 60, "PageRecord is 60 bytes");
#endif

/* Called on the library's page thread for each finished page; the record is
 * valid during the call only, the page memory is the application's. */
typedef int (*PageHandlerFunc)(PageRecord* record, void* user);
/* Returns a handle of at least *size bytes; may lower *size in place. */
typedef ZkGlobalHandle (*PageAllocFunc)(uint32_t* size, void* user);

/* ---- Device context --------------------------------------------------- */
ZERIK_API DeviceContext* Zerik_OpenDevice(LogFunc log);
ZERIK_API int32_t Zerik_CloseDevice(DeviceContext* dev);

/* ---- Memory access ---------------------------------------------------- */

/* ---- Page hand-over --------------------------------------------------- */

/* ---- Link upkeep and firmware ----------------------------------------- */

/* ---- Scan set-up ------------------------------------------------------ */

/* ---- Flash ------------------------------------------------------------ */

/* ---- Machine controls ------------------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* ZERIK_DLL_H */
