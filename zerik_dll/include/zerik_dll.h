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
