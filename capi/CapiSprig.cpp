// Exports: Sprig expressions, variables, namespaces and bound functions.
#include "capi/QuorinCAPI.h"
#include "repository/Frame.h"
#include "repository/ScriptBinding.h"
#include "sprig/StandardFunctions.h"
#include "sprig/Value.h"

using Quorin::Guard;
using Quorin::Repository;

namespace {
const TlxSprigValue kInvalid = Quorin::Sprig::MakeInvalidValue();
}

extern "C" {

QUORIN_API TlxSprigExpression* TlxSprigParse(const char* text) {
  return Guard<TlxSprigExpression*>(nullptr, [=](Repository& r) { return Quorin::ParseExpression(r, text); });
}

QUORIN_API bool TlxSprigTryParse(const char* text, char* messageBuffer, uint32_t bufferSize, uint32_t* position) {
  return Guard(false, [=](Repository&) { return Quorin::TryParseExpression(text, messageBuffer, bufferSize, position); });
}

QUORIN_API void TlxSprigFreeNode(TlxSprigExpression* expression) {
  Guard([=](Repository&) { Quorin::FreeExpression(expression); });
}

QUORIN_API TlxSprigValue TlxSprigExecute(const char* text) {
  return Guard(kInvalid, [=](Repository& r) { return Quorin::ExecuteText(r, text); });
}

QUORIN_API TlxSprigValue TlxSprigExecuteParsed(TlxSprigExpression* expression) {
  return Guard(kInvalid, [=](Repository& r) { return Quorin::ExecuteExpression(r, expression); });
}

QUORIN_API TlxSprigValue TlxSprigGetVar(const char* name) {
  return Guard(kInvalid, [=](Repository& r) { return Quorin::GetVariableSilently(r, name); });
}

QUORIN_API bool TlxSprigVarExists(const char* name) {
  return Guard(false, [=](Repository& r) { return Quorin::VariableExists(r, name); });
}

QUORIN_API void TlxSprigBind(TlxSprigFunction function, const char* name) {
  Guard([=](Repository& r) { Quorin::BindHostFunction(r, function, name); });
}

QUORIN_API void TlxSprigBindMathFunctions(void) {
  Guard([](Repository& r) { Quorin::Sprig::BindMathFunctions(Quorin::GetScriptState(r)); });
}

QUORIN_API void TlxSprigBindStringFunctions(void) {
  Guard([](Repository& r) { Quorin::Sprig::BindStringFunctions(Quorin::GetScriptState(r)); });
}

QUORIN_API void TlxSprigBindStandardFunctions(void) {
  Guard([](Repository& r) { Quorin::Sprig::BindStandardFunctions(Quorin::GetScriptState(r)); });
}

QUORIN_API void* TlxSprigCreateNamespace(const char* name) {
  return Guard<void*>(nullptr, [=](Repository& r) { return Quorin::CreateNamespace(r, name); });
}

QUORIN_API void TlxSprigReleaseNamespace(const char* name) {
  Guard([=](Repository& r) { Quorin::ReleaseNamespace(r, name); });
}

}  // extern "C"
