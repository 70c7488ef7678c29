// A streaming reader for the XML of interchange files. It is fed successive chunks of UTF-8
// bytes and reports what it recognises through a handler; it builds no tree and validates
// nothing beyond the markup it needs. Malformed markup either stays part of the current token
// or stops the reader for good; nothing is ever reported as an error.
//
// Recognition follows a small pattern matcher over thirteen states (character data, markup
// after "<!", processing instruction, comment, CDATA, element name, end-tag name, after the
// end-tag name, between attributes, attribute name, before a value, value, after "/>"). The
// hot states scan bytes with tight loops that find exactly what the matcher would find:
//   - a blank is space, tab, CR or LF; a name-start character is that of XML 1.0 (fifth edition);
//   - an ASCII byte is one character; a well-formed UTF-8 sequence is one character; a malformed
//     or overlong byte sequence is a run of characters that match nothing and start no name;
//   - "-->" and "]]>" end a comment or CDATA section only after an even run of hyphens or
//     brackets ("--->" and "]]]>" do not end it, "---->" does);
//   - a ">" inside an attribute name, before a value or inside a value stops the reader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Quorin {

// What a character-data report carries.
enum class EXmlText : uint8_t {
  kNone,        // character data or CDATA that is empty once trimmed; text is null
  kText,        // whole character data, trimmed, references resolved
  kCData,       // whole CDATA content, trimmed
  kTextPiece,   // raw piece of character data longer than the chunk; more follows
  kTextLast,    // raw last piece of such character data (may be empty)
  kCDataPiece,  // raw piece of a CDATA section longer than the chunk; the handler says how
                // many bytes it used, the rest comes again at the next call
  kCDataLast,   // raw last piece of such a CDATA section (may be empty)
};

enum class EXmlMarkup : uint8_t { kDeclaration, kProcessingInstruction, kComment };

// Receives the reader's reports. Every text is zero-terminated and points into the chunk; it is
// valid only during the call. Values and character data may be changed in place.
class IXmlHandler {
 public:
  virtual void OnElementStart(const char* name, size_t length) = 0;
  // name is null for the end of an empty element ("<a/>").
  virtual void OnElementEnd(const char* name, size_t length) = 0;
  virtual void OnAttribute(const char* name, size_t nameLength, char* value, size_t valueLength) = 0;
  // Returns the bytes used of a kCDataPiece (at most length); ignored for the other kinds.
  virtual size_t OnText(char* text, size_t length, EXmlText kind) = 0;
  // Declarations ("<!DOCTYPE ...>"), processing instructions and comments, when the reader was
  // made to observe them.
  virtual void OnMarkup(EXmlMarkup /*kind*/, const char* /*text*/, size_t /*length*/) {}

 protected:
  ~IXmlHandler() = default;
};

class CXmlReader {
 public:
  // With observeMarkup false the reader never calls OnMarkup, and may consume a comment or
  // processing instruction longer than the chunk piece by piece.
  explicit CXmlReader(IXmlHandler& handler, bool observeMarkup = false);

  // Reads chunk[0, length) and returns how many bytes it consumed. chunk[length] must be
  // writable (the reader terminates tokens there); every byte it does not consume is unchanged
  // on return. The caller keeps the unconsumed rest and passes it again, followed by new bytes,
  // at the next call. 0 means the construct under way does not fit: pass a larger chunk. After
  // the reader stopped on malformed markup it consumes nothing more (and the bytes of the
  // stopping tag may have been changed).
  size_t Parse(char* chunk, size_t length);
  // Ends the document: delivers the empty last piece of character data still in pieces.
  void Finish();
  // Forgets everything read so far; the next chunk starts a new document.
  void Reset();

  bool IsStopped() const { return m_state == EState::kStop; }
  // Offset, in the chunk of the call that stopped, of the ">" that stopped the reader.
  size_t GetStopOffset() const { return m_stopOffset; }

  // Trims blanks, then resolves references in place: the result starts at the returned pointer
  // and takes `length` bytes (updated). What the reader does to whole character data, for a
  // handler that joined raw pieces.
  static char* DecodeText(char* text, size_t& length);
  // Trims blanks (CDATA content).
  static char* TrimBlanks(char* text, size_t& length);
  // Resolves references ("&amp;", "&#65;", "&#x41;" ...) in place; returns the new length. A
  // reference is "&", at most 15 bytes, ";". Unknown names, &#0;, surrogates and code points
  // above 0x10FFFF stay as written.
  static size_t ResolveReferences(char* text, size_t length);
  // The XML 1.0 name-start test.
  static bool IsNameStart(uint32_t codePoint);

 private:
  // ORDER XML_STATE: the thirteen states, then the stop state.
  enum class EState : uint8_t {
    kText,
    kBang,
    kInstruction,
    kComment,
    kCData,
    kName,
    kEndName,
    kAfterEndName,
    kAttributes,
    kAttributeName,
    kBeforeValue,
    kValue,
    kEmptyEnd,
    kStop,
  };

  bool Step(size_t& pos);
  bool ScanText(size_t& pos);
  bool ScanBang(size_t& pos);
  bool ScanInstruction(size_t& pos);
  bool ScanRunEnd(size_t& pos, char runCharacter);
  bool ScanName(size_t& pos);
  bool ScanEndName(size_t& pos);
  bool ScanAfterEndName(size_t& pos);
  bool ScanAttributes(size_t& pos);
  bool ScanAttributeName(size_t& pos);
  bool ScanBeforeValue(size_t& pos);
  bool ScanValue(size_t& pos);

  void LeaveText(size_t at);
  size_t RunCountAt(size_t end, char runCharacter) const;
  void EndRunConstruct(size_t end, size_t after);
  void EmptyElementEnd(size_t after);
  void Enter(EState state, size_t token);
  void MarkAfterConstruct(size_t after);
  void Mark(size_t at, EState state);
  void Stop(size_t at);
  size_t ChunkEnd(size_t pos);
  size_t DeliverTextPiece(size_t end);
  size_t DeliverCDataPiece(size_t end);
  size_t SkipMarkupPiece(size_t end);

  // Reports a token terminated at its end; the byte overwritten there is put back afterwards.
  void ReportElement(bool start, size_t begin, size_t end);
  size_t ReportText(char* text, size_t length, EXmlText kind);
  void ReportMarkup(EXmlMarkup kind, size_t begin, size_t end);

  IXmlHandler& m_handler;
  bool m_observeMarkup;

  // Kept between calls: where the next chunk resumes.
  EState m_state = EState::kText;
  bool m_atDocumentStart = true;
  bool m_textReported = false;   // resuming at "<" whose character data was already reported
  bool m_piecesPending = false;  // character data or CDATA went out in pieces; its last is due
  uint8_t m_runCarry = 0;        // matched "-" or "]" count at a resumed comment or CDATA start
  size_t m_stopOffset = 0;

  // Valid during one call.
  char* m_chunk = nullptr;
  size_t m_length = 0;
  size_t m_callStart = 0;  // after a byte-order mark
  size_t m_token = 0;      // start of the current token
  size_t m_nameBegin = 0;  // attribute name kept for its value
  size_t m_nameEnd = 0;
  size_t m_mark = 0;  // everything before it is consumed; the call resumes there
  EState m_markState = EState::kText;
  bool m_markTextReported = false;
};

}  // namespace Quorin
