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

// Message receiver.

// Data receivers and page hand-over.

// Device monitor and firmware loader.

// Scan set-up and flash.
const char kSetScanParams[] =
    "Zerik_SetScanParams:layer=%d dpi=%d norm_en=%d gamma_en=%d led=%x\n";
const char kSetMotorRate[] = "Zerik_SetMotorRate :%d\n";
const char kLoadGammaTable[] =
    "Zerik_LoadGammaTable:IsDefault=%d flash_addr=0x%X dsp_addr=0x%X dsp_id=%d\n";
const char kLoadNormCoff[] = "Zerik_LoadNormCoff:flash_addr=0x%X dsp_addr=0x%X dsp_id=%d\n";
const char kNoNormCoff[] = "!!没有归一化系数 page_idx=%d\n";

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
