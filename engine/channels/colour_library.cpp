// The colour library's context: its memory plug-in (engine blocks in a list
// of the build's, so that what the library leaks on a failure path is
// freed too), an empty error handler and a mutex plug-in that makes none.
#include "engine/channels/colour_library.h"

#include "engine/base/memory.h"

namespace engine {

// In front of every block: the list links, the size (the library grows
// blocks) and 16-byte alignment kept.
struct LibraryBlock {
  LibraryBlock* prev;
  LibraryBlock* next;
  LibraryContext* owner;  // null: the context's own record, made before it
  uint64_t size;
};
static_assert(sizeof(LibraryBlock) % 16 == 0 || sizeof(void*) == 4,
              "blocks stay aligned");

namespace {

const uint32_t kHeader = 32;
static_assert(sizeof(LibraryBlock) <= kHeader, "the header holds the links");

#if defined(__SANITIZE_ADDRESS__)
#define PSD_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PSD_UNDER_ASAN 1
#endif
#endif
#if defined(PSD_UNDER_ASAN)
extern "C" void __asan_handle_no_return();
#endif

// Leaves the library's frames for RunInLibrary (they hold nothing but the
// library's blocks, which stay listed).
__attribute__((noreturn, noinline)) void JumpBack(LibraryContext* owner) {
  owner->armed = false;
#if defined(PSD_UNDER_ASAN)
  __asan_handle_no_return();
#endif
  __builtin_longjmp(owner->jump, 1);
}

LibraryContext* OwnerOf(cmsContext context) {
  return static_cast<LibraryContext*>(cmsGetContextUserData(context));
}

// No profile within the size limit needs a larger block; one that asks for
// it is refused like a profile the library cannot read.
const uint32_t kLargestBlock = 256u << 20;

void* LibraryAllocate(cmsContext context, cmsUInt32Number size) {
  // Before the context exists the library asks with a stand-in whose user
  // data cannot be found: that block (the context's record) is not listed.
  LibraryContext* owner = OwnerOf(context);
  if (size > kLargestBlock) {
    if (owner == nullptr) return nullptr;
    owner->refused = true;
    if (owner->armed) JumpBack(owner);
    return nullptr;
  }
  uint8_t* bytes = static_cast<uint8_t*>(Allocate(uint64_t{size} + kHeader));
  if (bytes == nullptr) {
    if (owner != nullptr) owner->failed = true;
    if (owner != nullptr && owner->armed) JumpBack(owner);
    return nullptr;
  }
  LibraryBlock* block = reinterpret_cast<LibraryBlock*>(bytes);
  block->owner = owner;
  block->size = size;
  block->prev = nullptr;
  block->next = owner != nullptr ? owner->head : nullptr;
  if (owner != nullptr) {
    if (owner->head != nullptr) owner->head->prev = block;
    owner->head = block;
  }
  return bytes + kHeader;
}

void Unlink(LibraryBlock* block) {
  LibraryContext* owner = block->owner;
  if (owner == nullptr) return;
  if (block->prev != nullptr) block->prev->next = block->next;
  if (block->next != nullptr) block->next->prev = block->prev;
  if (owner->head == block) owner->head = block->next;
}

void LibraryFree(cmsContext, void* data) {
  if (data == nullptr) return;
  LibraryBlock* block =
      reinterpret_cast<LibraryBlock*>(static_cast<uint8_t*>(data) - kHeader);
  Unlink(block);
  Release(block);
}

void* LibraryReallocate(cmsContext context, void* data, cmsUInt32Number size) {
  void* grown = LibraryAllocate(context, size);
  if (grown == nullptr || data == nullptr) return grown;
  const LibraryBlock* block = reinterpret_cast<const LibraryBlock*>(
      static_cast<uint8_t*>(data) - kHeader);
  memcpy(grown, data, block->size < size ? block->size : size);
  LibraryFree(context, data);
  return grown;
}

void IgnoreError(cmsContext, cmsUInt32Number, const char*) {}

int no_mutex = 0;
void* CreateNoMutex(cmsContext) { return &no_mutex; }
void DestroyNoMutex(cmsContext, void*) {}
cmsBool LockNoMutex(cmsContext, void*) { return TRUE; }
void UnlockNoMutex(cmsContext, void*) {}

void SetPluginBase(cmsPluginBase* base, cmsUInt32Number type) {
  base->Magic = cmsPluginMagicNumber;
  base->ExpectedVersion = LCMS_VERSION;
  base->Type = type;
}

}  // namespace

bool OpenLibrary(LibraryContext* library) {
  library->failed = false;
  library->refused = false;
  library->head = nullptr;
  library->armed = false;
  cmsPluginMemHandler memory;
  memset(&memory, 0, sizeof(memory));
  SetPluginBase(&memory.base, cmsPluginMemHandlerSig);
  memory.MallocPtr = LibraryAllocate;
  memory.FreePtr = LibraryFree;
  memory.ReallocPtr = LibraryReallocate;
  cmsPluginMutex mutex;
  memset(&mutex, 0, sizeof(mutex));
  SetPluginBase(&mutex.base, cmsPluginMutexSig);
  mutex.CreateMutexPtr = CreateNoMutex;
  mutex.DestroyMutexPtr = DestroyNoMutex;
  mutex.LockMutexPtr = LockNoMutex;
  mutex.UnlockMutexPtr = UnlockNoMutex;
  memory.base.Next = &mutex.base;
  library->context = cmsCreateContext(&memory, library);
  if (library->context == nullptr) return false;
  cmsSetLogErrorHandlerTHR(library->context, IgnoreError);
  return !library->failed;
}

void CloseLibrary(LibraryContext* library) {
  if (library->context != nullptr) cmsDeleteContext(library->context);
  library->context = nullptr;
  while (library->head != nullptr) {
    LibraryBlock* block = library->head;
    library->head = block->next;
    Release(block);
  }
}

__attribute__((noinline)) bool RunInLibrary(
    LibraryContext* library, void (*work)(LibraryContext*, void*), void* data) {
  if (__builtin_setjmp(library->jump) != 0) return false;
  library->armed = true;
  work(library, data);
  library->armed = false;
  return true;
}

}  // namespace engine
