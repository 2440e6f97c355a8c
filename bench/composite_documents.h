// Documents saved without a merged picture, for the compositor's rows:
// full-size layers in several blend modes, masks and a group, or a layer
// with a second item over it.
#pragma once

#include <string>

#include "tests/psd_writer.h"

namespace bench {

psdw::Bytes CompositeDocument();
// A second layer (with a drop shadow of size 50 for "DrSh"), or the
// adjustment of `key`, over a full-size layer.
psdw::Bytes AdjustedDocument(const std::string& key);

}  // namespace bench
