// Every text the library writes, in one place. The definitions live in
// texts.cpp, which is compiled with the GBK execution character set: the
// Chinese texts reach the log as code-page-936 bytes.
#pragma once

namespace zerik::text {

// Library log lines that no device sink replaces.
extern const char kOpenDevice[];       // "Zerik_OpenDevice\n"
extern const char kCloseDevice[];      // "Zerik_CloseDevice\n"
extern const char kMsgRxExit[];        // "MsgRxPipe 线程退出\n"
extern const char kDataRxExit[];       // "DataRxPipe%d 线程退出\n"
extern const char kPageProcExit[];     // "PageProcThread 线程退出\n"
extern const char kDevMonExit[];       // "DevMonThread 线程退出\n"

// Transport.
extern const char kOpenFailed[];       // "打开设备失败\n"
extern const char kPipeTestFailed1[];  // "MsgPipe 测试失败1\n"
extern const char kPipeTestFailed2[];  // "MsgPipe 测试失败2\n"
extern const char kPipeTestPassed[];   // "USB Pipe 测试成功\n"
extern const char kPipeTestNotice[];   // "USB Pipe 测试失败" (trace notice)

// Command exchange.

// Message receiver.

// Data receivers and page hand-over.

// Device monitor and firmware loader.

// Scan set-up and flash.
extern const char kSetScanParams[];    // "Zerik_SetScanParams:layer=%d dpi=%d ..."
extern const char kSetMotorRate[];     // "Zerik_SetMotorRate :%d\n"
extern const char kLoadGammaTable[];   // "Zerik_LoadGammaTable:IsDefault=%d ..."
extern const char kLoadNormCoff[];     // "Zerik_LoadNormCoff:flash_addr=0x%X ..."
extern const char kNoNormCoff[];       // "!!没有归一化系数 page_idx=%d\n"

// Machine controls.
extern const char kStartScan[];        // "Zerik_StartScan\n"
extern const char kAdjustSensor[];     // "Zerik_AdjustSensor\n"
extern const char kSetScanPapers[];    // "Zerik_SetScanPapers:%d %d\n"
extern const char kSetCheckPaperTH[];  // "Zerik_SetCheckPaperTH:%d\n"
extern const char kSetPaperType[];     // "Zerik_SetPaperType:%d\n"
extern const char kSetSortType[];      // "Zerik_SetSortType %d\n"
extern const char kBurnDeviceType[];   // "Zerik_BurnDeviceType %d\n"
extern const char kSortPaper[];        // "Zerik_SortPaper %d\n"
extern const char kGetMcState[];       // "Zerik_GetMcState\n"
extern const char kPrinterCtrl[];      // "Zerik_PrinterCtrl\n"
extern const char kLcdCtrl[];          // "Zerik_LcdCtrl\n"
extern const char kBurnVidPid[];       // "Zerik_BurnDeviceVIDPID:\n"
extern const char kVidPidOut[];        // "pc out_msg.buf[%d]=%X\n"
extern const char kVidPidIn[];         // "51 inmsg.buf[%d]=%X\n"
extern const char kE2promByte[];       // "51 readbuf[%d]=%X\n"
extern const char kStartNormAction[];  // "Zerik_StartNormAction layer=%d led=0x%X\n"

}  // namespace zerik::text
