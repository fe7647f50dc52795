// Fixed global memory of the host platform: blocks from the C heap, each
// one recorded so that tests can count the live ones and a free of a block
// that is not live is refused rather than corrupting the heap.
#include <stdlib.h>
#include <string.h>

#include <unordered_map>

#include "host_internal.h"

namespace {

const SIZE_T DEFAULT_LIMIT = 0x7FFF0000u;

std::unordered_map<const void*, SIZE_T> g_blocks;
SIZE_T g_limit = DEFAULT_LIMIT;

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  if ((flags & ~static_cast<UINT>(GPTR)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD error = 0;
  if (HostCheckFault(HOST_CALL_ALLOC, &error) == HOST_FAULT_FAIL || bytes > g_limit) {
    SetLastError(error ? error : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // A block of 0 bytes is still a block of its own.
  void* block = malloc(bytes ? bytes : 1);
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Without GMEM_ZEROINIT the contents are whatever the heap held; the
  // model makes that visible instead of handing out zeros by chance.
  memset(block, (flags & GMEM_ZEROINIT) ? 0 : 0xCD, bytes ? bytes : 1);
  g_blocks[block] = bytes;
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
  g_blocks.erase(found);
  free(block);
  return nullptr;
}

unsigned HostLiveBlocks() { return static_cast<unsigned>(g_blocks.size()); }

void HostSetAllocLimit(SIZE_T bytes) { g_limit = bytes; }

void HostResetMemory() { g_limit = DEFAULT_LIMIT; }
