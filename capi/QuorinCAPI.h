/* QuorinCAPI: the C boundary of the Quorin story-data library.
 *
 * A game or tool loads the library, starts it, stores a story's data (types, objects, reference
 * lists, texts, blobs) in the one process-wide Repository, walks the story's connections, runs
 * Sprig scripts and exchanges the data as interchange files.
 *
 * First steps:
 *   TlxInitialize(QUORIN_CAPI_VERSION, 0)        start (false: wrong version or no memory)
 *   TlxRegisterDefaultClasses()                  the story classes (see "Default catalogue")
 *   TlxCreatePrototype / TlxStorePrototypeClassData / TlxCreateListPrototype / TlxCreateText
 *   TlxResolveConnectionsWithIndirections(...)   the paths out of a node (see "Connections")
 *   TlxShutdown()
 * A host that loads the library by name (dlopen, LoadLibrary) declares its function pointers from
 * QUORIN_CAPI_EXPORTS at the end of this header.
 *
 * Conventions. Every function has C linkage and an undecorated name. Text arguments are
 * zero-terminated UTF-8 unless a function takes an encoding. A failure gives the function's
 * absent result: null, 0, false, 0xFFFFFFFF (TLX_NO_ID32, offsets), 0xFFFF (TLX_NO_ID16) or an
 * Invalid TlxSprigValue; a function without a result just returns. Before a successful start-up
 * and after TlxShutdown every Tlx function gives its absent result and changes nothing (except
 * TlxCalculateTextId and TlxGetVersionString, which work at any time). Out of memory is the one
 * failure that leaves a function as a C++ exception (std::bad_alloc, "bad allocation"), unless
 * the library was started with TLX_START_CONTAIN_OUT_OF_MEMORY: then it is an absent result too.
 * A host that cannot catch C++ exceptions (C, C#, Python) must start with that flag.
 *
 * Threads, per area:
 *   - Memory (Brv*): any thread, concurrently.
 *   - Everything that reads or changes the Repository (types, objects, lists, texts, blobs,
 *     connections, scripts): one thread at a time; the library takes no locks for it. A host
 *     function a script calls may call any export on that same thread.
 *   - Interchange: an export or import may run on the library's own background thread; while an
 *     export runs the host must not change the Repository, while an import runs it must not use
 *     it; progress and done functions may be polled meanwhile.
 *   - TlxSprigGetLastError reports the calling thread's own last script call.
 *   - TlxGetVersionString and TlxCalculateTextId: any thread, any time.
 */
#ifndef QUORIN_CAPI_H
#define QUORIN_CAPI_H

#include <stddef.h>
#include <stdint.h>
#if !defined(__cplusplus)
#  if defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L
#    include <stdbool.h>
#  elif !defined(__bool_true_false_are_defined)
/* C89 has no _Bool: bool is one byte, returned and passed like the library's bool. */
#    define bool unsigned char
#    define true 1
#    define false 0
#    define __bool_true_false_are_defined 1
#  endif
#endif

#if defined(_WIN32)
#  if defined(QUORIN_BUILDING_LIBRARY)
#    define QUORIN_API __declspec(dllexport)
#  else
#    define QUORIN_API __declspec(dllimport)
#  endif
#else
#  define QUORIN_API __attribute__((visibility("default")))
#endif

/* ---- Constants --------------------------------------------------------------------------- */

/* The start-up version TlxInitialize and TlxInitializeDetailed require. */
#define QUORIN_CAPI_VERSION 17

/* Start-up flags (the flags argument of TlxInitialize and TlxInitializeDetailed). */
#define TLX_START_RECORD_NAMES 0x01u            /* keep registered names for TlxDebug_TryGetString */
#define TLX_START_CONTAIN_OUT_OF_MEMORY 0x04u   /* out of memory gives absent results, never throws */

/* The memoryLimit of TlxInitializeDetailed that sets no limit (all ones). A limit counts every
 * byte the library takes from the allocation functions; one below what start-up itself needs
 * makes the start fail (false), and 0 is such a limit. */
#define TLX_NO_MEMORY_LIMIT (~(uint64_t)0)

/* Absent ids and offsets. */
#define TLX_NO_ID16 0xFFFFu        /* class, template, region: none */
#define TLX_NO_ID32 0xFFFFFFFFu    /* object, list, text, blob ids; offsets; "no prototype" */

/* Pool selectors of BrvMalloc. */
#define TLX_POOL_CORE 0u      /* straight from the host's allocation functions */
#define TLX_POOL_SMALL 1u     /* blocks up to 1024 bytes from size classes */
#define TLX_POOL_ALIGN4 2u    /* the same, aligned to 4 bytes */
#define TLX_POOL_ALIGN8 3u    /* the same, aligned to 8 bytes */
#define TLX_POOL_ALIGN16 4u   /* the same, aligned to 16 bytes */

/* TlxReference.kind */
#define TLX_REF_NOT_SET 0u
#define TLX_REF_PROTOTYPE 1u
#define TLX_REF_INSTANCE 2u
#define TLX_REF_LIST_PROTOTYPE 3u
#define TLX_REF_LIST_INSTANCE 4u
#define TLX_REF_BLOB 5u

/* TlxListReference.kind */
#define TLX_LIST_REF_NOT_SET 0u
#define TLX_LIST_REF_PROTOTYPE 1u   /* a list prototype */
#define TLX_LIST_REF_INSTANCE 2u    /* a list instance */

/* TlxScriptReference.kind */
#define TLX_SCRIPT_NOT_SET 0u
#define TLX_SCRIPT_SPRIG 1u         /* the text is Sprig; conditions and outcomes run it */
#define TLX_SCRIPT_CUSTOM 2u        /* the host's own language; the library never runs it */

/* Member type codes: TlxMember.typeWord bits 0-4, and the type argument of TlxAdd...Member.
 * Sizes in bytes; members are packed in order, without padding. */
#define TLX_TYPE_BYTE 0u                /* int8_t, 1 */
#define TLX_TYPE_UNSIGNED_BYTE 1u       /* uint8_t, 1 */
#define TLX_TYPE_WORD 2u                /* int16_t, 2 */
#define TLX_TYPE_UNSIGNED_WORD 3u       /* uint16_t, 2 */
#define TLX_TYPE_DWORD 4u               /* int32_t, 4 */
#define TLX_TYPE_UNSIGNED_DWORD 5u      /* uint32_t, 4 */
#define TLX_TYPE_QWORD 6u               /* int64_t, 8 */
#define TLX_TYPE_UNSIGNED_QWORD 7u      /* uint64_t, 8 */
#define TLX_TYPE_FLOAT 8u               /* float, 4 */
#define TLX_TYPE_DOUBLE 9u              /* double, 8 */
#define TLX_TYPE_TEXT_ID 10u            /* uint32_t text id, 4 */
#define TLX_TYPE_BLOB_ID 11u            /* uint32_t blob id, 4 */
#define TLX_TYPE_PROTOTYPE_ID 12u       /* uint32_t, 4 */
#define TLX_TYPE_INSTANCE_ID 13u        /* uint32_t, 4 */
#define TLX_TYPE_LIST_PROTOTYPE_ID 14u  /* uint32_t, 4 */
#define TLX_TYPE_LIST_INSTANCE_ID 15u   /* uint32_t, 4 */
#define TLX_TYPE_REFERENCE 16u          /* TlxReference, 5 */
#define TLX_TYPE_LIST_REFERENCE 17u     /* TlxListReference, 5 */
#define TLX_TYPE_SCRIPT_REFERENCE 18u   /* TlxScriptReference, 5 */
/* A typeWord's parts: type code and element count (an array member has count > 1). */
#define TLX_TYPE_CODE(typeWord) ((typeWord) & 0x1Fu)
#define TLX_TYPE_COUNT(typeWord) ((typeWord) >> 5)

/* Text encodings (TlxCreateTextWithEncoding, TlxGetTextEncoding). */
#define TLX_ENCODING_UTF8 0u
#define TLX_ENCODING_UTF16 1u
#define TLX_ENCODING_UTF32 2u

/* TlxSprigValue.kind */
#define TLX_SPRIG_REFERENCE 0u
#define TLX_SPRIG_BOOLEAN 1u
#define TLX_SPRIG_INTEGER 2u
#define TLX_SPRIG_FLOAT 3u
#define TLX_SPRIG_STRING 4u
#define TLX_SPRIG_INVALID 5u

/* Codes of TlxSprigGetLastError (the strict-parse codes 4, 5 and 11 never reach it: a script
 * that runs is parsed leniently; TlxSprigTryParse and TlxSprigCheck give message and position). */
#define TLX_SPRIG_ERROR_NONE 0u
#define TLX_SPRIG_ERROR_NOT_ASSIGNABLE 1u     /* assignment to something that is not a variable */
#define TLX_SPRIG_ERROR_MISSING_LEFT 2u       /* a binary operator without its left operand */
#define TLX_SPRIG_ERROR_OUT_OF_MEMORY 5u      /* under TLX_START_CONTAIN_OUT_OF_MEMORY */
#define TLX_SPRIG_ERROR_NESTED_TOO_DEEPLY 6u  /* more than 1000 levels */
#define TLX_SPRIG_ERROR_NOT_FOUND 7u          /* no such object or member */
#define TLX_SPRIG_ERROR_MISSING_RIGHT 8u      /* a missing right operand or unary operand */
#define TLX_SPRIG_ERROR_UNARY_ONLY 9u         /* "!" or "~" given a left operand */
#define TLX_SPRIG_ERROR_NO_NAMESPACE 10u      /* no store for the name before the ":" */
#define TLX_SPRIG_ERROR_MEMBER_TYPE 12u       /* a member type scripts cannot read */
#define TLX_SPRIG_ERROR_ARGUMENT_COUNT 13u    /* wrong number of arguments to a standard function */
#define TLX_SPRIG_ERROR_ARGUMENT_KIND 14u     /* an argument of the wrong kind */

/* Interchange: TlxExportConfig.flags section bits (TLX_EXPORT_ALL_SECTIONS is the default) and
 * the background bits, formats and byte orders. */
#define TLX_EXPORT_CLASSES 0x01u
#define TLX_EXPORT_TEMPLATES 0x02u
#define TLX_EXPORT_PROTOTYPES 0x04u          /* prototypes and list prototypes */
#define TLX_EXPORT_INSTANCES 0x08u           /* instances and list instances */
#define TLX_EXPORT_TEXTS 0x10u
#define TLX_EXPORT_BLOBS 0x20u
#define TLX_EXPORT_VARIABLES 0x40u           /* global and namespace variables */
#define TLX_EXPORT_BOUND_VARIABLES 0x80u     /* variables bound to prototypes and instances */
#define TLX_EXPORT_ALL_SECTIONS 0xFFu
#define TLX_EXPORT_BACKGROUND 0x80000000u    /* run on the export thread */
#define TLX_IMPORT_BACKGROUND 0x01u          /* TlxImportConfig.flags: run on the import thread */
#define TLX_FORMAT_XML 0u
#define TLX_FORMAT_BINARY 1u
#define TLX_BYTE_ORDER_LITTLE_ENDIAN 0u
#define TLX_BYTE_ORDER_BIG_ENDIAN 1u

/* Class ids of the default catalogue (members: see "Default catalogue" below). */
#define TLX_CLASS_CONNECTION_PART 0xFFC0u
#define TLX_CLASS_FLOW_FRAGMENT 0xFFF1u
#define TLX_CLASS_DIALOG 0xFFD1u
#define TLX_CLASS_DIALOG_FRAGMENT 0xFFDFu
#define TLX_CLASS_ENTITY 0xFFEEu
#define TLX_CLASS_HUB 0xFF0Fu
#define TLX_CLASS_JUMP 0xFFF0u
#define TLX_CLASS_ASSET 0xFFA5u
#define TLX_CLASS_LOCATION 0xFF10u
#define TLX_CLASS_ZONE 0xFF70u
#define TLX_CLASS_PATH 0xFF9Au
#define TLX_CLASS_SPOT 0xFF59u
#define TLX_CLASS_LINK 0xFF11u

/* ---- Records ---------------------------------------------------------------------------
 * Records that cross the boundary, with their exact layouts. Handles point at records the
 * library owns; they stay valid until the item is released, its region is dropped or the
 * repository is cleared. The host reads their fields directly. */

typedef struct TlxObject {            /* 24 bytes */
    uint32_t prototypeId;             /*  0: 0xFFFFFFFF for a prototype */
    uint16_t classId;                 /*  4 */
    uint16_t templateId;              /*  6 */
    void*    classData;               /*  8: null until attached */
    void*    templateData;            /* 16: null until attached */
} TlxObject;

typedef struct TlxTypeInfo {          /* 24 bytes */
    uint32_t nameHash;                /*  0 */
    uint32_t firstMember;             /*  4 */
    uint32_t firstFeature;            /*  8: 0xFFFFFFFF for a class */
    uint32_t memberCount;             /* 12 */
    uint32_t featureCount;            /* 16 */
    uint32_t sizeByte;                /* 20 */
} TlxTypeInfo;

/* Member type codes (typeWord bits 0-4): 0 Byte, 1 UnsignedByte, 2 Word, 3 UnsignedWord,
 * 4 DWord, 5 UnsignedDWord, 6 QWord, 7 UnsignedQWord, 8 Float, 9 Double, 10 TextId, 11 BlobId,
 * 12 PrototypeId, 13 InstanceId, 14 ListPrototypeId, 15 ListInstanceId, 16 Reference,
 * 17 ListReference, 18 ScriptReference. Members are packed in order, without padding. */
typedef struct TlxMember {            /* 8 bytes */
    uint32_t nameHash;                /*  0 */
    uint32_t typeWord;                /*  4: type code in bits 0-4, element count in bits 5-31 */
} TlxMember;

#pragma pack(push, 1)
typedef struct TlxReference {         /* 5 bytes, packed */
    uint32_t id;
    uint8_t  kind;                    /* 0 NotSet, 1 Prototype, 2 Instance, 3 ListPrototype, 4 ListInstance, 5 Blob */
} TlxReference;

typedef struct TlxListReference {     /* 5 bytes, packed */
    uint32_t id;
    uint8_t  kind;                    /* 0 NotSet, 1 Prototype (list prototype), 2 Instance (list instance) */
} TlxListReference;

typedef struct TlxScriptReference {   /* 5 bytes, packed */
    uint32_t textId;
    uint8_t  kind;                    /* 0 NotSet, 1 TalvexSprig, 2 CustomScript */
} TlxScriptReference;

typedef struct TlxBlob {              /* 12 bytes, packed */
    uint32_t size;                    /*  0 */
    uint8_t* data;                    /*  4: no padding before the pointer */
} TlxBlob;
#pragma pack(pop)

typedef struct TlxReferenceList {     /* natural layout */
    uint32_t      prototypeListId;    /*  0: 0xFFFFFFFF for a list prototype */
    uint32_t      count;              /*  4 */
    TlxReference* entries;            /*  8: packed 5-byte records */
    uint32_t      capacity;           /* 16 */
} TlxReferenceList;

/* A Sprig value. The payload by kind (TLX_SPRIG_...):
 *   REFERENCE (0)  a TlxSprigValue* to a variable inside the library; read (or write) the value
 *                  it points at. Valid while the variable's store exists (its namespace, object,
 *                  region and the Repository); never freed by the host.
 *   BOOLEAN (1)    0 false, 1 true.
 *   INTEGER (2)    an int32_t, zero-extended: (int32_t)(uint32_t)payload.
 *   FLOAT (3)      the bits of a 32-bit float in the low 32 bits (copy them with memcpy).
 *   STRING (4)     a const char* to zero-terminated UTF-8. Who owns it depends on the call:
 *                  a result of TlxSprigExecute, TlxSprigExecuteParsed or TlxSprigGetVar is the
 *                  caller's, freed with BrvFree; the arguments a host function receives are
 *                  the library's, valid during the call; a String a host function returns is a
 *                  BrvMalloc block that stays the host's (the library copies it); a String
 *                  reached through a Reference is the variable's own.
 *   INVALID (5)    0: no value (an error, an absent function or member).
 * Read Integer and Float payloads as:
 *   int32_t i = (int32_t)(uint32_t)value.payload;
 *   uint32_t bits = (uint32_t)value.payload; float f; memcpy(&f, &bits, sizeof f); */
typedef struct TlxSprigValue {        /* 16 bytes, returned by value */
    uint64_t payload;                 /*  0: see above */
    uint8_t  kind;                    /*  8: 0 Reference, 1 Boolean, 2 Integer, 3 Float, 4 String, 5 Invalid */
    uint8_t  entryFlag;               /*  9: 1 in a variable of the library */
    uint8_t  reserved[6];             /* 10 */
} TlxSprigValue;

typedef struct TlxSprigExpression {   /* 16 bytes, owned by the library */
    uint32_t* refCount;               /* null for an empty expression */
    void*     root;                   /* null for an empty expression */
} TlxSprigExpression;

typedef TlxSprigValue (*TlxSprigFunction)(const TlxSprigValue* args, uint64_t count);

typedef struct TlxExportConfig {      /* natural layout, 40 bytes on x86-64 */
    uint32_t        bufferSize;       /*  0: default 8192 */
    uint32_t        flags;            /*  4: bits 0-7 sections, bit 31 background; default 255 */
    uint32_t        regionCount;      /*  8: default 0 */
    const uint16_t* regions;          /* 16: default null */
    uint32_t        byteOrder;        /* 24: 0 LittleEndian, 1 BigEndian */
    uint32_t        format;           /* 28: 0 XML, 1 binary */
    uint16_t        bundle;           /* 32: default 0 */
} TlxExportConfig;

typedef struct TlxImportConfig {      /* 12 bytes */
    uint32_t readBufferSize;          /* 0: 8192 for format 0, else 0 */
    uint32_t flags;                   /* 4: bit 0 background */
    uint32_t format;                  /* 8: 0 XML, 1 binary */
} TlxImportConfig;

/* The outcome of the last export or import (TlxGetInterchangeResult). */
typedef struct TlxInterchangeResult { /* 32 bytes */
    uint32_t code;                    /*  0: 0 ok, 1 running, 2 open failed, 3 read/write failed,
                                             4 malformed, 5 out of memory, 6 refused, 7 invalid arguments */
    uint32_t skipped;                 /*  4: import: elements or records skipped */
    uint64_t offset;                  /*  8: code 4: byte offset of the fault */
    uint64_t bytes;                   /* 16: bytes read or written */
    uint32_t line;                    /* 24: XML import, code 4: 1-based line */
    uint32_t reserved;                /* 28: 0 */
} TlxInterchangeResult;

/* The host's allocation functions for TlxInitializeDetailed (null: the runtime's own). */
typedef void* (*TlxAllocateFunction)(size_t size);
typedef void* (*TlxReallocateFunction)(void* block, size_t size);
typedef void  (*TlxFreeFunction)(void* block);

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Memory --------------------------------------------------------------------------
 * Pool selectors: 1 to 4 serve blocks of up to 1024 bytes from size classes (2, 3, 4 align
 * to 4, 8, 16 bytes); 0 and any other value go to the host's allocation functions directly.
 * Before the library has been started these return null and ignore frees; after shutdown
 * they keep serving. */

/* A new block of size bytes from the given pool; null for size 0, at the byte limit, or
 * when memory cannot be obtained. Free it with BrvFree. */
QUORIN_API void* BrvMalloc(uint64_t size, uint32_t pool);

/* Resizes a block in the pool it came from (pool is used only when block is null); the
 * block may move and keeps its first min(old, new) bytes. Size 0 frees the block and gives
 * null; a block this library did not hand out gives null and is left alone. */
QUORIN_API void* BrvRealloc(void* block, uint64_t size, uint32_t pool);

/* Frees a block from BrvMalloc/BrvRealloc; null and unknown blocks are ignored. */
QUORIN_API void BrvFree(void* block);

/* ---- Lifecycle and regions -----------------------------------------------------------
 * Start-up flags: bit 0 RecordNames (keep the text of every registered name for
 * TlxDebug_TryGetString). Before a successful start-up and after TlxShutdown every Tlx
 * function returns its absent result and changes nothing. */

/* Starts the library (version must be 17) on the runtime's allocator without a byte limit.
 * True on success; a second call keeps the first Repository and its flags. Never throws. */
QUORIN_API bool TlxInitialize(uint16_t version, uint8_t flags);

/* As TlxInitialize with the host's allocation functions (each null means the runtime's own)
 * and a byte limit; the first successful call sets up the allocator for the process. */
QUORIN_API bool TlxInitializeDetailed(uint16_t version, uint8_t flags, TlxAllocateFunction allocate,
                                      TlxReallocateFunction reallocate, TlxFreeFunction release,
                                      uint64_t memoryLimit);

/* Destroys the Repository and every handle with it; the allocator keeps serving. */
QUORIN_API void TlxShutdown(void);

/* Empties the Repository (every handle becomes invalid) and leaves region 0 current. */
QUORIN_API void TlxClearRepository(void);

/* Creates a region with the first free id from the region count upwards and makes it current;
 * while a region is current, returns its id and creates nothing. 0 when not started. */
QUORIN_API uint16_t TlxBeginRegion(void);

/* Makes region regionId current, creating it if needed; nothing while a region is current. */
QUORIN_API void TlxBeginRegionWithId(uint16_t regionId);

/* Creates region regionId if it does not exist, without making it current. */
QUORIN_API void TlxCreateRegion(uint16_t regionId);

/* Makes region 0 current again; returns 0. */
QUORIN_API uint16_t TlxEndRegion(void);

/* Removes everything the region holds from every look-up and frees it; the region stays,
 * empty. Unknown ids do nothing. */
QUORIN_API void TlxDropRegionData(uint16_t regionId);

/* The id of a type, object or list; 0xFFFF (types) or 0xFFFFFFFF for a null handle. */
QUORIN_API uint16_t TlxGetTypeId(TlxTypeInfo* type);
QUORIN_API uint32_t TlxGetObjectId(TlxObject* object);
QUORIN_API uint32_t TlxGetListId(TlxReferenceList* list);

/* ---- Types ---------------------------------------------------------------------------
 * Classes and templates have separate 16-bit id spaces (0xFFFF none); class ids above 0xFF00
 * are reserved for the default catalogue and register once. Names are hashed (CRC-32 of the
 * UTF-8 bytes with the terminator); a null name registers or adds nothing. A type larger than
 * 2^31 - 1 bytes is not registered. Pointers stay valid until the type's region is dropped or
 * the repository cleared. */

/* Starts a pending class with the members of baseClassId (none for 0xFFFF or unknown). */
QUORIN_API void TlxBeginClassType(uint16_t baseClassId);
/* Appends a member of a type code and element count to the pending class. */
QUORIN_API void TlxAddClassMember(const char* name, uint32_t type, uint32_t count);
/* Registers the pending class in the current region; the pending list stays until the next Begin. */
QUORIN_API void TlxEndClassType(const char* name, uint16_t classId);
/* Registers a class from the caller's member records (copied; null with a count registers nothing). */
QUORIN_API void TlxRegisterClassType(const char* name, uint16_t classId, const TlxMember* members,
                                     uint32_t memberCount);
/* Template twins of the above; Begin also starts with the base's features. */
QUORIN_API void TlxBeginTemplateType(uint16_t baseTemplateId);
QUORIN_API void TlxAddTemplateFeature(const char* name);
QUORIN_API void TlxAddTemplateMember(const char* name, uint32_t type, uint32_t count);
QUORIN_API void TlxEndTemplateType(const char* name, uint16_t templateId);
QUORIN_API void TlxRegisterTemplateType(const char* name, uint16_t templateId, const TlxMember* members,
                                        uint32_t memberCount, const uint32_t* featureHashes,
                                        uint32_t featureCount);

/* Queries: false, null, 0 or 0xFFFFFFFF (offsets) for unknown types and members. */
QUORIN_API bool TlxIsClassRegistered(uint16_t classId);
QUORIN_API bool TlxIsTemplateRegistered(uint16_t templateId);
QUORIN_API TlxTypeInfo* TlxGetClassType(uint16_t classId);
QUORIN_API TlxTypeInfo* TlxGetTemplateType(uint16_t templateId);
QUORIN_API uint32_t TlxGetClassSizeByte(uint16_t classId);
QUORIN_API uint32_t TlxGetTemplateSizeByte(uint16_t templateId);
/* Offset of the first member with this name. */
QUORIN_API uint32_t TlxGetClassMemberOffset(uint16_t classId, const char* memberName);
QUORIN_API uint32_t TlxGetTemplateMemberOffset(uint16_t templateId, const char* memberName);
/* The stored record of the first member with this name. */
QUORIN_API TlxMember* TlxGetClassMember(uint16_t classId, const char* memberName);
QUORIN_API TlxMember* TlxGetTemplateMember(uint16_t templateId, const char* memberName);
/* The record at index (null when index is not below the member count). */
QUORIN_API TlxMember* TlxGetClassMemberByIndex(uint16_t classId, uint32_t index);
QUORIN_API TlxMember* TlxGetTemplateMemberByIndex(uint16_t templateId, uint32_t index);
/* The member starting exactly at offset (null inside a member or past the last). */
QUORIN_API TlxMember* TlxGetClassMemberByOffset(uint16_t classId, uint32_t offset);
QUORIN_API TlxMember* TlxGetTemplateMemberByOffset(uint16_t templateId, uint32_t offset);
/* True when the template has the feature; false for a class or a null handle. */
QUORIN_API bool TlxHasFeature(TlxTypeInfo* templateType, const char* featureName);

/* ---- Objects -------------------------------------------------------------------------
 * Prototypes and instances have separate 32-bit id spaces; ids are not tested for repeats.
 * Each object has a class data block and a template data block, laid out by its types and
 * owned by the library; a handle stays valid until the instance is released, its region is
 * dropped or the repository cleared. */

/* A prototype without data in the current region; null only when not started. */
QUORIN_API TlxObject* TlxCreatePrototype(uint32_t prototypeId, uint16_t classId, uint16_t templateId);
QUORIN_API bool TlxIsPrototypeRegistered(uint32_t prototypeId);
/* The prototype, or null. */
QUORIN_API TlxObject* TlxGetPrototype(uint32_t prototypeId);
/* Attaches a copy of size bytes as the class (template) data, once: later calls change nothing.
 * Null or 0 bytes attach no data. A registered type gives the block its size (a short copy is
 * padded with zeros, a long one cut); otherwise the block has size bytes. */
QUORIN_API void TlxStorePrototypeClassData(uint32_t prototypeId, const void* data, uint32_t size);
QUORIN_API void TlxStorePrototypeTemplateData(uint32_t prototypeId, const void* data, uint32_t size);
/* An instance with a copy of the prototype's data; null (nothing created) without the prototype. */
QUORIN_API TlxObject* TlxCreateInstanceFromPrototype(uint32_t instanceId, uint32_t prototypeId);
/* An instance with a copy of another instance's current data, descending from the same
 * prototype; null (nothing created) without the source. */
QUORIN_API TlxObject* TlxCloneInstance(uint32_t newInstanceId, uint32_t sourceInstanceId);
/* An instance without data; prototypeId is stored as given. */
QUORIN_API TlxObject* TlxCreateEmptyInstance(uint32_t instanceId, uint16_t classId, uint16_t templateId,
                                             uint32_t prototypeId);
QUORIN_API bool TlxIsInstanceRegistered(uint32_t instanceId);
/* The instance, or null. */
QUORIN_API TlxObject* TlxGetInstance(uint32_t instanceId);
/* As the prototype twins, for an instance. */
QUORIN_API void TlxStoreInstanceClassData(uint32_t instanceId, const void* data, uint32_t size);
QUORIN_API void TlxStoreInstanceTemplateData(uint32_t instanceId, const void* data, uint32_t size);
/* Frees the instance; its slot (the same handle address) serves the next object of its region. */
QUORIN_API void TlxReleaseInstance(uint32_t instanceId);
/* Class (template) data plus offset; null when that data is not attached. The offset is not
 * checked. The Const forms are the same functions for read-only use. */
QUORIN_API void* TlxGetCMember(TlxObject* object, uint32_t offset);
QUORIN_API const void* TlxGetConstCMember(TlxObject* object, uint32_t offset);
QUORIN_API void* TlxGetTMember(TlxObject* object, uint32_t offset);
QUORIN_API const void* TlxGetConstTMember(TlxObject* object, uint32_t offset);
/* The named member of the object's class (template) data; null when the type or member is
 * unknown, the data is not attached, or the member lies past the data. */
QUORIN_API void* TlxGetCMemberByName(TlxObject* object, const char* memberName);
QUORIN_API const void* TlxGetConstCMemberByName(TlxObject* object, const char* memberName);
QUORIN_API void* TlxGetTMemberByName(TlxObject* object, const char* memberName);
QUORIN_API const void* TlxGetConstTMemberByName(TlxObject* object, const char* memberName);

/* ---- Reference lists -----------------------------------------------------------------
 * List prototypes and list instances have separate 32-bit id spaces. A list prototype is
 * sealed once full and then refuses every change (0xFFFF); a list never grows past the
 * capacity it was created with. */

/* A sealed list prototype holding a copy of count entries (none for null or 0). */
QUORIN_API TlxReferenceList* TlxCreateListPrototype(uint32_t listId, const TlxReference* entries, uint32_t count);
/* A list prototype with room for capacity entries, sealed when TlxAddReference fills it. */
QUORIN_API TlxReferenceList* TlxCreateEmptyListPrototype(uint32_t listId, uint32_t capacity);
QUORIN_API bool TlxIsListPrototypeRegistered(uint32_t listId);
/* The list prototype, or null. */
QUORIN_API TlxReferenceList* TlxGetListPrototype(uint32_t listId);
/* A list instance with a copy of the list prototype's entries (count equals capacity); null
 * (nothing created) without the prototype. */
QUORIN_API TlxReferenceList* TlxCreateListInstanceFromPrototype(uint32_t listInstanceId, uint32_t listPrototypeId);
/* A list instance with room for capacity entries; prototypeListId is stored as given. */
QUORIN_API TlxReferenceList* TlxCreateEmptyListInstance(uint32_t listInstanceId, uint32_t capacity,
                                                        uint32_t prototypeListId);
/* A copy of a list instance whose prototype list id is the source's id; null without it. */
QUORIN_API TlxReferenceList* TlxCloneListInstance(uint32_t newListInstanceId, uint32_t sourceListInstanceId);
/* Frees the list instance and its entries; its slot serves the next list of its region. */
QUORIN_API void TlxReleaseListInstance(uint32_t listInstanceId);
QUORIN_API bool TlxIsListInstanceRegistered(uint32_t listInstanceId);
/* The list instance, or null. */
QUORIN_API TlxReferenceList* TlxGetListInstance(uint32_t listInstanceId);
/* Appends a copy of the reference: 1 when it completed a list prototype, 0 otherwise, 0xFFFF
 * (nothing written) for a sealed or full list or a null argument. */
QUORIN_API uint32_t TlxAddReference(TlxReferenceList* list, const TlxReference* reference);
/* The prototype (kind 1) or instance (kind 2) the reference names; null for other kinds. */
QUORIN_API TlxObject* TlxResolveObjectRef(const TlxReference* reference);
/* The list prototype (kind 3) or list instance (kind 4) the reference names; null otherwise. */
QUORIN_API TlxReferenceList* TlxResolveListRef(const TlxReference* reference);
/* The list prototype (kind 1) or list instance (kind 2) a list reference names; null otherwise. */
QUORIN_API TlxReferenceList* TlxResolveListRef2(const TlxListReference* reference);

/* ---- Texts and blobs -----------------------------------------------------------------
 * Texts are kept in their encoding (0 UTF-8, 1 UTF-16, 2 UTF-32) with their terminator; blobs
 * are byte arrays. Neither is released alone: they go with their region. */

/* Stores a copy of a zero-terminated UTF-8 string (null keeps a null text). */
QUORIN_API void TlxCreateText(uint32_t textId, const char* text);
/* As TlxCreateText for a zero-terminated string in the given encoding. */
QUORIN_API void TlxCreateTextWithEncoding(uint32_t textId, const void* text, uint32_t encoding);
QUORIN_API bool TlxIsTextRegistered(uint32_t textId);
/* The text's bytes in its own encoding; null when absent. */
QUORIN_API const void* TlxGetText(uint32_t textId);
/* The text's encoding; 0 when absent. */
QUORIN_API uint32_t TlxGetTextEncoding(uint32_t textId);
/* As TlxGetText, but null for the id 0xFFFFFFFF. */
QUORIN_API const void* TlxResolveTextRef(uint32_t textId);
/* The script's source text; null for kind 0 (not set) or an absent text. */
QUORIN_API const void* TlxResolveScriptRef(const TlxScriptReference* reference);
/* The id of a text: CRC-32 of its bytes and terminator, from 0xFFFFFFFF without the final
 * inversion ("abc" gives 0x58A297AF; null gives 0). Works at any time, also before start-up. */
QUORIN_API uint32_t TlxCalculateTextId(const char* text);
/* The recorded name of a hash (UTF-8); null unless started with RecordNames and recorded. */
QUORIN_API const char* TlxDebug_TryGetString(uint32_t nameHash);
/* Stores a blob of size bytes, a copy of bytes (contents undefined for null); an existing id
 * keeps its blob. */
QUORIN_API void TlxCreateBlob(uint32_t blobId, const void* bytes, uint32_t size);
QUORIN_API bool TlxIsBlobRegistered(uint32_t blobId);
/* The blob (its data is null for size 0), or null when absent. */
QUORIN_API TlxBlob* TlxGetBlob(uint32_t blobId);
/* The blob a reference of kind 5 names; null for other kinds or an absent blob. */
QUORIN_API TlxBlob* TlxResolveBlobRef(const TlxReference* reference);

/* ---- Scripts ---------------------------------------------------------------------------
 * Sprig expressions and variables (the language: docs/sprig.md). Script errors never leave these
 * functions: they give an Invalid value or false, and TlxSprigGetLastError tells what happened. A String in a returned TlxSprigValue is a block the caller frees with
 * BrvFree. A Reference (kind 0) points at a variable inside the library and is valid while that
 * variable's store exists (namespace, object, region, repository). */

/* A new handle for the lenient parse of text (reference count 1); an empty expression gives a
 * handle without a tree; null for null text. Free it with TlxSprigFreeNode. */
QUORIN_API TlxSprigExpression* TlxSprigParse(const char* text);
/* Parses strictly: true when text has no syntax error. Otherwise false; *position (if not null)
 * receives the error's character index and messageBuffer (if not null and bufferSize > 0) the
 * message's first bytes, cut to bufferSize and always terminated. */
QUORIN_API bool TlxSprigTryParse(const char* text, char* messageBuffer, uint32_t bufferSize,
                                 uint32_t* position);
/* Releases the handle's reference to its tree (destroyed with the last one) and frees the
 * handle; null does nothing. */
QUORIN_API void TlxSprigFreeNode(TlxSprigExpression* expression);
/* Parses leniently and evaluates text: a resolved copy of the result (never a Reference);
 * Invalid for an empty expression or a script error. */
QUORIN_API TlxSprigValue TlxSprigExecute(const char* text);
/* Evaluates the handle's tree; a plain variable gives a Reference to it. Invalid for a null
 * handle, an empty expression or a script error. */
QUORIN_API TlxSprigValue TlxSprigExecuteParsed(TlxSprigExpression* expression);
/* A Reference to the variable (name, ns:var, 0x<id>:var, $0x<id>:var; namespace, store and
 * variable created as needed, a new variable is Integer 0), the value of a member
 * (0x<id>:$member, $0x<id>:$member), or Invalid (no such object or member). */
QUORIN_API TlxSprigValue TlxSprigGetVar(const char* name);
/* True when the variable or member exists; never creates anything. */
QUORIN_API bool TlxSprigVarExists(const char* name);
/* Binds a host function under name (Ns.Fn creates namespace Ns); the first binding of a name
 * stays. A null function does nothing. A String the function returns must come from BrvMalloc;
 * the library copies it and the block stays the host's. */
QUORIN_API void TlxSprigBind(TlxSprigFunction function, const char* name);
/* Binds Math.Sum, Min, Max and Clamp. */
QUORIN_API void TlxSprigBindMathFunctions(void);
/* Binds String.Contains, StartsWith, EndsWith, Length, Replace, Substring and Distance. */
QUORIN_API void TlxSprigBindStringFunctions(void);
/* Binds the String functions, then the Math functions. */
QUORIN_API void TlxSprigBindStandardFunctions(void);
/* Finds or creates the namespace: an opaque non-null pointer; null for null name. */
QUORIN_API void* TlxSprigCreateNamespace(const char* name);
/* Destroys the namespace with its variables and functions; stored References into it become
 * Invalid. Nothing happens when there is none. */
QUORIN_API void TlxSprigReleaseNamespace(const char* name);
/* The script error of the calling thread's last call that ran a script (TlxSprigExecute,
 * TlxSprigExecuteParsed, TlxSprigGetVar, TlxResolveConnectionConditions,
 * TlxResolveConnectionOutcomes; the first error when that call met several): its code
 * (TLX_SPRIG_ERROR_..., TLX_SPRIG_ERROR_NONE when the call raised none), its message (UTF-8,
 * cut to messageSize and terminated; not written for null or 0) and the character index of the
 * token concerned in the script text (written when position is not null). Allocates nothing. */
QUORIN_API uint32_t TlxSprigGetLastError(char* message, uint32_t messageSize, uint32_t* position);
/* Checks a script without running it or touching any variable: the strict parse of
 * TlxSprigTryParse, then every error evaluation would raise from the tree's shape (a missing
 * operand, a unary operator given a left operand, an assignment to something that is not a
 * variable, a call of a function not bound now, nesting deeper than 1000). True when there is
 * none; otherwise false with the first one's message and position, as TlxSprigTryParse reports. */
QUORIN_API bool TlxSprigCheck(const char* text, char* message, uint32_t messageSize, uint32_t* position);

/* ---- Interchange files ----------------------------------------------------------------
 * Format 0 is the XML text form. Runs happen on the caller's thread; a run is refused while
 * another export or import runs. Every outcome, failures included, is kept for
 * TlxGetInterchangeResult. */

/* Writes the Repository's selected sections to the file at path (UTF-8), replacing it. */
QUORIN_API void TlxExport(const char* path, const TlxExportConfig* config);
/* Reads the file at path into the Repository; what a malformed file held before its fault stays. */
QUORIN_API void TlxImport(const char* path, const TlxImportConfig* config);
/* Defaults: buffer 8192, all sections, all regions, LittleEndian, bundle 0, the given format. */
QUORIN_API TlxExportConfig TlxGetDefaultExportConfig(uint32_t format);
/* Defaults: read buffer 8192 for format 0 (else 0), foreground, the given format. */
QUORIN_API TlxImportConfig TlxGetDefaultImportConfig(uint32_t format);
/* The fraction done of the running export or import; 1.0 when none runs. */
QUORIN_API float TlxGetExportProgress(void);
QUORIN_API float TlxGetImportProgress(void);
/* True when no export (import) runs. */
QUORIN_API bool TlxGetExportDone(void);
QUORIN_API bool TlxGetImportDone(void);
/* The outcome of the last export (direction 0) or import (1) and its one-sentence message
 * (UTF-8, cut to messageSize with its terminator; not written when null or 0). False, with
 * nothing written, when there was none or result is null. */
QUORIN_API bool TlxGetInterchangeResult(uint32_t direction, TlxInterchangeResult* result, char* message,
                                        uint32_t messageSize);

/* ---- Host extensions ------------------------------------------------------------------- */

/* The library's release ("Quorin 0.3.0"): static text, valid at any time, before start-up too. */
QUORIN_API const char* TlxGetVersionString(void);

/* ---- Default catalogue ----------------------------------------------------------------
 * The story classes, each member given as: offset name (type). Types: TextId a uint32_t text
 * id (TLX_NO_ID32 for none), BlobId a uint32_t blob id, Ref a TlxReference, ListRef a
 * TlxListReference, ScriptRef a TlxScriptReference, Float a float, UByte a uint8_t. Every member
 * is one element, members are packed (copy them with memcpy at their offset) and no class has a
 * base class or a template.
 *   ConnectionPart 0xFFC0, 19 bytes
 *     0 Label (TextId), 4 Outcome (ScriptRef), 9 Condition (ScriptRef), 14 Target (Ref)
 *   FlowFragment 0xFFF1, 37 bytes
 *     0 Connections (ListRef), 5 Parent (Ref), 10 Children (ListRef), 15 Attachments (ListRef),
 *     20 Image (Ref), 25 Name (TextId), 29 TechnicalName (TextId), 33 Description (TextId)
 *   Dialog 0xFFD1, 37 bytes
 *     0 Connections (ListRef), 5 Parent (Ref), 10 Children (ListRef), 15 Attachments (ListRef),
 *     20 Image (Ref), 25 Name (TextId), 29 TechnicalName (TextId), 33 Description (TextId)
 *   DialogFragment 0xFFDF, 31 bytes
 *     0 Connections (ListRef), 5 Parent (Ref), 10 Actor (Ref), 15 TechnicalName (TextId),
 *     19 StageDirections (TextId), 23 Text (TextId), 27 PreviewText (TextId)
 *   Entity 0xFFEE, 22 bytes
 *     0 Attachments (ListRef), 5 Image (Ref), 10 Name (TextId), 14 TechnicalName (TextId),
 *     18 Description (TextId)
 *   Hub 0xFF0F, 22 bytes
 *     0 Connections (ListRef), 5 Parent (Ref), 10 Name (TextId), 14 TechnicalName (TextId),
 *     18 Description (TextId)
 *   Jump 0xFFF0, 22 bytes
 *     0 Parent (Ref), 5 Connection (Ref), 10 Name (TextId), 14 TechnicalName (TextId),
 *     18 Description (TextId)
 *   Asset 0xFFA5, 21 bytes
 *     0 Name (TextId), 4 TechnicalName (TextId), 8 Description (TextId), 12 MimeType (TextId),
 *     16 AssetType (UByte), 17 Data (BlobId)
 *   Location 0xFF10, 30 bytes
 *     0 ScaleX (Float), 4 ScaleY (Float), 8 Image (Ref), 13 Name (TextId),
 *     17 TechnicalName (TextId), 21 Description (TextId), 25 Children (ListRef)
 *   Zone 0xFF70, 27 bytes
 *     0 Image (Ref), 5 Name (TextId), 9 TechnicalName (TextId), 13 Description (TextId),
 *     17 Points (BlobId), 21 Children (ListRef), 26 ShapeType (UByte)
 *   Path 0xFF9A, 31 bytes
 *     0 StartZone (Ref), 5 TargetZone (Ref), 10 Image (Ref), 15 Name (TextId),
 *     19 TechnicalName (TextId), 23 Description (TextId), 27 Points (BlobId)
 *   Spot 0xFF59, 17 bytes
 *     0 Image (Ref), 5 Name (TextId), 9 TechnicalName (TextId), 13 Description (TextId)
 *   Link 0xFF11, 17 bytes
 *     0 Target (Ref), 5 Name (TextId), 9 TechnicalName (TextId), 13 Description (TextId)
 * The walkable nodes are FlowFragment, Dialog, DialogFragment and Hub (their Connections), and
 * Jump (its Connection). */

/* Registers the thirteen classes above in the current region; ids already registered are left
 * as they are. */
QUORIN_API void TlxRegisterDefaultClasses(void);

/* ---- Connection resolution -------------------------------------------------------------
 * The connection model:
 *   node (e.g. a DialogFragment)
 *     .Connections: a TlxListReference naming a list whose entries (kind TLX_REF_LIST_PROTOTYPE
 *                   or TLX_REF_LIST_INSTANCE) each name one outgoing connection;
 *   connection: a list of TlxReference entries, each a ConnectionPart, a Jump or a Hub
 *                   (kind TLX_REF_PROTOTYPE or TLX_REF_INSTANCE);
 *   ConnectionPart: Label, Condition and Outcome (Sprig), Target (the next node);
 *   Jump: continues with the connection its Connection member names (followed once);
 *   Hub: fans out into each of its own Connections (depth first, cycles cut, at most 64 deep).
 * Resolving gives the concrete paths: each path is a list of the parts passed, ending in the
 * part whose Target is the node the path leads to. TlxResolveConnectionsWithIndirections takes
 * the node's Connections member as it is:
 *
 *   void** paths = TlxResolveConnectionsWithIndirections(&connections);
 *   for (i = 0; i < TlxGetResolvedConnectionCount(paths); ++i) {
 *     const TlxReferenceList* parts = TlxGetPathParts(paths[i]);   (entries: parts->entries)
 *     if (TlxResolveConnectionConditions(paths[i])) ... offer it; TlxResolveConnectionTarget
 *   }
 *   TlxResolveConnectionOutcomes(chosen); ... TlxFreeResolvedConnection(paths);
 *
 * Paths are opaque pointers: read one with TlxGetPathParts, never by its layout. A connection
 * passed to TlxResolveConnectionWithIndirections is the list's object, the pointer one pointer
 * width before its TlxReferenceList handle: (char*)handle - sizeof(void*). A resolution stops
 * after 4096 paths or 65536 hub expansions and gives the paths found until then. */

/* The paths of one connection, jumps followed once and hubs fanned out depth first; null for a
 * null connection. */
QUORIN_API void** TlxResolveConnectionWithIndirections(void* connectionListObject);
/* The paths of every connection named by the list (kind 1 list prototype, 2 list instance). */
QUORIN_API void** TlxResolveConnectionsWithIndirections(const TlxListReference* connections);
/* The number of paths in a resolved array; 0 for null. */
QUORIN_API uint32_t TlxGetResolvedConnectionCount(void** paths);
/* Frees the paths of a resolved array and the array; null does nothing. */
QUORIN_API void TlxFreeResolvedConnection(void** paths);
/* The object the path's last part targets; null for a null or empty path or no target. */
QUORIN_API TlxObject* TlxResolveConnectionTarget(void* path);
/* Evaluates the Sprig conditions of the path's parts in order: false at the first false or
 * failing one; true when all hold, for parts without Sprig conditions and for a null path.
 * TlxSprigGetLastError tells a false condition (0) from a failing one. */
QUORIN_API bool TlxResolveConnectionConditions(void* path);
/* Executes the Sprig outcomes of the path's parts in order; a failing outcome is skipped. */
QUORIN_API void TlxResolveConnectionOutcomes(void* path);
/* The list of a resolved path's parts (count, entries); null for a null path. Valid until the
 * path is freed. */
QUORIN_API TlxReferenceList* TlxGetPathParts(void* path);

#ifdef __cplusplus
}
#endif

/* ---- Every export, for hosts that load the library by name ---------------------------------
 * QUORIN_CAPI_EXPORTS(X) applies X(returnType, name, (parameters)) to every function above, in
 * the order of its sections. A host declares what it needs from it, for example:
 *
 *   #define DECLARE(type, name, parameters) type (*name) parameters;
 *   static struct { QUORIN_CAPI_EXPORTS(DECLARE) } quorin;
 *   #define LOAD(type, name, parameters) quorin.name = (type (*) parameters) Find(#name);
 *   QUORIN_CAPI_EXPORTS(LOAD)
 *
 * (examples/minimal.c does this with dlsym and GetProcAddress). */

#define QUORIN_CAPI_MEMORY_EXPORTS(X) \
    X(void*, BrvMalloc, (uint64_t size, uint32_t pool)) \
    X(void*, BrvRealloc, (void* block, uint64_t size, uint32_t pool)) \
    X(void, BrvFree, (void* block))

#define QUORIN_CAPI_LIFECYCLE_EXPORTS(X) \
    X(bool, TlxInitialize, (uint16_t version, uint8_t flags)) \
    X(bool, TlxInitializeDetailed, (uint16_t version, uint8_t flags, TlxAllocateFunction allocate, \
        TlxReallocateFunction reallocate, TlxFreeFunction release, uint64_t memoryLimit)) \
    X(void, TlxShutdown, (void)) \
    X(void, TlxClearRepository, (void)) \
    X(uint16_t, TlxBeginRegion, (void)) \
    X(void, TlxBeginRegionWithId, (uint16_t regionId)) \
    X(void, TlxCreateRegion, (uint16_t regionId)) \
    X(uint16_t, TlxEndRegion, (void)) \
    X(void, TlxDropRegionData, (uint16_t regionId)) \
    X(uint16_t, TlxGetTypeId, (TlxTypeInfo* type)) \
    X(uint32_t, TlxGetObjectId, (TlxObject* object)) \
    X(uint32_t, TlxGetListId, (TlxReferenceList* list))

#define QUORIN_CAPI_TYPES_EXPORTS(X) \
    X(void, TlxBeginClassType, (uint16_t baseClassId)) \
    X(void, TlxAddClassMember, (const char* name, uint32_t type, uint32_t count)) \
    X(void, TlxEndClassType, (const char* name, uint16_t classId)) \
    X(void, TlxRegisterClassType, (const char* name, uint16_t classId, const TlxMember* members, \
        uint32_t memberCount)) \
    X(void, TlxBeginTemplateType, (uint16_t baseTemplateId)) \
    X(void, TlxAddTemplateFeature, (const char* name)) \
    X(void, TlxAddTemplateMember, (const char* name, uint32_t type, uint32_t count)) \
    X(void, TlxEndTemplateType, (const char* name, uint16_t templateId)) \
    X(void, TlxRegisterTemplateType, (const char* name, uint16_t templateId, \
        const TlxMember* members, uint32_t memberCount, const uint32_t* featureHashes, \
        uint32_t featureCount)) \
    X(bool, TlxIsClassRegistered, (uint16_t classId)) \
    X(bool, TlxIsTemplateRegistered, (uint16_t templateId)) \
    X(TlxTypeInfo*, TlxGetClassType, (uint16_t classId)) \
    X(TlxTypeInfo*, TlxGetTemplateType, (uint16_t templateId)) \
    X(uint32_t, TlxGetClassSizeByte, (uint16_t classId)) \
    X(uint32_t, TlxGetTemplateSizeByte, (uint16_t templateId)) \
    X(uint32_t, TlxGetClassMemberOffset, (uint16_t classId, const char* memberName)) \
    X(uint32_t, TlxGetTemplateMemberOffset, (uint16_t templateId, const char* memberName)) \
    X(TlxMember*, TlxGetClassMember, (uint16_t classId, const char* memberName)) \
    X(TlxMember*, TlxGetTemplateMember, (uint16_t templateId, const char* memberName)) \
    X(TlxMember*, TlxGetClassMemberByIndex, (uint16_t classId, uint32_t index)) \
    X(TlxMember*, TlxGetTemplateMemberByIndex, (uint16_t templateId, uint32_t index)) \
    X(TlxMember*, TlxGetClassMemberByOffset, (uint16_t classId, uint32_t offset)) \
    X(TlxMember*, TlxGetTemplateMemberByOffset, (uint16_t templateId, uint32_t offset)) \
    X(bool, TlxHasFeature, (TlxTypeInfo* templateType, const char* featureName))

#define QUORIN_CAPI_OBJECTS_EXPORTS(X) \
    X(TlxObject*, TlxCreatePrototype, (uint32_t prototypeId, uint16_t classId, uint16_t templateId)) \
    X(bool, TlxIsPrototypeRegistered, (uint32_t prototypeId)) \
    X(TlxObject*, TlxGetPrototype, (uint32_t prototypeId)) \
    X(void, TlxStorePrototypeClassData, (uint32_t prototypeId, const void* data, uint32_t size)) \
    X(void, TlxStorePrototypeTemplateData, (uint32_t prototypeId, const void* data, uint32_t size)) \
    X(TlxObject*, TlxCreateInstanceFromPrototype, (uint32_t instanceId, uint32_t prototypeId)) \
    X(TlxObject*, TlxCloneInstance, (uint32_t newInstanceId, uint32_t sourceInstanceId)) \
    X(TlxObject*, TlxCreateEmptyInstance, (uint32_t instanceId, uint16_t classId, \
        uint16_t templateId, uint32_t prototypeId)) \
    X(bool, TlxIsInstanceRegistered, (uint32_t instanceId)) \
    X(TlxObject*, TlxGetInstance, (uint32_t instanceId)) \
    X(void, TlxStoreInstanceClassData, (uint32_t instanceId, const void* data, uint32_t size)) \
    X(void, TlxStoreInstanceTemplateData, (uint32_t instanceId, const void* data, uint32_t size)) \
    X(void, TlxReleaseInstance, (uint32_t instanceId)) \
    X(void*, TlxGetCMember, (TlxObject* object, uint32_t offset)) \
    X(const void*, TlxGetConstCMember, (TlxObject* object, uint32_t offset)) \
    X(void*, TlxGetTMember, (TlxObject* object, uint32_t offset)) \
    X(const void*, TlxGetConstTMember, (TlxObject* object, uint32_t offset)) \
    X(void*, TlxGetCMemberByName, (TlxObject* object, const char* memberName)) \
    X(const void*, TlxGetConstCMemberByName, (TlxObject* object, const char* memberName)) \
    X(void*, TlxGetTMemberByName, (TlxObject* object, const char* memberName)) \
    X(const void*, TlxGetConstTMemberByName, (TlxObject* object, const char* memberName))

#define QUORIN_CAPI_LISTS_EXPORTS(X) \
    X(TlxReferenceList*, TlxCreateListPrototype, (uint32_t listId, const TlxReference* entries, \
        uint32_t count)) \
    X(TlxReferenceList*, TlxCreateEmptyListPrototype, (uint32_t listId, uint32_t capacity)) \
    X(bool, TlxIsListPrototypeRegistered, (uint32_t listId)) \
    X(TlxReferenceList*, TlxGetListPrototype, (uint32_t listId)) \
    X(TlxReferenceList*, TlxCreateListInstanceFromPrototype, (uint32_t listInstanceId, \
        uint32_t listPrototypeId)) \
    X(TlxReferenceList*, TlxCreateEmptyListInstance, (uint32_t listInstanceId, uint32_t capacity, \
        uint32_t prototypeListId)) \
    X(TlxReferenceList*, TlxCloneListInstance, (uint32_t newListInstanceId, \
        uint32_t sourceListInstanceId)) \
    X(void, TlxReleaseListInstance, (uint32_t listInstanceId)) \
    X(bool, TlxIsListInstanceRegistered, (uint32_t listInstanceId)) \
    X(TlxReferenceList*, TlxGetListInstance, (uint32_t listInstanceId)) \
    X(uint32_t, TlxAddReference, (TlxReferenceList* list, const TlxReference* reference)) \
    X(TlxObject*, TlxResolveObjectRef, (const TlxReference* reference)) \
    X(TlxReferenceList*, TlxResolveListRef, (const TlxReference* reference)) \
    X(TlxReferenceList*, TlxResolveListRef2, (const TlxListReference* reference))

#define QUORIN_CAPI_TEXTS_EXPORTS(X) \
    X(void, TlxCreateText, (uint32_t textId, const char* text)) \
    X(void, TlxCreateTextWithEncoding, (uint32_t textId, const void* text, uint32_t encoding)) \
    X(bool, TlxIsTextRegistered, (uint32_t textId)) \
    X(const void*, TlxGetText, (uint32_t textId)) \
    X(uint32_t, TlxGetTextEncoding, (uint32_t textId)) \
    X(const void*, TlxResolveTextRef, (uint32_t textId)) \
    X(const void*, TlxResolveScriptRef, (const TlxScriptReference* reference)) \
    X(uint32_t, TlxCalculateTextId, (const char* text)) \
    X(const char*, TlxDebug_TryGetString, (uint32_t nameHash)) \
    X(void, TlxCreateBlob, (uint32_t blobId, const void* bytes, uint32_t size)) \
    X(bool, TlxIsBlobRegistered, (uint32_t blobId)) \
    X(TlxBlob*, TlxGetBlob, (uint32_t blobId)) \
    X(TlxBlob*, TlxResolveBlobRef, (const TlxReference* reference))

#define QUORIN_CAPI_CATALOGUE_EXPORTS(X) \
    X(void, TlxRegisterDefaultClasses, (void))

#define QUORIN_CAPI_CONNECTIONS_EXPORTS(X) \
    X(void**, TlxResolveConnectionWithIndirections, (void* connectionListObject)) \
    X(void**, TlxResolveConnectionsWithIndirections, (const TlxListReference* connections)) \
    X(uint32_t, TlxGetResolvedConnectionCount, (void** paths)) \
    X(void, TlxFreeResolvedConnection, (void** paths)) \
    X(TlxObject*, TlxResolveConnectionTarget, (void* path)) \
    X(bool, TlxResolveConnectionConditions, (void* path)) \
    X(void, TlxResolveConnectionOutcomes, (void* path))

#define QUORIN_CAPI_INTERCHANGE_EXPORTS(X) \
    X(void, TlxExport, (const char* path, const TlxExportConfig* config)) \
    X(void, TlxImport, (const char* path, const TlxImportConfig* config)) \
    X(TlxExportConfig, TlxGetDefaultExportConfig, (uint32_t format)) \
    X(TlxImportConfig, TlxGetDefaultImportConfig, (uint32_t format)) \
    X(float, TlxGetExportProgress, (void)) \
    X(float, TlxGetImportProgress, (void)) \
    X(bool, TlxGetExportDone, (void)) \
    X(bool, TlxGetImportDone, (void)) \
    X(bool, TlxGetInterchangeResult, (uint32_t direction, TlxInterchangeResult* result, char* message, \
        uint32_t messageSize))

#define QUORIN_CAPI_SCRIPTS_EXPORTS(X) \
    X(TlxSprigExpression*, TlxSprigParse, (const char* text)) \
    X(bool, TlxSprigTryParse, (const char* text, char* messageBuffer, uint32_t bufferSize, \
        uint32_t* position)) \
    X(void, TlxSprigFreeNode, (TlxSprigExpression* expression)) \
    X(TlxSprigValue, TlxSprigExecute, (const char* text)) \
    X(TlxSprigValue, TlxSprigExecuteParsed, (TlxSprigExpression* expression)) \
    X(TlxSprigValue, TlxSprigGetVar, (const char* name)) \
    X(bool, TlxSprigVarExists, (const char* name)) \
    X(void, TlxSprigBind, (TlxSprigFunction function, const char* name)) \
    X(void, TlxSprigBindMathFunctions, (void)) \
    X(void, TlxSprigBindStringFunctions, (void)) \
    X(void, TlxSprigBindStandardFunctions, (void)) \
    X(void*, TlxSprigCreateNamespace, (const char* name)) \
    X(void, TlxSprigReleaseNamespace, (const char* name))

#define QUORIN_CAPI_HOST_EXPORTS(X) \
    X(const char*, TlxGetVersionString, (void)) \
    X(TlxReferenceList*, TlxGetPathParts, (void* path)) \
    X(uint32_t, TlxSprigGetLastError, (char* message, uint32_t messageSize, uint32_t* position)) \
    X(bool, TlxSprigCheck, (const char* text, char* message, uint32_t messageSize, uint32_t* position))

#define QUORIN_CAPI_EXPORTS(X) \
    QUORIN_CAPI_MEMORY_EXPORTS(X) \
    QUORIN_CAPI_LIFECYCLE_EXPORTS(X) \
    QUORIN_CAPI_TYPES_EXPORTS(X) \
    QUORIN_CAPI_OBJECTS_EXPORTS(X) \
    QUORIN_CAPI_LISTS_EXPORTS(X) \
    QUORIN_CAPI_TEXTS_EXPORTS(X) \
    QUORIN_CAPI_CATALOGUE_EXPORTS(X) \
    QUORIN_CAPI_CONNECTIONS_EXPORTS(X) \
    QUORIN_CAPI_INTERCHANGE_EXPORTS(X) \
    QUORIN_CAPI_SCRIPTS_EXPORTS(X) \
    QUORIN_CAPI_HOST_EXPORTS(X)

#endif /* QUORIN_CAPI_H */
