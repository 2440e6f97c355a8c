// What the engine's steps report to each other. Each value means one thing;
// the request's front end (serve/results.cpp) alone turns a status that
// ends a request into one of the host's result codes.
#pragma once

#include <stdint.h>

namespace engine {

enum Status : uint8_t {
  kDone,            // the pixel block is stored
  kHeaderOnly,      // no pixel slot was given: the header alone is stored
  kDirectoryBuilt,  // the layer directory is stored
  kLayerNotServed,  // the layer has no picture of its own: the merged
                    // picture stands in (the listing says so too)
  kNoComposite,     // the layers cannot be composited: the Image Data
                    // section is served
  kNotPsd,          // signature, version or reserved bytes wrong; empty
  kTooLarge,        // more than the output format or the document allows
  kNoMemory,        // an allocation failed
  kUnreadable,      // the file cannot be opened or read
};

}  // namespace engine
