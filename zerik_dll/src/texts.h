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

// Scan set-up and flash.

// Machine controls.

}  // namespace zerik::text
