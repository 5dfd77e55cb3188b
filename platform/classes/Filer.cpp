#include <ztlogger/platform/classes/Filer.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <vector>

#include <ztlogger/platform/classes/Collection.h>
#include <ztlogger/platform/classes/Resources.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/classes/Strings.h>
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/ScopeExit.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Unicode.h>

namespace ztl {

namespace {

// ---------------------------------------------------------------- writing

String QuoteString(const String& value) {
  if (value.empty()) return "''";
  String out;
  bool quoted = false;
  for (char c : value) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20) {
      if (quoted) out += '\'';
      quoted = false;
      out += '#' + std::to_string(byte);
      continue;
    }
    if (!quoted) out += '\'';
    quoted = true;
    out += c;
    if (c == '\'') out += '\'';
  }
  if (quoted) out += '\'';
  return out;
}

String SetText(const TEnumInfo& info, uint64_t bits) {
  String text = "[";
  for (size_t i = 0; i < info.Names.size() && i < 64; ++i) {
    if (!(bits & (uint64_t{1} << i))) continue;
    if (text.size() > 1) text += ", ";
    text += info.Names[i];
  }
  return text + "]";
}

String FloatText(double value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return String(buffer, result.ptr);
}

}  // namespace

class TWriter : public TFiler {
 public:
  explicit TWriter(TComponent* root) : root_(root) {}

  String Write() {
    WriteComponent(root_, 0);
    return out_;
  }

  void DefineBinaryProperty(const String& Name, const std::function<void(TStream&)>&,
                            const std::function<void(TStream&)>& WriteData, bool HasData) override {
    if (!HasData) return;
    TMemoryStream data;
    WriteData(data);
    Line(prefix_ + Name + " = {");
    const auto& bytes = data.Data();
    static const char digits[] = "0123456789ABCDEF";
    for (size_t start = 0; start < bytes.size(); start += 32) {
      String hex;
      for (size_t i = start; i < bytes.size() && i < start + 32; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
      }
      Line("  " + hex + (start + 32 >= bytes.size() ? "}" : ""));
    }
    if (bytes.empty()) out_.back() = '}', out_ += "\r\n";
  }

 private:
  void Line(const String& text) {
    out_.append(static_cast<size_t>(indent_) * 2, ' ');
    out_ += text;
    out_ += "\r\n";
  }

  void WriteComponent(TComponent* component, int depth) {
    indent_ = depth;
    Line("object " + component->Name() + ": " + component->ClassName());
    indent_ = depth + 1;
    WriteProperties(component, "");
    component->GetChildren([&](TComponent* child) { WriteComponent(child, depth + 1); }, root_);
    indent_ = depth;
    Line("end");
  }

  void WriteProperties(TPersistent* instance, const String& prefix) {
    for (const TPropInfo* p : instance->ClassType()->Properties())
      if (p->IsStored(instance)) WriteProperty(instance, *p, prefix);
    String saved = prefix_;
    prefix_ = prefix;
    instance->DefineProperties(this);
    prefix_ = saved;
  }

  void WriteProperty(TPersistent* instance, const TPropInfo& p, const String& prefix) {
    String name = prefix + p.Name;
    switch (p.Kind) {
      case tkBoolean: Line(name + " = " + (p.GetOrd(instance) ? "True" : "False")); break;
      case tkInteger: Line(name + " = " + IntToStr(p.GetOrd(instance))); break;
      case tkFloat: Line(name + " = " + FloatText(p.GetFloat(instance))); break;
      case tkString: Line(name + " = " + QuoteString(p.GetStr(instance))); break;
      case tkEnumeration: Line(name + " = " + GetEnumName(*p.EnumInfo, p.GetOrd(instance))); break;
      case tkSet: Line(name + " = " + SetText(*p.EnumInfo, static_cast<uint64_t>(p.GetOrd(instance)))); break;
      case tkMethod: WriteMethod(instance, p, name); break;
      case tkComponent: WriteReference(static_cast<TComponent*>(p.GetObject(instance)), name); break;
      case tkPersistent:
        if (auto* sub = static_cast<TPersistent*>(p.GetObject(instance))) WriteProperties(sub, name + ".");
        break;
      case tkStrings: WriteStrings(static_cast<TStrings*>(p.GetObject(instance)), name); break;
      case tkCollection: WriteCollection(static_cast<TCollection*>(p.GetObject(instance)), name); break;
    }
  }

  void WriteMethod(TPersistent* instance, const TPropInfo& p, const String& name) {
    TMethod method = p.GetMethod(instance);
    // Only handlers that are published methods of the root can be stored.
    if (method.Data != root_) return;
    const TMethodEntry* entry = root_->ClassType()->FindMethodByCode(method.Code);
    if (entry) Line(name + " = " + entry->Name);
  }

  void WriteReference(TComponent* target, const String& name) {
    if (!target) return;
    if (target == root_ || target->Owner() == root_)
      Line(name + " = " + target->Name());
    else if (target->Owner())
      Line(name + " = " + target->Owner()->Name() + "." + target->Name());
  }

  void WriteStrings(TStrings* list, const String& name) {
    if (!list || list->Count() == 0) return;
    Line(name + ".Strings = (");
    ++indent_;
    for (int i = 0; i < list->Count(); ++i) Line(QuoteString(list->Get(i)) + (i + 1 == list->Count() ? ")" : ""));
    --indent_;
  }

  void WriteCollection(TCollection* collection, const String& name) {
    if (!collection || collection->Count() == 0) return;
    Line(name + " = <");
    ++indent_;
    for (int i = 0; i < collection->Count(); ++i) {
      // An item of a descendant of the item class keeps its class: read back
      // as the item class, it would lose the properties only its class has.
      TCollectionItem* item = collection->Items(i);
      Line(item->ClassType() == collection->ItemClass() ? String("item") : "item: " + item->ClassName());
      ++indent_;
      String saved = prefix_;
      WriteProperties(item, "");
      prefix_ = saved;
      --indent_;
      Line(i + 1 == collection->Count() ? "end>" : "end");
    }
    --indent_;
  }

  TComponent* root_;
  String out_;
  String prefix_;
  int indent_ = 0;
};

namespace {

// ---------------------------------------------------------------- parsing

enum class Token { End, Symbol, String, Integer, Float, Char };

class Parser {
 public:
  explicit Parser(const String& text) : text_(text) { Next(); }

  Token Kind() const { return kind_; }
  const String& Text() const { return token_; }
  char Char() const { return kind_ == Token::Char ? token_[0] : '\0'; }
  bool IsChar(char c) const { return kind_ == Token::Char && token_[0] == c; }
  bool IsSymbol(const char* s) const { return kind_ == Token::Symbol && SameText(token_, s); }
  int Line() const { return tokenLine_; }

  [[noreturn]] void Error(const String& what) const {
    throw EParserError(what + " on line " + IntToStr(tokenLine_));
  }
  void ExpectChar(char c) {
    if (!IsChar(c)) Error(String("'") + c + "' expected");
    Next();
  }
  String ExpectSymbol() {
    if (kind_ != Token::Symbol) Error("Identifier expected");
    String s = token_;
    Next();
    return s;
  }

  void Next() {
    SkipBlanks();
    tokenLine_ = line_;
    token_.clear();
    if (pos_ >= text_.size()) {
      kind_ = Token::End;
      return;
    }
    char c = text_[pos_];
    if (IsIdentStart(c)) return ReadSymbol();
    if (c == '\'' || c == '#') return ReadString();
    if ((c >= '0' && c <= '9') || c == '$') return ReadNumber();
    kind_ = Token::Char;
    token_ = String(1, c);
    ++pos_;
  }

  // Hex digits up to the closing brace, for binary values.
  String ReadBinary() {
    String hex;
    while (pos_ < text_.size() && text_[pos_] != '}') {
      char c = text_[pos_++];
      if (c == '\n') ++line_;
      if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
      else if (!std::isspace(static_cast<unsigned char>(c))) Error("Invalid binary value");
    }
    if (pos_ >= text_.size()) Error("'}' expected");
    ++pos_;
    Next();
    return hex;
  }

 private:
  static bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }

  void SkipBlanks() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\n') ++line_;
      if (!std::isspace(static_cast<unsigned char>(c))) break;
      ++pos_;
    }
  }

  void ReadSymbol() {
    size_t start = pos_;
    while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_' ||
                                   text_[pos_] == '.'))
      ++pos_;
    kind_ = Token::Symbol;
    token_ = text_.substr(start, pos_ - start);
  }

  // 'quoted' and #nn parts, joined; a '+' between parts continues the string.
  void ReadString() {
    kind_ = Token::String;
    for (;;) {
      if (pos_ < text_.size() && text_[pos_] == '\'') {
        ++pos_;
        for (;;) {
          if (pos_ >= text_.size() || text_[pos_] == '\n') Error("Unterminated string");
          char c = text_[pos_++];
          if (c == '\'') {
            if (pos_ < text_.size() && text_[pos_] == '\'') {
              token_ += '\'';
              ++pos_;
              continue;
            }
            break;
          }
          token_ += c;
        }
      } else if (pos_ < text_.size() && text_[pos_] == '#') {
        ++pos_;
        size_t start = pos_;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        if (start == pos_) Error("Invalid character code");
        unicode::AppendUtf8(token_, CharacterCode(text_.substr(start, pos_ - start)));
      } else {
        size_t save = pos_;
        int saveLine = line_;
        SkipBlanks();
        if (pos_ < text_.size() && text_[pos_] == '+') {
          ++pos_;
          SkipBlanks();
          if (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '#')) continue;
        }
        pos_ = save;
        line_ = saveLine;
        return;
      }
    }
  }

  // The digits of a #nn part as a code point.
  uint32_t CharacterCode(const String& digits) const {
    uint32_t code = 0;
    auto result = std::from_chars(digits.data(), digits.data() + digits.size(), code);
    if (result.ec != std::errc() || code > 0x10FFFF) Error("Invalid character code");
    return code;
  }

  void ReadNumber() {
    size_t start = pos_;
    if (text_[pos_] == '$') {
      ++pos_;
      while (pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      kind_ = Token::Integer;
      token_ = text_.substr(start, pos_ - start);
      return;
    }
    kind_ = Token::Integer;
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (std::isdigit(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (c == '.' || c == 'e' || c == 'E' ||
                 ((c == '+' || c == '-') && (text_[pos_ - 1] == 'e' || text_[pos_ - 1] == 'E'))) {
        kind_ = Token::Float;
        ++pos_;
      } else {
        break;
      }
    }
    token_ = text_.substr(start, pos_ - start);
  }

  const String& text_;
  size_t pos_ = 0;
  int line_ = 1;
  int tokenLine_ = 1;
  Token kind_ = Token::End;
  String token_;
};

// ---------------------------------------------------------------- reading

// A value as read, before it is applied to a property.
struct Value {
  enum Kind { Ident, Str, Int, Float, Set, List, Items, Binary } kind = Ident;
  String text;                     // identifier, string, number text
  std::vector<String> elements;    // set elements, list strings
  size_t itemsStart = 0;           // collections are read in place
  String hex;                      // binary data
};

// A component reference, set once every component is read.
struct Fixup {
  TPersistent* instance;
  const TPropInfo* prop;
  String name;
  int line;
  // The collections the instance is an item of (or nested in): a collection
  // read again frees its items, and their references with them.
  std::vector<const TCollection*> within;
};

// Nested objects and collections are read recursively; deeper text than any
// real form is refused before it can exhaust the stack.
constexpr int MaxNesting = 256;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

bool HasClassNamed(TClass cls, const String& name) {
  for (; cls; cls = cls->ClassParent())
    if (SameText(cls->ClassName(), name)) return true;
  return false;
}

}  // namespace

class TReader : public TFiler {
 public:
  TReader(const String& text, TComponent* root) : parser_(text), root_(root) {}

  // On an error, the components this read created are freed (with the root
  // when it created that too) and the others leave the loading state.
  TComponent* ReadRoot(TComponent* owner) {
    try {
      ReadRootObject(owner);
      ResolveFixups();
    } catch (...) {
      Abandon();
      throw;
    }
    for (TComponent* c : loaded_) {
      c->state_.Exclude(csReading);
      c->Loaded();
    }
    return root_;
  }

  void DefineBinaryProperty(const String& Name, const std::function<void(TStream&)>& ReadData,
                            const std::function<void(TStream&)>&, bool) override {
    if (!SameText(Name, definedName_)) return;
    definedFound_ = true;
    if (definedValue_->kind != Value::Binary) throw EReadError("Invalid property value for " + Name);
    const String& hex = definedValue_->hex;
    if (hex.size() % 2) throw EReadError("Invalid binary value for " + Name);
    TMemoryStream data;
    for (size_t i = 0; i < hex.size(); i += 2) {
      auto byte = static_cast<uint8_t>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1]));
      data.Write(&byte, 1);
    }
    data.SetPosition(0);
    ReadData(data);
  }

 private:
  // Counts one level of nesting for as long as it lives.
  class NestingLevel {
   public:
    explicit NestingLevel(TReader& reader) : reader_(reader) {
      if (++reader_.nesting_ > MaxNesting)
        reader_.parser_.Error("Objects and collections nested deeper than " + IntToStr(MaxNesting) + " levels");
    }
    ~NestingLevel() { --reader_.nesting_; }
    NestingLevel(const NestingLevel&) = delete;
    NestingLevel& operator=(const NestingLevel&) = delete;

   private:
    TReader& reader_;
  };

  void ReadRootObject(TComponent* owner) {
    ExpectObjectKeyword();
    String name = parser_.ExpectSymbol();
    parser_.ExpectChar(':');
    String className = parser_.ExpectSymbol();
    if (!root_) {
      root_ = CreateComponent(className, owner);
      rootCreated_ = true;
    } else if (!HasClassNamed(root_->ClassType(), className)) {
      throw EReadError("Stored form of " + className + " cannot be read into a " + root_->ClassName());
    }
    BeginLoading(root_);
    NameComponent(root_, name);
    ReadBody(root_);
  }

  TComponent* CreateComponent(const String& className, TComponent* owner) {
    TClass cls = FindClass(className);
    if (!cls->InheritsFrom(TComponent::StaticClass())) parser_.Error(className + " is no component class");
    return static_cast<TComponent*>(cls->Create(owner));
  }

  void NameComponent(TComponent* component, const String& name) {
    try {
      component->SetName(name);
    } catch (const EComponentError& e) {
      throw EReadError("Error reading " + component->ClassName() + " on line " + IntToStr(parser_.Line()) + ": " +
                       e.Message());
    }
  }

  void Abandon() {
    for (TComponent* c : loaded_) {
      c->state_.Exclude(csReading);
      c->state_.Exclude(csLoading);
    }
    // Newest first, so that nothing outlives what it was read into.
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
      TComponent* c = *it;
      if (const TFieldEntry* field = c->Name().empty() ? nullptr : root_->ClassType()->FindField(c->Name()))
        field->Set(root_, nullptr);
      delete c;
    }
    if (rootCreated_) delete root_;
  }

  void ExpectObjectKeyword() {
    if (!(parser_.IsSymbol("object") || parser_.IsSymbol("inherited") || parser_.IsSymbol("inline")))
      parser_.Error("'object' expected");
    parser_.Next();
  }

  void BeginLoading(TComponent* c) {
    if (c->state_.Contains(csReading)) return;  // named twice in the text
    c->state_.Include(csLoading);
    c->state_.Include(csReading);
    loaded_.push_back(c);
  }

  // Properties, then nested objects, up to "end".
  void ReadBody(TComponent* component) {
    while (!parser_.IsSymbol("end")) {
      if (parser_.Kind() == Token::End) parser_.Error("'end' expected");
      if (parser_.IsSymbol("object") || parser_.IsSymbol("inherited") || parser_.IsSymbol("inline"))
        ReadChild(component);
      else
        ReadPropertyLine(component);
    }
    parser_.Next();
  }

  void ReadChild(TComponent* parent) {
    NestingLevel level(*this);
    ExpectObjectKeyword();
    String name = parser_.ExpectSymbol();
    parser_.ExpectChar(':');
    String className = parser_.ExpectSymbol();
    TComponent* child = root_->FindComponent(name);
    if (child && !HasClassNamed(child->ClassType(), className))
      throw EReadError("Error reading " + name + " on line " + IntToStr(parser_.Line()) + ": it is a " +
                       child->ClassName() + ", not a " + className);
    if (!child) {
      child = CreateComponent(className, root_);
      created_.push_back(child);
      NameComponent(child, name);
    }
    BeginLoading(child);
    if (parent != root_ || child->HasParent()) child->SetParentComponent(parent);
    if (const TFieldEntry* field = root_->ClassType()->FindField(name)) field->Set(root_, child);
    ReadBody(child);
  }

  void ReadPropertyLine(TPersistent* instance) {
    int line = parser_.Line();
    String path = parser_.ExpectSymbol();
    parser_.ExpectChar('=');
    try {
      ApplyPath(instance, path, line);
    } catch (const EParserError&) {
      throw;
    } catch (const EMethodNotFound&) {
      throw;
    } catch (const EClassNotFound&) {
      throw;
    } catch (const Exception& e) {
      throw EReadError("Error reading " + Describe(instance) + "." + path + " on line " + IntToStr(line) + ": " +
                       e.Message());
    }
  }

  static String Describe(TPersistent* instance) {
    auto* component = dynamic_cast<TComponent*>(instance);
    return component && !component->Name().empty() ? component->Name() : instance->ClassName();
  }

  // Walks "A.B.C": A and B name sub-objects (or string lists, or data defined
  // by DefineProperties), C the property that takes the value.
  void ApplyPath(TPersistent* instance, const String& path, int line) {
    String rest = path;
    for (;;) {
      size_t dot = rest.find('.');
      String head = rest.substr(0, dot);
      rest = dot == String::npos ? String() : rest.substr(dot + 1);
      const TPropInfo* p = GetPropInfo(instance->ClassType(), head);
      if (!p) {
        if (rest.empty() && dot == String::npos && ApplyDefined(instance, head)) return;
        throw EReadError("Property " + head + " does not exist");
      }
      if (dot == String::npos) return ApplyValue(instance, *p, line);
      if (p->Kind == tkStrings && SameText(rest, "Strings")) return ReadStrings(instance, *p);
      if (p->Kind != tkPersistent && p->Kind != tkCollection && p->Kind != tkStrings)
        throw EReadError("Property " + head + " has no sub-properties");
      instance = SubObject<TPersistent>(instance, *p);
    }
  }

  // The object an object property holds; it must be there to take values.
  template <typename T>
  static T* SubObject(TPersistent* instance, const TPropInfo& p) {
    auto* sub = static_cast<T*>(p.GetObject(instance));
    if (!sub) throw EReadError("Property " + p.Name + " is nil");
    return sub;
  }

  bool ApplyDefined(TPersistent* instance, const String& name) {
    Value value = ReadValue();
    definedName_ = name;
    definedValue_ = &value;
    definedFound_ = false;
    {
      ScopeExit clearDefined([&] { definedValue_ = nullptr; });
      instance->DefineProperties(this);
    }
    return definedFound_;
  }

  void ReadStrings(TPersistent* instance, const TPropInfo& p) {
    TStrings* list = SubObject<TStrings>(instance, p);
    Value value = ReadValue();
    if (value.kind != Value::List) throw EReadError("Invalid property value: string list expected");
    list->BeginUpdate();
    ScopeExit endUpdate([&] { list->EndUpdate(); });
    list->Clear();
    for (const String& s : value.elements) list->Add(s);
  }

  void ApplyValue(TPersistent* instance, const TPropInfo& p, int line) {
    if (p.Kind == tkCollection) return ReadCollection(SubObject<TCollection>(instance, p));
    Value value = ReadValue();
    if (!p.IsWritable()) throw EPropReadOnly("Property " + p.Name + " is read-only");
    switch (p.Kind) {
      case tkBoolean:
        if (value.kind != Value::Ident || (!SameText(value.text, "True") && !SameText(value.text, "False")))
          throw EReadError("Invalid property value");
        p.SetOrd(instance, SameText(value.text, "True") ? 1 : 0);
        break;
      case tkInteger: {
        if (value.kind != Value::Int) throw EReadError("Invalid property value");
        int64_t number = ParseInteger(value.text);
        if (number < p.MinValue || number > p.MaxValue) throw EReadError("Value " + value.text + " out of range");
        p.SetOrd(instance, number);
        break;
      }
      case tkFloat:
        if (value.kind != Value::Int && value.kind != Value::Float) throw EReadError("Invalid property value");
        p.SetFloat(instance, ParseFloat(value.text));
        break;
      case tkString:
        if (value.kind != Value::Str) throw EReadError("Invalid property value");
        p.SetStr(instance, value.text);
        break;
      case tkEnumeration: {
        int ordinal = value.kind == Value::Ident ? p.EnumInfo->ValueOf(value.text) : -1;
        if (ordinal < 0) throw EReadError("Invalid property value");
        p.SetOrd(instance, ordinal);
        break;
      }
      case tkSet: {
        if (value.kind != Value::Set) throw EReadError("Invalid property value");
        uint64_t bits = 0;
        for (const String& e : value.elements) {
          int ordinal = p.EnumInfo->ValueOf(e);
          if (ordinal < 0 || ordinal >= 64) throw EReadError("Invalid property element " + e);
          bits |= uint64_t{1} << ordinal;
        }
        p.SetOrd(instance, static_cast<int64_t>(bits));
        break;
      }
      case tkMethod: BindMethod(instance, p, value); break;
      case tkComponent:
        if (value.kind != Value::Ident) throw EReadError("Invalid property value");
        if (SameText(value.text, "nil"))
          p.SetObject(instance, nullptr);
        else
          fixups_.push_back(Fixup{instance, &p, value.text, line, collections_});
        break;
      default: throw EReadError("Invalid property value");
    }
  }

  void BindMethod(TPersistent* instance, const TPropInfo& p, const Value& value) {
    if (value.kind != Value::Ident) throw EReadError("Invalid property value");
    const TMethodEntry* entry = root_->ClassType()->FindMethod(value.text);
    if (!entry) throw EMethodNotFound("Method " + value.text + " not found in " + root_->ClassName());
    if (*entry->Signature != *p.MethodSignature)
      throw EReadError("Method " + value.text + " does not fit the event " + p.Name);
    p.SetMethod(instance, TMethod{entry->Code, root_, nullptr});
  }

  void ReadCollection(TCollection* collection) {
    NestingLevel level(*this);
    parser_.ExpectChar('<');
    collection->BeginUpdate();
    ScopeExit endUpdate([&] { collection->EndUpdate(); });
    ForgetFixupsWithin(collection);
    collection->Clear();
    collections_.push_back(collection);
    while (parser_.IsSymbol("item")) {
      parser_.Next();
      TCollectionItem* item = parser_.IsChar(':') ? CreateItem(collection) : collection->Add();
      while (!parser_.IsSymbol("end")) {
        if (parser_.Kind() == Token::End) parser_.Error("'end' expected");
        ReadPropertyLine(item);
      }
      parser_.Next();
    }
    parser_.ExpectChar('>');
    collections_.pop_back();
  }

  // "item: TClass": an item of a descendant of the collection's item class.
  TCollectionItem* CreateItem(TCollection* collection) {
    parser_.Next();
    const String className = parser_.ExpectSymbol();
    TClass cls = FindClass(className);
    if (!cls->InheritsFrom(collection->ItemClass()))
      parser_.Error(className + " is no item class of " + collection->ClassName());
    return static_cast<TCollectionItem*>(cls->Create(collection));
  }

  // The references read into items that the collection is about to free.
  void ForgetFixupsWithin(const TCollection* collection) {
    std::erase_if(fixups_, [collection](const Fixup& f) {
      return std::find(f.within.begin(), f.within.end(), collection) != f.within.end();
    });
  }

  Value ReadValue() {
    Value v;
    switch (parser_.Kind()) {
      case Token::Symbol:
        v.kind = Value::Ident;
        v.text = parser_.Text();
        parser_.Next();
        return v;
      case Token::String:
        v.kind = Value::Str;
        v.text = parser_.Text();
        parser_.Next();
        return v;
      case Token::Integer:
      case Token::Float: return ReadNumberValue("");
      case Token::Char: break;
      case Token::End: parser_.Error("Value expected");
    }
    char c = parser_.Char();
    if (c == '-') {
      parser_.Next();
      if (parser_.Kind() != Token::Integer && parser_.Kind() != Token::Float) parser_.Error("Number expected");
      return ReadNumberValue("-");
    }
    if (c == '[') return ReadSetValue();
    if (c == '(') return ReadListValue();
    if (c == '{') {
      v.kind = Value::Binary;
      v.hex = parser_.ReadBinary();
      return v;
    }
    parser_.Error(String("Invalid value '") + c + "'");
  }

  Value ReadNumberValue(const String& sign) {
    Value v;
    v.kind = parser_.Kind() == Token::Integer ? Value::Int : Value::Float;
    v.text = sign + parser_.Text();
    parser_.Next();
    return v;
  }

  Value ReadSetValue() {
    Value v;
    v.kind = Value::Set;
    parser_.Next();
    while (!parser_.IsChar(']')) {
      v.elements.push_back(parser_.ExpectSymbol());
      if (parser_.IsChar(',')) parser_.Next();
      else if (!parser_.IsChar(']')) parser_.Error("']' expected");
    }
    parser_.Next();
    return v;
  }

  Value ReadListValue() {
    Value v;
    v.kind = Value::List;
    parser_.Next();
    while (!parser_.IsChar(')')) {
      if (parser_.Kind() != Token::String) parser_.Error("String expected");
      v.elements.push_back(parser_.Text());
      parser_.Next();
    }
    parser_.Next();
    return v;
  }

  // Decimal or $hex, with an optional minus sign; anything beyond 64 bits
  // does not fit.
  static int64_t ParseInteger(const String& text) {
    bool negative = !text.empty() && text[0] == '-';
    const char* first = text.data() + (negative ? 1 : 0);
    const char* last = text.data() + text.size();
    int base = 10;
    if (first != last && *first == '$') ++first, base = 16;
    uint64_t magnitude = 0;
    auto result = std::from_chars(first, last, magnitude, base);
    const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{INT64_MAX};
    if (result.ec != std::errc() || result.ptr != last || magnitude > limit)
      throw EReadError("Invalid integer value " + text.substr(0, 40));
    return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  }

  static double ParseFloat(const String& text) {
    double value = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size())
      throw EReadError("Invalid floating point value " + text.substr(0, 40));
    return value;
  }

  void ResolveFixups() {
    for (const Fixup& f : fixups_) {
      TComponent* target = SameText(f.name, root_->Name()) ? root_ : root_->FindComponent(f.name);
      String problem = !target ? "unknown component " + f.name
                       : !target->InheritsFrom(f.prop->PropClass())
                           ? f.name + " is a " + target->ClassName() + ", not a " + f.prop->PropClass()->ClassName()
                           : String();
      if (!problem.empty())
        throw EReadError("Error reading " + Describe(f.instance) + "." + f.prop->Name + " on line " +
                         IntToStr(f.line) + ": " + problem);
      f.prop->SetObject(f.instance, target);
    }
  }

  Parser parser_;
  TComponent* root_;
  bool rootCreated_ = false;
  std::vector<TComponent*> loaded_;
  std::vector<TComponent*> created_;  // children this read made, oldest first
  std::vector<Fixup> fixups_;
  std::vector<const TCollection*> collections_;  // those being read, outermost first
  int nesting_ = 0;
  String definedName_;
  const Value* definedValue_ = nullptr;
  bool definedFound_ = false;
};

String ComponentToText(TComponent* Root) { return TWriter(Root).Write(); }

void TextToComponent(const String& Text, TComponent* Root) { TReader(Text, Root).ReadRoot(Root->Owner()); }

TComponent* CreateComponentFromText(const String& Text, TComponent* Owner) {
  return TReader(Text, nullptr).ReadRoot(Owner);
}

void ReadComponentRes(const String& ResName, TComponent* Instance) {
  TResourceStream stream(ResName);
  const auto& bytes = stream.Data();
  TextToComponent(String(bytes.begin(), bytes.end()), Instance);
}

bool InitInheritedComponent(TComponent* Instance) {
  String name = UpperCase(Instance->ClassName());
  if (!FindResourceEntry(name)) return false;
  ReadComponentRes(name, Instance);
  return true;
}

}  // namespace ztl
