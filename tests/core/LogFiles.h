#pragma once
// What the log tests expect of the two file forms, and a reader of XML logs
// built on a real parser (expat), so that the files are checked as documents
// and not only as bytes.
#include <expat.h>

#include <utility>
#include <vector>

#include <ztlogger/core/LogCnst.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl::test {

// The library's own opening and closing of an XML log (their text is checked
// in LogBase_test).
inline const String kXMLHeader = XMLLogHeader;
inline const String kXMLEnd = XMLLogClosingTag;

// One element of an XML log, as the writer lays it out.
inline String XMLElementBytes(const String& name, const String& value) {
  return "  <" + name + ">" + value + "\r\n  </" + name + ">\r\n";
}

struct ParsedXMLLog {
  bool WellFormed = false;
  String Error;
  String Root;
  // Name and character data of each child of the root, in file order.
  std::vector<std::pair<String, String>> Elements;
};

namespace detail {

struct XMLLogCollector {
  ParsedXMLLog* Result;
  int Depth = 0;
};

inline void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char**) {
  auto* collector = static_cast<XMLLogCollector*>(data);
  if (collector->Depth == 0) collector->Result->Root = name;
  if (collector->Depth == 1) collector->Result->Elements.emplace_back(name, String());
  ++collector->Depth;
}

inline void XMLCALL OnEnd(void* data, const XML_Char*) { --static_cast<XMLLogCollector*>(data)->Depth; }

inline void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  auto* collector = static_cast<XMLLogCollector*>(data);
  if (collector->Depth >= 2) collector->Result->Elements.back().second.append(text, static_cast<size_t>(length));
}

}  // namespace detail

inline ParsedXMLLog ParseXMLLog(const String& bytes) {
  ParsedXMLLog result;
  detail::XMLLogCollector collector{&result};
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &collector);
  XML_SetElementHandler(parser, detail::OnStart, detail::OnEnd);
  XML_SetCharacterDataHandler(parser, detail::OnText);
  result.WellFormed =
      XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) == XML_STATUS_OK;
  if (!result.WellFormed) {
    result.Error = String(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                   std::to_string(XML_GetCurrentLineNumber(parser));
  }
  XML_ParserFree(parser);
  return result;
}

// The parser hands an element's text with the line end and indentation the
// writer puts before the end tag ("\r\n  " arrives as "\n  "); this is the
// value without them.
inline String ElementValue(const String& text) {
  String value = text;
  if (value.size() >= 3 && value.compare(value.size() - 3, 3, "\n  ") == 0) value.resize(value.size() - 3);
  return value;
}

}  // namespace ztl::test
