// The one place where the engine's statuses become the host's result codes.
#include "engine/serve/serve.h"

namespace engine {

int32_t ResultForStatus(Status status) {
  switch (status) {
    case kDone:
      return kResultOk;
    case kHeaderOnly:
    case kDirectoryBuilt:
      return kResultNoPixels;
    case kLayerNotServed:
    case kNoComposite:
      // Never the end of a request: the reader serves the merged picture
      // instead. Should one arrive here, no pixels were handed out.
      return kResultNoPixels;
    case kNotPsd:
      return kResultNotPsd;
    case kTooLarge:
    case kNoMemory:
      return kResultNoMemory;
    case kUnreadable:
      return kResultReadError;
  }
  return kResultReadError;
}

}  // namespace engine
