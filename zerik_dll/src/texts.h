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
extern const char kReplyTimeout[];     // "WaitForSingleObject超时\n"

// Message receiver.
extern const char kMsgRxStart[];       // "MsgRcvThread  线程启动\n"
extern const char kTimerReport[];      // "T0Ticks=%X\n"
extern const char kStatusReport[];     // "状态: [%04X] Tick=%04X SYS=%04X S0=%04X S1=%04X S2=%04X\n"
extern const char kFaultReport[];      // "错误: [%04X] Tick=... S2=%04X\n"
extern const char kEventReport[];      // "事件: [%04X] Tick=... DPI=%04X L=%04X\n"
extern const char kScanStarted[];      // "扫描开始 PageNo=%d\n"
extern const char kScanEnded[];        // "扫描结束 PageNo=%d exps=%dms\n"
extern const char kThicknessCheckDone[];  // "事件：********纸厚校验结束***********\n"
extern const char kFaultPickTimeout[];    // "搓纸超时"
extern const char kFaultSheetTooLong[];   // "纸长超长"
extern const char kFaultTrayPosition[];   // "纸仓上到位异常"
extern const char kFaultThickness[];      // "纸厚异常"
extern const char kFaultSortTimeout[];    // "分拣超时"
extern const char kFaultUnknown[];        // "未知异常:0x%X"

// Data receivers and page hand-over.
extern const char kDataRxStart[];         // "DataRxPipe%d 线程启动 %x\n"
extern const char kPageStart[];           // "页开始 idx=%d type=0x%X pageno=%d dpi=%d layer=%d\n"
extern const char kPageEnd[];             // "页结束 idx=%d type=0x%X pageno=%d dpi=%d\n"
extern const char kPageEndWhileIdle[];    // "错误!!!页结束-1 idx=%d type=0x%X pageno=%d dpi=%d\n"
extern const char kPageEndMismatch[];     // "错误!!!页结束-2 idx=%d type=0x%X pageno=%d dpi=%d\n"
extern const char kPageStartWhileOpen[];  // "错误!!!页开始 idx=%d type=0x%X pageno=%d dpi=%d\n"
extern const char kPageQueued[];          // "插入页 PageNo=%d%C \n" (%C: wint_t letter)
extern const char kPageProcStart[];       // "PageProcThread 线程启动\n"
extern const char kCallPageHandler[];     // "调用 PageRcvHandler\n"
extern const char kPageHandlerDone[];     // "OK\n"

// Device monitor and firmware loader.
extern const char kDevMonStart[];      // "DevMonThread 线程启动\n"
extern const char kDisconnected[];     // "设备已断开\n"
extern const char kConnected[];        // "设备已连接 DevType=%s\n"
extern const char kDevTypeTallon[];    // "TALLON"
extern const char kDevTypeZerik2[];    // "ZERIK2"
extern const char kGetDevType[];       // "Zerik_GetDevType\n"
extern const char kLoadDsp0Failed[];   // "加载DSP0失败\n"
extern const char kLoadDsp0Done[];     // "加载DSP0成功\n"
extern const char kLoadDsp1Failed[];   // "加载DSP1失败\n"
extern const char kLoadDsp1Done[];     // "加载DSP1成功\n"
extern const char kDspRunning[];       // "DSP运行正常 Ver=0x%X\n"
extern const char kFirmwareFile[];     // "/drivers/zerik_dsp.out" (below the system directory)

// Firmware loader (library log, except the trace notice).
extern const char kFirmwareMissing[];  // "下载DSP程序错误:zerik_dsp.out文件不存在" (trace notice)
extern const char kSectionHeader[];    // "sechdr.C2.iFlags=%X Addr=%X Len=%X\n"
extern const char kSectionLoad[];      // "Addr=0x%X Len=0x%X\n"
extern const char kLoadEnd[];          // "Load End\n"

// Scan set-up and flash.
extern const char kSetScanParams[];    // "Zerik_SetScanParams:layer=%d dpi=%d ..."
extern const char kSetMotorRate[];     // "Zerik_SetMotorRate :%d\n"
extern const char kLoadGammaTable[];   // "Zerik_LoadGammaTable:IsDefault=%d ..."
extern const char kLoadNormCoff[];     // "Zerik_LoadNormCoff:flash_addr=0x%X ..."
extern const char kNoNormCoff[];       // "!!没有归一化系数 page_idx=%d\n"

// Flash.
extern const char kFlashId[];            // "FlashID=0x%X\n"
extern const char kUnknownFlashId[];     // "Unknow Flash ID:0x%X\n"
extern const char kSaveGammaTable[];     // "Zerik_SaveGammaTblToFlash\n"
extern const char kNoNeedToWriteFlash[]; // "No Need To Write Flash\n"
extern const char kProgramResult[];      // "ret=%d\n"
extern const char kEraseTimeout[];       // "EraseFlash timeout addr=0x%X\n"

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
