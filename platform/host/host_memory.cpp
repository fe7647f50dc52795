// Fixed global memory of the host platform: blocks from the C heap, each
// one recorded so that tests can count the live ones and a free of a block
// that is not live is refused rather than corrupting the heap.
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include <unordered_map>

#include "host_internal.h"

namespace {

const SIZE_T DEFAULT_LIMIT = 0x7FFF0000u;
// Blocks from this size up are mapped directly, as the system's heap does
// with large blocks, rather than carved from the C heap.
const SIZE_T MAPPED_BLOCK = 2u << 20;

std::unordered_map<const void*, SIZE_T> g_blocks;
bool g_hugePages = true;
SIZE_T g_limit = DEFAULT_LIMIT;
SIZE_T g_liveBytes;
SIZE_T g_peakBytes;

}  // namespace

// GPTR is GMEM_ZEROINIT, GMEM_FIXED being 0.
const HostFlagName ALLOC_NAMES[] = {{GPTR, "GPTR"}, {0, nullptr}};

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  HostLogCall("GlobalAlloc(" + HostFlagsText(flags, ALLOC_NAMES) + ", " + std::to_string(bytes) + ")");
  if ((flags & ~static_cast<UINT>(GPTR)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD error = 0;
  if (HostCheckFault(HOST_CALL_ALLOC, &error) == HOST_FAULT_FAIL) {
    SetLastError(error);
    return nullptr;
  }
  if (bytes > g_limit) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // A block of 0 bytes is still a block of its own.  Zeroed blocks come
  // from calloc, which hands large ones over as fresh zero pages, as the
  // system's heap does.  Without GMEM_ZEROINIT the contents are whatever
  // the heap held; the model makes that visible instead of handing out
  // zeros by chance.
  SIZE_T n = bytes ? bytes : 1;
  void* block = nullptr;
  if (n >= MAPPED_BLOCK) {
    block = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) block = nullptr;
    // Where the kernel offers them on request, huge pages spare a fault
    // for every 4 KiB of a block that a whole file is read into.
    if (block != nullptr && g_hugePages) madvise(block, n, MADV_HUGEPAGE);
  } else {
    block = (flags & GMEM_ZEROINIT) ? calloc(n, 1) : malloc(n);
  }
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (!(flags & GMEM_ZEROINIT)) memset(block, 0xCD, n);
  g_blocks[block] = bytes;
  g_liveBytes += bytes;
  if (g_liveBytes > g_peakBytes) g_peakBytes = g_liveBytes;
  return block;
}

// A fixed block's handle is its address.
HGLOBAL GlobalHandle(LPCVOID block) {
  if (g_blocks.count(block) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<void*>(block);
}

// Returns null once the block is freed, and the handle itself when it is
// not a live block.
HGLOBAL GlobalFree(HGLOBAL block) {
  if (block == nullptr) return nullptr;
  auto found = g_blocks.find(block);
  if (found == g_blocks.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return block;
  }
  SIZE_T n = found->second ? found->second : 1;
  g_liveBytes -= found->second;
  g_blocks.erase(found);
  if (n >= MAPPED_BLOCK) {
    munmap(block, n);
  } else {
    free(block);
  }
  return nullptr;
}

unsigned HostLiveBlocks() { return static_cast<unsigned>(g_blocks.size()); }

void HostSetAllocLimit(SIZE_T bytes) { g_limit = bytes; }

SIZE_T HostPeakBlockBytes() { return g_peakBytes; }

void HostUseHugePages(bool use) { g_hugePages = use; }

void HostResetMemory() {
  g_limit = DEFAULT_LIMIT;
  g_peakBytes = g_liveBytes;
  g_hugePages = true;
}
