// The layout of the interchange file's binary form, shared by its writer and reader: a 12-byte
// file header, then blocks, each an 8-byte header (kind, 0, record count, byte size) followed by
// fixed-size little-endian records of one section.
#pragma once

#include <cstdint>

namespace Quorin {

constexpr uint8_t kBinaryMagic[4] = {'T', 'L', 'X', 'C'};
constexpr uint8_t kBinaryMajorVersion = 1;
constexpr uint8_t kBinaryMinorVersion = 1;
constexpr uint32_t kBinaryFileHeaderSize = 12;
constexpr uint32_t kBinaryBlockHeaderSize = 8;
constexpr uint32_t kBinaryDefaultBlockSize = 8192;
constexpr uint32_t kBinaryMinimumReadBlock = 1024;
constexpr uint32_t kBinaryMaxRecordsPerBlock = 65535;

// Block kinds, in the order their sections are written.
enum class EBinaryBlock : uint8_t {
  kClasses = 0,
  kTemplates = 1,
  kPrototypes = 2,
  kInstances = 3,
  kTexts = 4,
  kListPrototypes = 5,
  kListInstances = 6,
  kBlobs = 7,
  kGlobalVariables = 8,
  kNamespaceVariables = 9,
  kPrototypeVariables = 10,
  kInstanceVariables = 11,
};
constexpr uint8_t kBinaryBlockKindCount = 12;

constexpr uint32_t kBinaryTypeRecordSize = 16;
constexpr uint32_t kBinaryFeatureSize = 4;
constexpr uint32_t kBinaryMemberSize = 8;
constexpr uint32_t kBinaryObjectRecordSize = 16;
constexpr uint32_t kBinaryListRecordSize = 12;
constexpr uint32_t kBinaryListEntrySize = 5;
constexpr uint32_t kBinaryTextRecordSize = 8;
constexpr uint32_t kBinaryBlobRecordSize = 8;
constexpr uint32_t kBinaryVariableRecordSize = 18;

// A text record's second word: the byte size (terminator included) above two encoding bits.
constexpr uint32_t kBinaryTextEncodingBits = 2;
constexpr uint32_t kBinaryTextEncodingMask = 3;

}  // namespace Quorin
