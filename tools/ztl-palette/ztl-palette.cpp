// ztl-palette: loads a module as a package, as a design host does, and shows
// what it registers.
//
//   ztl-palette MODULE                     the palette pages and their components, in order
//   ztl-palette MODULE --properties CLASS  the published properties of a registered component
//   ztl-palette MODULE --bitmaps DIR       the module's palette bitmaps, as DIR/NAME.png
//
// Properties are read from a component created in design state, owned by a
// designed data module: what a design host's property list shows. Palette
// bitmaps are the module's bitmap resources of the palette's size (24 x 24
// pixels); their colour tables are kept in the PNG files. Exit status 0 on
// success, 1 when the module, the class or a file fails, 2 for a wrong
// command line.
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <ztlogger/platform/classes/DataModule.h>
#include <ztlogger/platform/classes/Registration.h>
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace {

using ztl::String;

constexpr int kPaletteSize = 24;

const char* const kUsage =
    "ztl-palette: loads a module as a package, as a design host does, and shows what it registers.\n\n"
    "  ztl-palette MODULE\n"
    "      lists the palette pages and their components, in registration order\n"
    "  ztl-palette MODULE --properties CLASS\n"
    "      lists the published properties of a registered component: name, type,\n"
    "      declared default and the value of a component created in design state\n"
    "  ztl-palette MODULE --bitmaps DIR\n"
    "      writes each palette bitmap of the module (24 x 24) as DIR/NAME.png\n\n"
    "Exit status: 0 done, 1 failed (a module that is no package, an unknown class,\n"
    "a file that cannot be written), 2 wrong command line.\n";

int Usage(const String& problem) {
  std::cerr << "ztl-palette: " << problem << "\nType \"ztl-palette --help\" for usage.\n";
  return 2;
}

int Fail(const String& message) {
  std::cerr << "ztl-palette: " << message << "\n";
  return 1;
}

int ListPalette() {
  String page;
  bool first = true;
  for (const ztl::TPaletteEntry& e : ztl::RegisteredComponents()) {
    if (first || e.Page != page) std::cout << e.Page << "\n";
    first = false;
    page = e.Page;
    std::cout << "  " << e.ComponentClass->ClassName() << "\n";
  }
  return 0;
}

String TypeName(const ztl::TPropInfo& p) {
  switch (p.Kind) {
    case ztl::tkBoolean: return "Boolean";
    case ztl::tkInteger: return "Integer";
    case ztl::tkFloat: return "Double";
    case ztl::tkString: return "String";
    case ztl::tkEnumeration: return p.EnumInfo->TypeName;
    case ztl::tkSet: return "set of " + p.EnumInfo->TypeName;
    case ztl::tkMethod: return "event";
    default: return p.PropClass() ? p.PropClass()->ClassName() : String("object");
  }
}

// As a stored form writes text: quoted, control characters as #13#10.
String Quote(const String& text) {
  String out;
  bool quoted = false;
  for (char c : text) {
    const bool control = static_cast<unsigned char>(c) < 32;
    if (control == quoted) {
      out += '\'';
      quoted = !quoted;
    }
    if (control)
      out += "#" + std::to_string(static_cast<int>(c));
    else
      out += c == '\'' ? String("''") : String(1, c);
  }
  return quoted || out.empty() ? out + "'" + (out.empty() ? "'" : "") : out;
}

String OrdinalText(const ztl::TPropInfo& p, int64_t value) {
  switch (p.Kind) {
    case ztl::tkBoolean: return value ? "True" : "False";
    case ztl::tkEnumeration: return ztl::GetEnumName(*p.EnumInfo, value);
    case ztl::tkSet: return ztl::SetToString(*p.EnumInfo, static_cast<uint64_t>(value));
    default: return ztl::IntToStr(value);
  }
}

String DefaultText(const ztl::TPropInfo& p) {
  if (p.OrdDefault) return OrdinalText(p, *p.OrdDefault);
  if (p.StrDefault) return Quote(*p.StrDefault);
  if (p.StoredTest) return "(the component decides what is stored)";
  return "(none)";
}

String ValueText(const ztl::TPropInfo& p, const ztl::TObject* instance) {
  if (p.IsOrdinal() && p.GetOrd) return OrdinalText(p, p.GetOrd(instance));
  if (p.Kind == ztl::tkFloat && p.GetFloat) return ztl::FloatToStr(p.GetFloat(instance));
  if (p.Kind == ztl::tkString && p.GetStr) return Quote(p.GetStr(instance));
  if (p.Kind == ztl::tkMethod && p.GetMethod) return p.GetMethod(instance).Code != nullptr ? "assigned" : "(none)";
  return "";
}

// One line a property, with its default and its value; an owned sub-object's
// properties follow it, named through it (SendTo.EMail), as a design host's
// property list unfolds them.
void ListProperties(const ztl::TObject* instance, const String& prefix) {
  for (const ztl::TPropInfo* p : instance->ClassType()->Properties()) {
    std::cout << "  " << prefix << p->Name << ": " << TypeName(*p);
    if (p->Kind == ztl::tkPersistent) {
      std::cout << "\n";
      if (const ztl::TObject* owned = p->GetObject ? p->GetObject(instance) : nullptr)
        ListProperties(owned, prefix + p->Name + ".");
      continue;
    }
    std::cout << "\n      default " << DefaultText(*p);
    const String value = ValueText(*p, instance);
    if (!value.empty()) std::cout << ", in design state " << value;
    std::cout << "\n";
  }
}

int ListProperties(const String& className) {
  if (!ztl::FindComponentClass(className))
    return Fail("no registered component is named " + className + " (run ztl-palette MODULE for the list)");
  ztl::TDataModule host(nullptr);
  ztl::TComponent* component = ztl::CreateDesignComponent(className, &host);
  std::cout << component->ClassName() << "\n";
  ListProperties(component, "");
  return 0;
}

// A bitmap as the BMP headers describe it; nullopt for anything but an
// uncompressed device-independent bitmap.
struct Bitmap {
  int width = 0, height = 0, bits = 0;
  bool bottomUp = true;
  std::vector<png_color> colours;
  const unsigned char* pixels = nullptr;
  size_t stride = 0;
};

template <typename T>
T At(const ztl::TResourceEntry& e, size_t offset) {
  T value;
  std::memcpy(&value, e.Data + offset, sizeof value);
  return value;
}

std::optional<Bitmap> ReadBitmap(const ztl::TResourceEntry& e) {
  if (e.Size < 54 || std::memcmp(e.Data, "BM", 2) != 0 || At<uint32_t>(e, 14) < 40) return std::nullopt;
  Bitmap b;
  b.width = At<int32_t>(e, 18);
  const int32_t height = At<int32_t>(e, 22);
  b.bottomUp = height > 0;
  b.height = height < 0 ? -height : height;
  b.bits = At<uint16_t>(e, 28);
  if (At<uint32_t>(e, 30) != 0 || b.width <= 0 || b.height <= 0 || b.width > 65536 || b.height > 65536)
    return std::nullopt;  // BI_RGB only
  if (b.bits != 4 && b.bits != 8 && b.bits != 24) return std::nullopt;
  if (b.bits <= 8) {
    uint32_t count = At<uint32_t>(e, 46);
    if (count == 0) count = 1u << b.bits;
    const size_t table = 14 + At<uint32_t>(e, 14);
    if (count > (1u << b.bits) || table + 4 * count > e.Size) return std::nullopt;
    for (uint32_t i = 0; i < count; ++i) {
      const unsigned char* c = e.Data + table + 4 * i;
      b.colours.push_back(png_color{c[2], c[1], c[0]});
    }
  }
  b.stride = ((static_cast<size_t>(b.width) * b.bits + 31) / 32) * 4;
  const size_t offset = At<uint32_t>(e, 10);
  if (offset > e.Size || b.stride * b.height > e.Size - offset) return std::nullopt;
  b.pixels = e.Data + offset;
  return b;
}

// Writes the bitmap as a PNG file: indexed with its colour table, or RGB.
void WritePng(const Bitmap& b, const String& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) throw ztl::EInOutError("Cannot create " + path + ": " + std::strerror(errno));
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    throw ztl::EOutOfMemory("Out of memory");
  }
  std::vector<unsigned char> row(b.stride);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw ztl::EInOutError("Cannot write " + path);
  }
  png_init_io(png, file.get());
  const bool indexed = b.bits <= 8;
  png_set_IHDR(png, info, b.width, b.height, indexed ? b.bits : 8,
               indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (indexed) png_set_PLTE(png, info, b.colours.data(), static_cast<int>(b.colours.size()));
  png_write_info(png, info);
  if (!indexed) png_set_bgr(png);  // BMP rows hold blue, green, red
  for (int y = 0; y < b.height; ++y) {
    const int source = b.bottomUp ? b.height - 1 - y : y;
    std::memcpy(row.data(), b.pixels + b.stride * source, b.stride);
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file.get()) != 0) throw ztl::EInOutError("Cannot write " + path + ": " + std::strerror(errno));
}

int WriteBitmaps(ztl::HMODULE module, const String& folder) {
  if (!ztl::DirectoryExists(folder)) return Fail("no folder " + folder);
  int written = 0;
  for (const ztl::TResourceEntry* e : ztl::PackageResources(module)) {
    const auto bitmap = ReadBitmap(*e);
    if (!bitmap || bitmap->width != kPaletteSize || bitmap->height != kPaletteSize) continue;
    const String path = ztl::IncludeTrailingPathDelimiter(folder) + e->Name + ".png";
    WritePng(*bitmap, path);
    std::cout << path << " (" << bitmap->width << " x " << bitmap->height << ", " << bitmap->bits
              << " bits per pixel)\n";
    ++written;
  }
  if (written == 0) return Fail("the module holds no palette bitmaps");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<String> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (args.empty()) return Usage("no module given");
  if (args[0].rfind("-", 0) == 0) return Usage("unknown option " + args[0]);
  if (args.size() != 1 && args.size() != 3) return Usage("wrong number of arguments");
  if (args.size() == 3 && args[1] != "--properties" && args[1] != "--bitmaps")
    return Usage("unknown option " + args[1]);
  try {
    ztl::HMODULE module = ztl::LoadPackage(args[0]);
    int status = 0;
    if (args.size() == 1)
      status = ListPalette();
    else if (args[1] == "--properties")
      status = ListProperties(args[2]);
    else
      status = WriteBitmaps(module, args[2]);
    ztl::UnloadPackage(module);
    return status;
  } catch (const ztl::Exception& e) {
    return Fail(e.Message());
  }
}
