// The import reader of the interchange file's binary form. The decoder checks every count and
// size against what remains of its block and of the file before anything of a block is handed
// on, so a damaged file ends the import at the damaged block and keeps what came before.
#pragma once

#include <cstdint>

#include "capi/QuorinCAPI.h"
#include "interchange/BinaryFormat.h"
#include "interchange/InterchangeProgress.h"
#include "interchange/XmlImporter.h"
#include "repository/Objects.h"
#include "repository/Repository.h"
#include "repository/TypeRegistry.h"

namespace Quorin {

// One variable record; text is the String's characters (terminated) or null.
struct SBinaryVariable {
  EBinaryBlock block;  // which of the four variable sections
  uint32_t id;
  uint32_t value;
  uint32_t binding;
  uint32_t target;
  uint8_t targetKind;
  uint8_t valueKind;
  const char* text;
};

// Receives the decoded records in file order. Pointers are valid only during the call.
class IBinaryRecordHandler {
 public:
  virtual void OnType(ETypeKind kind, uint16_t id, uint32_t nameHash, const TlxMember* members,
                      uint32_t memberCount, const uint32_t* features, uint32_t featureCount) = 0;
  // The size in bytes of a registered type's data (0 when none is registered): how much staged
  // data each object of an object block takes.
  virtual uint32_t GetTypeSize(ETypeKind kind, uint16_t id) = 0;
  // One object with its class and template data (size 0: none); objects of a block come in
  // record order.
  virtual void OnObject(bool prototype, uint32_t id, uint32_t prototypeId, uint16_t classId, uint16_t templateId,
                        const uint8_t* classData, uint32_t classSize, const uint8_t* templateData,
                        uint32_t templateSize) = 0;
  // entries: count packed 5-byte references.
  virtual void OnList(bool prototype, uint32_t id, uint32_t prototypeId, const TlxReference* entries,
                      uint32_t count) = 0;
  // bytes: size bytes in the encoding, the last code unit the terminator.
  virtual void OnText(uint32_t id, uint32_t encoding, const void* bytes, uint32_t size) = 0;
  virtual void OnBlob(uint32_t id, const uint8_t* bytes, uint32_t size) = 0;
  virtual void OnVariable(const SBinaryVariable& variable) = 0;

 protected:
  ~IBinaryRecordHandler() = default;
};

// The outcome of a read. code: 0 read to the end, 4 malformed (the import stopped at offset,
// what came before stays). The file's header may also make the reader import nothing: a file
// in byte order 1 or of an unknown version is code 4 as well.
struct SBinaryReadResult {
  uint32_t code = 0;
  uint32_t skipped = 0;  // blocks of an unknown kind, passed over
  uint64_t offset = 0;   // code 4: where the fault lies
  uint64_t bytes = 0;    // bytes read
  const char* expected = "";  // code 4: what was expected there
};

// Decodes the whole source (of GetSize() bytes) into the handler. The progress runs over the
// file's bytes. Raises
// what the source and the handler raise.
SBinaryReadResult DecodeBinaryInterchange(IByteSource& source, IBinaryRecordHandler& handler,
                                          CInterchangeProgress* progress = nullptr);

// Decodes into the Repository through the import builder: types registered, objects, lists,
// texts and blobs created in the current region, variables set; the builder's refusals count as
// skipped. Raises what the source raises and std::bad_alloc.
SBinaryReadResult ReadBinaryInterchange(Repository& repository, IByteSource& source,
                                        CInterchangeProgress* progress = nullptr);

}  // namespace Quorin
