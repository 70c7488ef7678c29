// Exports: Sprig expressions, variables, namespaces and bound functions.
#include "capi/Frame.h"
#include "capi/QuorinCAPI.h"
#include "repository/ScriptBinding.h"
#include "sprig/ScriptFault.h"
#include "sprig/StandardFunctions.h"
#include "sprig/Value.h"

using Quorin::Guard;
using Quorin::GuardScript;
using Quorin::Repository;
using Quorin::Sprig::SScriptFault;

namespace {
const TlxSprigValue kInvalid = Quorin::Sprig::MakeInvalidValue();
}

extern "C" {

QUORIN_API TlxSprigExpression* TlxSprigParse(const char* text) {
  return Guard<TlxSprigExpression*>(nullptr, [=](Repository&) { return Quorin::ParseExpression(text); });
}

QUORIN_API bool TlxSprigTryParse(const char* text, char* messageBuffer, uint32_t bufferSize, uint32_t* position) {
  return Guard(false, [=](Repository&) { return Quorin::TryParseExpression(text, messageBuffer, bufferSize, position); });
}

QUORIN_API void TlxSprigFreeNode(TlxSprigExpression* expression) {
  Guard([=](Repository& r) { r.Scripts().FreeExpression(expression); });
}

QUORIN_API TlxSprigValue TlxSprigExecute(const char* text) {
  return GuardScript(kInvalid, [=](Repository& r, SScriptFault&) { return r.Scripts().ExecuteText(text); });
}

QUORIN_API TlxSprigValue TlxSprigExecuteParsed(TlxSprigExpression* expression) {
  return GuardScript(kInvalid, [=](Repository& r, SScriptFault&) { return r.Scripts().ExecuteExpression(expression); });
}

QUORIN_API TlxSprigValue TlxSprigGetVar(const char* name) {
  return GuardScript(kInvalid, [=](Repository& r, SScriptFault&) { return r.Scripts().GetVariableSilently(name); });
}

QUORIN_API bool TlxSprigVarExists(const char* name) {
  return Guard(false, [=](Repository& r) { return r.Scripts().VariableExists(name); });
}

QUORIN_API void TlxSprigBind(TlxSprigFunction function, const char* name) {
  Guard([=](Repository& r) { r.Scripts().BindHostFunction(function, name); });
}

QUORIN_API void TlxSprigBindMathFunctions(void) {
  Guard([=](Repository& r) { Quorin::Sprig::BindMathFunctions(r.Scripts().State()); });
}

QUORIN_API void TlxSprigBindStringFunctions(void) {
  Guard([=](Repository& r) { Quorin::Sprig::BindStringFunctions(r.Scripts().State()); });
}

QUORIN_API void TlxSprigBindStandardFunctions(void) {
  Guard([=](Repository& r) { Quorin::Sprig::BindStandardFunctions(r.Scripts().State()); });
}

QUORIN_API void* TlxSprigCreateNamespace(const char* name) {
  return Guard<void*>(nullptr, [=](Repository& r) { return r.Scripts().CreateNamespace(name); });
}

QUORIN_API void TlxSprigReleaseNamespace(const char* name) {
  Guard([=](Repository& r) { r.Scripts().ReleaseNamespace(name); });
}

QUORIN_API uint32_t TlxSprigGetLastError(char* message, uint32_t messageSize, uint32_t* position) {
  return Guard(0u, [=](Repository&) { return Quorin::Sprig::ReadLastFault(message, messageSize, position); });
}

QUORIN_API bool TlxSprigCheck(const char* text, char* message, uint32_t messageSize, uint32_t* position) {
  return Guard(false, [=](Repository& r) { return r.Scripts().CheckText(text, message, messageSize, position); });
}

}  // extern "C"
