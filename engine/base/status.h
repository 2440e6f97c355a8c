// What the engine's steps report to each other. Only DecodePictureW turns a
// status into one of the host's result codes (ResultForStatus).
#pragma once

#include <stdint.h>

enum Status : uint8_t {
  kDone,            // the pixel block is stored
  kHeaderOnly,      // no pixel slot was given: the header alone is stored
  kDirectoryBuilt,  // the layer directory is stored
  kNotServed,       // this layer has no picture: the merged one stands in
  kNotPsd,          // signature, version or reserved bytes wrong; empty
  kTooLarge,        // more than the output format or the document allows
  kNoMemory,        // an allocation failed
  kUnreadable,      // the file cannot be opened or read
};

// The host's result code for a status that ends a request.
int32_t ResultForStatus(Status status);
