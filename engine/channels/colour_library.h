// The colour library (LittleCMS) as the engine runs it: a context of its
// own for each build of colour tables, its memory from the engine's heap
// and all of it given back when the build ends (what the library leaves
// behind included), its errors to nothing, no mutex per profile (a build's
// profiles are used by its thread alone).
#pragma once

#include <lcms2_plugin.h>

namespace engine {

struct LibraryBlock;

struct LibraryContext {
  cmsContext context;
  bool failed;         // an allocation failed
  bool refused;        // a block larger than kLargestBlock was asked for
  LibraryBlock* head;  // the blocks the library holds
  bool armed;          // a failed allocation jumps back to RunInLibrary
  void* jump[5];
};

// False when the context cannot be made (memory).
bool OpenLibrary(LibraryContext* library);
// Deletes the context and frees every block it still holds.
void CloseLibrary(LibraryContext* library);

// Runs `work` with the library. The library does not always check what it
// allocates (a stage can be built with no data, then evaluated), so an
// allocation that fails does not return into it: it jumps back here, and
// RunInLibrary returns false (the context's blocks are freed by
// CloseLibrary). `work` must hold no memory but the library's.
bool RunInLibrary(LibraryContext* library,
                  void (*work)(LibraryContext* library, void* data),
                  void* data);

}  // namespace engine
