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

// Machine controls.

}  // namespace zerik::text
