// Shared by the export tests: a sink into memory, the export into a string, and a Repository that
// holds every kind of element the file has (started with RecordNames, so names are written).
#pragma once

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "capi/QuorinCAPI.h"
#include "interchange/XmlWriter.h"
#include "repository/ScriptBinding.h"
#include "sprig/Value.h"

namespace QuorinTest {

struct CStringSink : Quorin::IByteSink {
  std::string bytes;
  size_t failAfter = SIZE_MAX;  // bytes accepted before a write raises
  void Write(const void* data, size_t count) override {
    if (bytes.size() + count > failAfter) throw std::runtime_error("disk full");
    bytes.append(static_cast<const char*>(data), count);
  }
};

inline std::string ExportXml(uint32_t flags = 255, uint32_t byteOrder = 0, const std::vector<uint16_t>& regions = {},
                             Quorin::CInterchangeProgress* progress = nullptr) {
  const TlxExportConfig config{8192, flags, static_cast<uint32_t>(regions.size()), regions.data(), byteOrder, 0, 0};
  CStringSink sink;
  Quorin::WriteXmlInterchange(*Quorin::Repository::Get(), config, sink, progress);
  return sink.bytes;
}

inline std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

inline void Script(const char* text) {
  const TlxSprigValue value = TlxSprigExecute(text);
  if (value.kind == 4) BrvFree(reinterpret_cast<void*>(static_cast<uintptr_t>(value.payload)));
}

// A global variable `name` made a Reference to the variable `target` names (as scripts write it).
inline void MakeReferenceVariable(const char* name, const char* target) {
  Quorin::Repository& repository = *Quorin::Repository::Get();
  TlxSprigValue targetValue = Quorin::Sprig::MakeInvalidValue();
  repository.Scripts().State().GetVariable(Bravik::CString(target), false, targetValue);
  TlxSprigValue* variable = repository.Scripts().State().GetGlobals().GetOrCreate(Bravik::CString(name));
  Quorin::Sprig::MakeReference(*variable, &Quorin::Sprig::Resolve(targetValue));
}

// Class "K" 0x0102 and template "T" 7, prototype 0x10 and instance 0x20 of them, lists, texts in
// two encodings, a blob and variables of every kind and store.
inline void BuildRichRepository() {
  const TlxMember members[] = {
      {TlxCalculateTextId("w"), 1 << 5 | 2},   {TlxCalculateTextId("d3"), 3 << 5 | 4},
      {TlxCalculateTextId("ref"), 1 << 5 | 16}, {TlxCalculateTextId("f"), 1 << 5 | 8},
      {TlxCalculateTextId("dbl"), 1 << 5 | 9},  {TlxCalculateTextId("b"), 1 << 5 | 0},
      {TlxCalculateTextId("uq"), 1 << 5 | 7},   {TlxCalculateTextId("txt"), 1 << 5 | 10},
      {TlxCalculateTextId("scr"), 2 << 5 | 18}, {TlxCalculateTextId("none"), 0 << 5 | 4},
  };
  TlxRegisterClassType("K", 0x0102, members, 10);
  TlxBeginTemplateType(0xFFFF);
  TlxAddTemplateFeature("F<1>");
  TlxAddTemplateMember("lr", 17, 1);
  TlxEndTemplateType("T", 7);
  std::vector<uint8_t> data;
  const auto put = [&](const auto& value, size_t size) {
    data.insert(data.end(), reinterpret_cast<const uint8_t*>(&value), reinterpret_cast<const uint8_t*>(&value) + size);
  };
  put(int16_t{258}, 2), put(-1, 4), put(0, 4), put(2147483647, 4), put(TlxReference{0x10, 1}, 5), put(1.5f, 4);
  put(-0.25, 8), put(int8_t{-128}, 1), put(~0ull, 8), put(1u, 4), put(TlxReference{2, 1}, 5), put(TlxReference{3, 9}, 5);
  TlxCreatePrototype(0x10, 0x0102, 7);
  TlxStorePrototypeClassData(0x10, data.data(), static_cast<uint32_t>(data.size()));
  const TlxListReference lr{0x30, 1};
  TlxStorePrototypeTemplateData(0x10, &lr, 5);
  TlxCreateInstanceFromPrototype(0x20, 0x10);
  TlxCreatePrototype(0x11, 0x0999, 0xFFFF);  // unregistered class: no data block
  const TlxReference entries[3] = {{0x10, 1}, {3, 5}, {0x77, 9}};
  TlxCreateListPrototype(0x30, entries, 3);
  TlxCreateListInstanceFromPrototype(0x31, 0x30);
  TlxCreateText(1, "a<b>&c\n");
  TlxCreateText(2, " x\t");
  TlxCreateTextWithEncoding(3, u"\u00E9\u20AC", 1);
  const uint8_t blob[2] = {0x00, 0xAB};
  TlxCreateBlob(3, blob, 2);
  for (const char* script : {"g = 5", "fl = -1.5", "yes = true", "s = \"plain\"", "s2 = \"a]]>b\"", "s3 = \"end]\"",
                             "s4 = \" lead\"", "ns:v = 7", "$0x10:pv = 1", "0x20:iv = 2", "nothing = 0", "rn = 0",
                             "ri = 0", "rp = 0", "rg = 0"}) {
    Script(script);
  }
  for (const auto& [name, target] : {std::pair{"rn", "ns:v"}, {"ri", "0x20:iv"}, {"rp", "$0x10:pv"}, {"rg", "g"}}) {
    MakeReferenceVariable(name, target);
  }
  TlxSprigValue* nothing = Quorin::Repository::Get()->Scripts().State().GetGlobals().GetOrCreate(Bravik::CString("nothing"));
  Quorin::Sprig::SetInvalid(*nothing);
}

}  // namespace QuorinTest
