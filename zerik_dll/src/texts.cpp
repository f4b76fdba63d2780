// Compiled with -fexec-charset=GBK (see CMakeLists.txt).
#include "texts.h"

namespace zerik::text {

const char kOpenDevice[] = "Zerik_OpenDevice\n";
const char kCloseDevice[] = "Zerik_CloseDevice\n";
const char kMsgRxExit[] = "MsgRxPipe 线程退出\n";
const char kDataRxExit[] = "DataRxPipe%d 线程退出\n";
const char kPageProcExit[] = "PageProcThread 线程退出\n";
const char kDevMonExit[] = "DevMonThread 线程退出\n";

const char kOpenFailed[] = "打开设备失败\n";
const char kPipeTestFailed1[] = "MsgPipe 测试失败1\n";
const char kPipeTestFailed2[] = "MsgPipe 测试失败2\n";
const char kPipeTestPassed[] = "USB Pipe 测试成功\n";
const char kPipeTestNotice[] = "USB Pipe 测试失败";

// Command exchange.
const char kReplyTimeout[] = "WaitForSingleObject超时\n";

// Message receiver.
const char kMsgRxStart[] = "MsgRcvThread  线程启动\n";
const char kTimerReport[] = "T0Ticks=%X\n";
const char kStatusReport[] = "状态: [%04X] Tick=%04X SYS=%04X S0=%04X S1=%04X S2=%04X\n";
const char kFaultReport[] = "错误: [%04X] Tick=%04X SYS=%04X S0=%04X S1=%04X S2=%04X\n";
const char kEventReport[] =
    "事件: [%04X] Tick=%04X SYS=%04X S0=%04X S1=%04X S2=%04X DPI=%04X L=%04X\n";
const char kScanStarted[] = "扫描开始 PageNo=%d\n";
const char kScanEnded[] = "扫描结束 PageNo=%d exps=%dms\n";
const char kThicknessCheckDone[] = "事件：********纸厚校验结束***********\n";
const char kFaultPickTimeout[] = "搓纸超时";
const char kFaultSheetTooLong[] = "纸长超长";
const char kFaultTrayPosition[] = "纸仓上到位异常";
const char kFaultThickness[] = "纸厚异常";
const char kFaultSortTimeout[] = "分拣超时";
const char kFaultUnknown[] = "未知异常:0x%X";

// Data receivers and page hand-over.
const char kDataRxStart[] = "DataRxPipe%d 线程启动 %x\n";
const char kPageStart[] = "页开始 idx=%d type=0x%X pageno=%d dpi=%d layer=%d\n";
const char kPageEnd[] = "页结束 idx=%d type=0x%X pageno=%d dpi=%d\n";
const char kPageEndWhileIdle[] = "错误!!!页结束-1 idx=%d type=0x%X pageno=%d dpi=%d\n";
const char kPageEndMismatch[] = "错误!!!页结束-2 idx=%d type=0x%X pageno=%d dpi=%d\n";
const char kPageStartWhileOpen[] = "错误!!!页开始 idx=%d type=0x%X pageno=%d dpi=%d\n";
const char kPageQueued[] = "插入页 PageNo=%d%C \n";
const char kPageProcStart[] = "PageProcThread 线程启动\n";
const char kCallPageHandler[] = "调用 PageRcvHandler\n";
const char kPageHandlerDone[] = "OK\n";

// Device monitor and firmware loader.
const char kDevMonStart[] = "DevMonThread 线程启动\n";
const char kDisconnected[] = "设备已断开\n";
const char kConnected[] = "设备已连接 DevType=%s\n";
const char kDevTypeTallon[] = "TALLON";
const char kDevTypeZerik2[] = "ZERIK2";
const char kGetDevType[] = "Zerik_GetDevType\n";
const char kLoadDsp0Failed[] = "加载DSP0失败\n";
const char kLoadDsp0Done[] = "加载DSP0成功\n";
const char kLoadDsp1Failed[] = "加载DSP1失败\n";
const char kLoadDsp1Done[] = "加载DSP1成功\n";
const char kDspRunning[] = "DSP运行正常 Ver=0x%X\n";
const char kFirmwareFile[] = "/drivers/zerik_dsp.out";

// Firmware loader.
const char kFirmwareMissing[] = "下载DSP程序错误:zerik_dsp.out文件不存在";
const char kSectionHeader[] = "sechdr.C2.iFlags=%X Addr=%X Len=%X\n";
const char kSectionLoad[] = "Addr=0x%X Len=0x%X\n";
const char kLoadEnd[] = "Load End\n";

// Scan set-up and flash.
const char kSetScanParams[] =
    "Zerik_SetScanParams:layer=%d dpi=%d norm_en=%d gamma_en=%d led=%x\n";
const char kSetMotorRate[] = "Zerik_SetMotorRate :%d\n";
const char kLoadGammaTable[] =
    "Zerik_LoadGammaTable:IsDefault=%d flash_addr=0x%X dsp_addr=0x%X dsp_id=%d\n";
const char kLoadNormCoff[] = "Zerik_LoadNormCoff:flash_addr=0x%X dsp_addr=0x%X dsp_id=%d\n";
const char kNoNormCoff[] = "!!没有归一化系数 page_idx=%d\n";

// Flash.
const char kFlashId[] = "FlashID=0x%X\n";
const char kUnknownFlashId[] = "Unknow Flash ID:0x%X\n";
const char kSaveGammaTable[] = "Zerik_SaveGammaTblToFlash\n";
const char kNoNeedToWriteFlash[] = "No Need To Write Flash\n";
const char kProgramResult[] = "ret=%d\n";
const char kEraseTimeout[] = "EraseFlash timeout addr=0x%X\n";

// Machine controls.
const char kStartScan[] = "Zerik_StartScan\n";
const char kAdjustSensor[] = "Zerik_AdjustSensor\n";
const char kSetScanPapers[] = "Zerik_SetScanPapers:%d %d\n";
const char kSetCheckPaperTH[] = "Zerik_SetCheckPaperTH:%d\n";
const char kSetPaperType[] = "Zerik_SetPaperType:%d\n";
const char kSetSortType[] = "Zerik_SetSortType %d\n";
const char kBurnDeviceType[] = "Zerik_BurnDeviceType %d\n";
const char kSortPaper[] = "Zerik_SortPaper %d\n";
const char kGetMcState[] = "Zerik_GetMcState\n";
const char kPrinterCtrl[] = "Zerik_PrinterCtrl\n";
const char kLcdCtrl[] = "Zerik_LcdCtrl\n";
const char kBurnVidPid[] = "Zerik_BurnDeviceVIDPID:\n";
const char kVidPidOut[] = "pc out_msg.buf[%d]=%X\n";
const char kVidPidIn[] = "51 inmsg.buf[%d]=%X\n";
const char kE2promByte[] = "51 readbuf[%d]=%X\n";
const char kStartNormAction[] = "Zerik_StartNormAction layer=%d led=0x%X\n";

}  // namespace zerik::text
