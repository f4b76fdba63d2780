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

/* ---- Memory access ------------------------------------------------------
 * Controller registers are bytes at 16-bit addresses; DSP memory is 16-bit
 * words at 16-bit word addresses of DSP 0 or 1. Zerik_WriteDsp sends each
 * word high byte first and Zerik_ReadDsp reads them so; the Ushort pair
 * swaps its value around those; Zerik_WriteDspBuffer sends each byte pair
 * second byte first.
 */
ZERIK_API int32_t Zerik_ReadAddress(DeviceContext* dev, int32_t address, int32_t count,
                                    uint8_t* out);
ZERIK_API int32_t Zerik_WriteAddress(DeviceContext* dev, int32_t address, int32_t count,
                                     const uint8_t* data);
ZERIK_API int32_t Zerik_ReadDsp(DeviceContext* dev, int32_t dsp, int32_t address, int32_t count,
                                uint16_t* out);
ZERIK_API int32_t Zerik_WriteDsp(DeviceContext* dev, int32_t dsp, int32_t address,
                                 int32_t count, const uint16_t* words);
ZERIK_API int32_t Zerik_WriteDspBuffer(DeviceContext* dev, int32_t dsp, int32_t address,
                                       uint32_t byte_count, const void* bytes);
ZERIK_API int32_t Zerik_WriteDspUshort(DeviceContext* dev, int32_t dsp, int32_t address,
                                       int32_t value);
ZERIK_API int32_t Zerik_ReadDspUshort(DeviceContext* dev, int32_t dsp, int32_t address,
                                      uint16_t* out);

/* ---- Page hand-over ------------------------------------------------------ */
ZERIK_API int32_t Zerik_SetPageRcvHandler(DeviceContext* dev, PageHandlerFunc handler,
                                          void* handler_user, PageAllocFunc alloc,
                                          void* alloc_user);
ZERIK_API int32_t Zerik_GetRxPages(DeviceContext* dev, int32_t* pages);
ZERIK_API int32_t Zerik_GetPipesRxBytes(DeviceContext* dev, int32_t* pipe0_bytes,
                                        int32_t* pipe1_bytes);

/* ---- Link upkeep and firmware -------------------------------------------- */
ZERIK_API int32_t Zerik_SendKeepAlive(DeviceContext* dev, int32_t value);
ZERIK_API int32_t Zerik_ResetDsp(DeviceContext* dev);
ZERIK_API int32_t Zerik_LoadDspFW(DeviceContext* dev, int32_t dsp, const char* path);

/* ---- Scan set-up ----------------------------------------------------------- */
ZERIK_API int32_t Zerik_SetScanParams(DeviceContext* dev, int32_t layer, int32_t dpi,
                                      int32_t norm_en, int32_t gamma_en, int32_t led);
ZERIK_API int32_t Zerik_SetScanParamsEx(DeviceContext* dev, int32_t layer, int32_t dpi,
                                        int32_t norm_en, int32_t gamma_en, int32_t led,
                                        int32_t dpi_address, int32_t layer_address,
                                        int32_t norm_switch_address,
                                        int32_t coefficient_address);
ZERIK_API int32_t Zerik_SetMotorRate(DeviceContext* dev, int32_t rate);
ZERIK_API int32_t Zerik_SetLedLightLen(DeviceContext* dev, int32_t led_mask, int32_t length);
ZERIK_API int32_t Zerik_GetLedLightLen(DeviceContext* dev, int32_t led_mask, int32_t* length);
ZERIK_API int32_t Zerik_LoadGammaTable(DeviceContext* dev, int32_t is_default,
                                       uint32_t flash_address, int32_t dsp_address,
                                       int32_t dsp);

/* ---- Flash ----------------------------------------------------------------- */
ZERIK_API int32_t Zerik_ReadFlash(DeviceContext* dev, uint32_t address, uint8_t* out,
                                  int32_t count);
ZERIK_API int32_t Zerik_WriteFlash(DeviceContext* dev, uint32_t address, const uint8_t* data,
                                   int32_t count);
ZERIK_API int32_t Zerik_ProgramFlash(DeviceContext* dev, uint32_t address, const uint8_t* data,
                                     int32_t count);
ZERIK_API int32_t Zerik_ProgramFlashBuffer(DeviceContext* dev, uint32_t address,
                                           const uint8_t* data, uint32_t length);
ZERIK_API int32_t Zerik_CheckFlashChip(DeviceContext* dev);
ZERIK_API int32_t Zerik_EraseFlash(DeviceContext* dev, uint32_t address);
/* table: 1536 bytes of gamma tables. */
ZERIK_API int32_t Zerik_SaveGammaTblToFlash(DeviceContext* dev, const uint8_t* table);

/* ---- Machine controls ------------------------------------------------------ */
ZERIK_API int32_t Zerik_StartScan(DeviceContext* dev);
ZERIK_API int32_t Zerik_StopScan(DeviceContext* dev);
ZERIK_API int32_t Zerik_ResetTH(DeviceContext* dev);
ZERIK_API int32_t Zerik_AdjustSensor(DeviceContext* dev);
ZERIK_API int32_t Zerik_SetScanPapers(DeviceContext* dev, int32_t count, int32_t value);
ZERIK_API int32_t Zerik_SetCheckPaperTH(DeviceContext* dev, int32_t value);
ZERIK_API int32_t Zerik_SetPaperType(DeviceContext* dev, int32_t type);
ZERIK_API int32_t Zerik_SetSortType(DeviceContext* dev, int32_t type);
ZERIK_API int32_t Zerik_BurnDeviceType(DeviceContext* dev, int32_t type);
ZERIK_API int32_t Zerik_SortPaper(DeviceContext* dev, int32_t value);
ZERIK_API int32_t Zerik_GetMcState(DeviceContext* dev, int32_t* state);
/* values: 16 entries. */
ZERIK_API int32_t Zerik_ReadSensorValue(DeviceContext* dev, int32_t* values);
ZERIK_API int32_t Zerik_PrinterCtrl(DeviceContext* dev, int32_t on, const char* text);
ZERIK_API int32_t Zerik_LcdCtrl(DeviceContext* dev, int32_t line, const char* text);
/* identity: the 8-byte USB identity record, passed unchanged. */
ZERIK_API int32_t Zerik_BurnDeviceVIDPID(DeviceContext* dev, const uint8_t* identity);
ZERIK_API int32_t Zerik_ReadE2prom(DeviceContext* dev, int32_t count, int32_t address,
                                   uint8_t* out);
ZERIK_API int32_t Zerik_MotorCtrl(DeviceContext* dev, int32_t motor, int32_t high,
                                  int32_t low);
ZERIK_API int32_t Zerik_FmCtrl(DeviceContext* dev, int32_t on);
ZERIK_API int32_t Zerik_StartNormAction(DeviceContext* dev, int32_t layer, int32_t led);
ZERIK_API int32_t Zerik_NormStatusCheck(DeviceContext* dev, int32_t* success);

#ifdef __cplusplus
}
#endif

#endif /* ZERIK_DLL_H */
