#include "strings/mem_mgr.h"

#include "platform/process.h"

namespace orvane {

void* StringMemMgr::Allocate(std::uint32_t size) { return platform::RuntimeAlloc(size); }

void* StringMemMgr::Reallocate(void* block, std::uint32_t size) { return platform::RuntimeRealloc(block, size); }

void StringMemMgr::Free(void* block) { platform::RuntimeFree(block); }

void StringMemMgr::Release() {}

// constinit: the process-wide strings are built during dynamic initialisation, in whatever
// order the translation units come, and must find their manager ready.
constinit StringMemMgr DefaultMemMgr;

}  // namespace orvane
