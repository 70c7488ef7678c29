// Records what CXmlReader reports as one line per event, joining character data that comes in
// pieces the way the importer does, and reads documents in chunks with a growing buffer as the
// importer does. Lines: "<name" start, ">name" end, "/>" end of an empty element, "@name=value",
// "T:text", "C:cdata", "N" for empty character data, "!decl", "?pi", "#comment", "STOP".
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "interchange/XmlReader.h"

namespace QuorinTest {

class CXmlEventLog final : public Quorin::IXmlHandler {
 public:
  std::vector<std::string> events;

  void OnElementStart(const char* name, size_t length) override { Add("<", name, length); }
  void OnElementEnd(const char* name, size_t length) override {
    name != nullptr ? Add(">", name, length) : events.push_back("/>");
    Terminated(name, length);
  }
  void OnAttribute(const char* name, size_t nameLength, char* value, size_t valueLength) override {
    Terminated(name, nameLength);
    Add("@", name, nameLength);
    events.back() += "=" + std::string(value, valueLength);
    Terminated(value, valueLength);
  }
  size_t OnText(char* text, size_t length, Quorin::EXmlText kind) override {
    using Quorin::EXmlText;
    Terminated(text, length);
    switch (kind) {
      case EXmlText::kNone: events.push_back("N"); return 0;
      case EXmlText::kText: Add("T:", text, length); return 0;
      case EXmlText::kCData: Add("C:", text, length); return 0;
      case EXmlText::kTextPiece: m_pieces.append(text, length); return length;
      case EXmlText::kCDataPiece: length -= length % 2; m_pieces.append(text, length); return length;
      case EXmlText::kTextLast:
      case EXmlText::kCDataLast: break;
    }
    m_pieces.append(text, length);
    size_t joined = m_pieces.size();
    const char* decoded = kind == EXmlText::kTextLast ? Quorin::CXmlReader::DecodeText(m_pieces.data(), joined)
                                                      : Quorin::CXmlReader::TrimBlanks(m_pieces.data(), joined);
    joined == 0 ? events.push_back("N") : Add(kind == EXmlText::kTextLast ? "T:" : "C:", decoded, joined);
    m_pieces.clear();
    return 0;
  }
  void OnMarkup(Quorin::EXmlMarkup kind, const char* text, size_t length) override {
    Add(kind == Quorin::EXmlMarkup::kComment ? "#" : kind == Quorin::EXmlMarkup::kDeclaration ? "!" : "?", text,
        length);
  }

  bool terminatedAlways = true;

 private:
  void Add(const char* prefix, const char* text, size_t length) { events.push_back(prefix + std::string(text, length)); }
  void Terminated(const char* text, size_t length) {
    if (text != nullptr && text[length] != 0) terminatedAlways = false;
  }

  std::string m_pieces;
};

struct SChunkedRead {
  std::vector<std::string> events;
  bool unconsumedKept = true;  // no byte the reader left unconsumed was changed
  bool terminated = true;      // every token came zero-terminated
};

// Reads doc through a buffer of `size` bytes (after the first call, of `laterSize` when that is
// larger) that doubles (plus one) whenever the reader consumes nothing of a full buffer; the
// unconsumed rest moves to the front each time.
inline SChunkedRead ReadChunked(const std::string& doc, size_t size, size_t laterSize = 0, bool observeMarkup = true) {
  SChunkedRead result;
  CXmlEventLog log;
  Quorin::CXmlReader reader(log, observeMarkup);
  std::vector<char> buffer(size + 1);
  size_t held = 0;
  size_t offset = 0;  // of the first byte held, in doc
  for (;;) {
    const size_t added = std::min(buffer.size() - 1 - held, doc.size() - offset - held);
    std::memcpy(buffer.data() + held, doc.data() + offset + held, added);
    held += added;
    if (held == 0) break;
    const size_t used = reader.Parse(buffer.data(), held);
    if (reader.IsStopped()) {
      log.events.push_back("STOP");
      break;
    }
    if (std::memcmp(buffer.data() + used, doc.data() + offset + used, held - used) != 0) result.unconsumedKept = false;
    if (used == 0) {
      if (held < buffer.size() - 1) break;  // the file ends inside a construct
      buffer.resize(buffer.size() * 2 + 1);
      continue;
    }
    if (buffer.size() < laterSize + 1) buffer.resize(laterSize + 1);
    std::memmove(buffer.data(), buffer.data() + used, held - used);
    held -= used;
    offset += used;
  }
  reader.Finish();
  result.events = std::move(log.events);
  result.terminated = log.terminatedAlways;
  return result;
}

}  // namespace QuorinTest
