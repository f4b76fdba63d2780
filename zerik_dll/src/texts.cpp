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

// Scan set-up and flash.

// Machine controls.

}  // namespace zerik::text
