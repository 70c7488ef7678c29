// A realistic story for the interchange benchmarks (export, reader, import): the default classes
// and templates with features, prototypes with class and template data, instances, connection
// lists, texts, blobs, and global, namespace and bound variables. Deterministic.
#pragma once

#include <cstdint>
#include <string>

namespace QuorinBench {

// Objects of the story whose interchange file is about 30 MB.
constexpr uint32_t kStoryObjects = 13000;

// Fills the started library (started with RecordNames, so names are written) with a story of
// `objects` prototypes and what belongs to them.
void BuildStory(uint32_t objects = kStoryObjects);

// The interchange XML of BuildStory(), made once per process in a library of its own (started
// and shut down again).
const std::string& StoryXml();

}  // namespace QuorinBench
