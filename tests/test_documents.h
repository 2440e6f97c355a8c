// Shared parts of write_test_documents: the sample patterns of its
// documents and layers, the writer of named files, and the groups of
// documents each source file writes.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "psd_writer.h"

namespace testdocs {

using psdw::Bytes;
using psdw::Layer;
using psdw::LayerChannel;
using psdw::PsdSpec;
using psdw::Samples;

// A document of the mode with `channels` planes of w x h samples that follow
// a pattern of smooth and noisy parts; indexed documents get a palette,
// duotone ones their colour mode data.
PsdSpec Document(uint16_t mode, uint16_t depth, uint32_t channels,
                 uint16_t compression, uint32_t w = 13, uint32_t h = 7);

// A layer of the given rectangle with the given channel ids; samples follow
// the pattern, transparency has clear, half and opaque parts.
Layer MakeLayer(uint16_t depth, int32_t top, int32_t left, int32_t bottom,
                int32_t right, const std::vector<int16_t>& ids,
                uint16_t compression);

// Adds a layer mask (channel -2) over the given rectangle at `position`
// in the channel list.
void AddMask(Layer& layer, int32_t top, int32_t left, int32_t bottom,
             int32_t right, size_t position, uint16_t compression);

// A 24 x 16 RGB document with a resolution, for layers to be added to.
PsdSpec RgbWithLayers(uint16_t depth = 8);

const char* CompressionName(uint16_t c);

extern const uint16_t kAllCompressions[4];

// Writes each document into `dir` under its name, counting what it wrote
// and what it could not.
struct Writer {
  std::string dir;
  int failures = 0;
  int written = 0;
  void Put(const std::string& name, const Bytes& bytes) {
    if (!psdw::WriteFile(dir + "/" + name, bytes)) {
      fprintf(stderr, "write_test_documents: cannot write %s\n", name.c_str());
      ++failures;
    } else {
      ++written;
    }
  }
  void Put(const std::string& name, const PsdSpec& spec) {
    Put(name, psdw::WritePsd(spec));
  }
};

// The groups of documents, each writing its files through `out`.
void ColourModes(Writer& out);     // write_test_documents.cpp
void Resources(Writer& out);       // write_test_documents.cpp
void LargeDocuments(Writer& out);  // write_test_documents.cpp
void Layers(Writer& out);          // test_documents_layers.cpp
void Composites(Writer& out);      // test_documents_composites.cpp
void Adjustments(Writer& out);     // test_documents_adjustments.cpp
void Effects(Writer& out);         // test_documents_effects.cpp
void Malformed(Writer& out);       // test_documents_malformed.cpp
void Profiles(Writer& out);        // test_documents_profiles.cpp

}  // namespace testdocs
