// Saving the pages of a scan: the page handler and allocator the console
// registers with the library, and the signal that a page file was written.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "zerik_dll.h"

namespace dspmon {

// Bytes of the bitmap header and colour table before the page data.
constexpr uint32_t kPageHeaderBytes = 1064;
// What the allocator gives when the library asks for nothing in particular.
constexpr uint32_t kDefaultPageBytes = 16u * 1024u * 1024u;

// A manual-reset event.
class PageFileEvent {
  public:
    void Set();
    void Reset();
    // True when the event is set within `timeout_ms`.
    bool Wait(uint32_t timeout_ms);

  private:
    std::mutex mutex_;
    std::condition_variable cond_;
    bool set_ = false;
};

// The state shared between the library's page thread and the console.
class PageCapture {
  public:
    // Writes the data of one page to "%03d.prt" in the current directory,
    // then unlocks and frees the page memory. Returns 1.
    int OnPage(const PageRecord& record);
    // Name of the last page file named, empty before the first page.
    std::string LastFileName() const;
    PageFileEvent& event() { return event_; }

  private:
    mutable std::mutex name_mutex_;
    std::string last_file_name_;
    int32_t counter_ = 0;  // guarded by name_mutex_
    PageFileEvent event_;
};

// The process's capture state, used by the two callbacks below.
PageCapture& Capture();

// PageHandlerFunc: hands the page to Capture().
int HandlePage(PageRecord* record, void* user);
// PageAllocFunc: a zero-filled block of *size bytes (16 MiB when *size is 0);
// sets *size to 0 and returns 0 when none can be had.
ZkGlobalHandle AllocatePage(uint32_t* size, void* user);

}  // namespace dspmon
