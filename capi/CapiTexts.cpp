// Exports: texts, text ids, recorded names and blobs.
#include "capi/Frame.h"
#include "capi/QuorinCAPI.h"
#include "foundation/string/String.h"
#include "repository/Texts.h"

using Quorin::Guard;
using Quorin::Repository;

extern "C" {

QUORIN_API void TlxCreateText(uint32_t textId, const char* text) {
  Guard([=](Repository& r) { Quorin::CreateText(r, textId, text, Bravik::kUtf8); });
}

QUORIN_API void TlxCreateTextWithEncoding(uint32_t textId, const void* text, uint32_t encoding) {
  Guard([=](Repository& r) { Quorin::CreateText(r, textId, text, encoding); });
}

QUORIN_API bool TlxIsTextRegistered(uint32_t textId) {
  return Guard(false, [=](Repository& r) { return Quorin::FindText(r, textId) != nullptr; });
}

QUORIN_API const void* TlxGetText(uint32_t textId) {
  return Guard<const void*>(nullptr, [=](Repository& r) { return Quorin::GetTextBytes(r, textId); });
}

QUORIN_API uint32_t TlxGetTextEncoding(uint32_t textId) {
  return Guard(0u, [=](Repository& r) { return Quorin::GetTextEncoding(r, textId); });
}

QUORIN_API const void* TlxResolveTextRef(uint32_t textId) {
  return Guard<const void*>(nullptr, [=](Repository& r) { return Quorin::ResolveTextReference(r, textId); });
}

QUORIN_API const void* TlxResolveScriptRef(const TlxScriptReference* reference) {
  return Guard<const void*>(nullptr, [=](Repository& r) { return Quorin::ResolveScriptReference(r, reference); });
}

QUORIN_API uint32_t TlxCalculateTextId(const char* text) {
  return Quorin::GuardAnyTime(0u, [=] { return Bravik::CalculateHash(Bravik::CString(text)); });
}

QUORIN_API const char* TlxDebug_TryGetString(uint32_t nameHash) {
  return Guard<const char*>(nullptr, [=](Repository& r) { return r.FindRecordedName(nameHash); });
}

QUORIN_API void TlxCreateBlob(uint32_t blobId, const void* bytes, uint32_t size) {
  Guard([=](Repository& r) { Quorin::CreateBlob(r, blobId, bytes, size); });
}

QUORIN_API bool TlxIsBlobRegistered(uint32_t blobId) {
  return Guard(false, [=](Repository& r) { return Quorin::FindBlob(r, blobId) != nullptr; });
}

QUORIN_API TlxBlob* TlxGetBlob(uint32_t blobId) {
  return Guard<TlxBlob*>(nullptr, [=](Repository& r) { return Quorin::FindBlob(r, blobId); });
}

QUORIN_API TlxBlob* TlxResolveBlobRef(const TlxReference* reference) {
  return Guard<TlxBlob*>(nullptr, [=](Repository& r) { return Quorin::ResolveBlobReference(r, reference); });
}

}  // extern "C"
