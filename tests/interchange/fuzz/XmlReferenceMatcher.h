// The reader's pattern matcher written out literally, character by character over a whole
// document: up to five patterns per state, each with a count that advances on a match and
// otherwise resets and tests the character once more against the pattern's first character.
// CXmlReader scans bytes instead; the fuzz target checks that both report the same events
// (in the lines of CXmlEventLog).
#pragma once

#include <string>
#include <vector>

#include "interchange/XmlReader.h"

namespace QuorinTest {

constexpr char kAnyBlank = '\x01';
constexpr char kAnyNameStart = '\x02';
constexpr int kStopState = -1;

struct SReferencePattern {
  const char* text;  // empty: completes at once
  int next;
};

// ORDER XML_STATE
inline const std::vector<SReferencePattern> kReferenceStates[13] = {
    {{"<?", 2}, {"<!", 1}, {"<\x02", 5}, {"</", 6}},
    {{"--", 3}, {"[CDATA[", 4}, {">", 0}},
    {{"?>", 0}},
    {{"-->", 0}},
    {{"]]>", 0}},
    {{"\x01", 8}, {"/>", 12}, {">", 0}},
    {{"\x01", 7}, {">", 0}},
    {{">", 0}},
    {{"\x02", 9}, {"/>", 12}, {">", 0}},
    {{"\x01", 10}, {"=", 10}, {">", kStopState}},
    {{"\"", 11}, {"'", 11}, {">", kStopState}},
    {{"\"", 8}, {"'", 8}, {">", kStopState}},
    {{"", 0}},
};

// Width and code point of the character at pos (0xFFFFFFFF for malformed bytes), as the reader
// decodes; 0 when the document ends inside it.
inline size_t ReferenceDecode(const std::string& doc, size_t pos, uint32_t& cp) {
  const auto lead = static_cast<uint8_t>(doc[pos]);
  cp = 0xFFFFFFFF;
  if (lead < 0x80) return cp = lead, 1;
  if (lead < 0xC2 || lead > 0xF4) return 1;
  const size_t width = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  uint32_t value = lead & (0x7Fu >> width);
  for (size_t i = 1; i < width; ++i) {
    if (pos + i >= doc.size()) return 0;
    if ((doc[pos + i] & 0xC0) != 0x80) return 1;
    value = (value << 6) | (doc[pos + i] & 0x3F);
  }
  const uint32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value >= smallest[width] && value <= 0x10FFFF) cp = value;
  return width;
}

inline bool ReferenceMatches(char patternChar, uint32_t cp) {
  if (patternChar == kAnyBlank) return cp == ' ' || cp == '\t' || cp == '\r' || cp == '\n';
  if (patternChar == kAnyNameStart) return Quorin::CXmlReader::IsNameStart(cp);
  return cp == static_cast<uint8_t>(patternChar);
}

inline std::vector<std::string> ReferenceEvents(std::string doc) {
  std::vector<std::string> events;
  const auto text = [&](const char* prefix, size_t begin, size_t end, bool resolve) {
    size_t length = end - begin;
    char* start = resolve ? Quorin::CXmlReader::DecodeText(&doc[begin], length)
                          : Quorin::CXmlReader::TrimBlanks(&doc[begin], length);
    events.push_back(length == 0 ? std::string("N") : prefix + std::string(start, length));
  };
  int state = 0;
  size_t token = doc.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  size_t count[5] = {};
  size_t start[5] = {};
  std::string name;
  for (size_t pos = token; pos < doc.size();) {
    uint32_t cp;
    const size_t width = ReferenceDecode(doc, pos, cp);
    if (width == 0) break;
    const std::vector<SReferencePattern>& patterns = kReferenceStates[state];
    int done = -1;
    for (size_t i = 0; i < patterns.size(); ++i) {
      const char* p = patterns[i].text;
      if (ReferenceMatches(p[count[i]], cp)) {
        if (count[i]++ == 0) start[i] = pos;
      } else {
        count[i] = ReferenceMatches(p[0], cp) ? 1 : 0;
        start[i] = pos;
      }
      if (done < 0 && p[count[i]] == 0) done = static_cast<int>(i);
    }
    if (done < 0) {
      pos += width;
      continue;
    }
    const SReferencePattern& pattern = patterns[done];
    const size_t end = start[done];
    switch (state) {
      case 0: text("T:", token, end, true); break;
      case 1: if (pattern.next == 0) events.push_back("!" + doc.substr(token, end - token)); break;
      case 2: events.push_back("?" + doc.substr(token, end - token)); break;
      case 3: events.push_back("#" + doc.substr(token, end - token)); break;
      case 4: text("C:", token, end, false); break;
      case 5: events.push_back("<" + doc.substr(token, end - token)); break;
      case 6: events.push_back(">" + doc.substr(token, end - token)); break;
      case 9: name = doc.substr(token, end - token); break;
      case 11: {
        size_t length = end - token;
        const char* value = Quorin::CXmlReader::DecodeText(&doc[token], length);
        events.push_back("@" + name + "=" + std::string(value, length));
        break;
      }
      default: break;
    }
    const bool nameStartLast = pattern.text[std::char_traits<char>::length(pattern.text) - 1] == kAnyNameStart;
    pos += width;
    token = nameStartLast ? pos - width : pos;
    state = pattern.next;
    for (size_t& c : count) c = 0;
    if (state == kStopState) {
      events.push_back("STOP");
      return events;
    }
    if (state == 12) {
      events.push_back("N");
      events.push_back("/>");
      state = 0;
    }
  }
  if (state == 0 && token < doc.size()) {
    // The reader keeps a "<" whose next character has not arrived, and a character cut short.
    size_t end = doc.size();
    const size_t last = doc.rfind('<');
    uint32_t cp;
    if (last != std::string::npos && last >= token && (last + 1 == end || ReferenceDecode(doc, last + 1, cp) == 0)) end = last;
    for (size_t back = 1; end == doc.size() && back <= 3 && back <= end - token; ++back) {
      if ((doc[end - back] & 0xC0) == 0x80) continue;
      if (ReferenceDecode(doc.substr(0, end), end - back, cp) == 0) end -= back;
      break;
    }
    if (end > token) text("T:", token, end, true);
  }
  return events;
}

}  // namespace QuorinTest
