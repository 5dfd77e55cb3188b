// The ZTLogger demo: log components on a data module read from a stored form,
// writing a text log and an XML log.
#include <cstdio>
#include <exception>

#include "core/LogBase.h"
#include "demo/DemoModule.h"
#include "platform/classes/Streams.h"
#include "platform/classes/Strings.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"

using namespace ztl;

namespace {

String OutputFolder(int argc, char** argv) {
  if (argc > 1) return argv[1];
  return IncludeTrailingPathDelimiter(GetCurrentDir()) + "ztl-demo-output";
}

void WriteSamples(TZTLogBase& log) {
  log.WriteAsString("START", "Demo started\r\n");
  log.WriteAsInteger("COUNT", -42);
  log.WriteAsFloat("RATIO", 0.625);
  log.WriteAsDateTime("WHEN", Now());
  log.WriteAsString("NOTE", "\r\nmarkup <b> & line breaks stay as written\r\n");
}

void Show(const TZTLogBase& log) {
  TStringList lines;
  lines.LoadFromFile(log.LogFile());
  std::printf("== %s (%s, %d lines)\n%s\n", log.LogFile().c_str(),
              log.Formatting() == ztlfXML ? "XML" : "text", lines.Count(), lines.Text().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    RegisterClass(TZTLogBase::StaticClass());
    String folder = OutputFolder(argc, argv);
    if (!ForceDirectories(folder)) throw EInOutError("Cannot create " + folder);
    demo::TDemoModule module(nullptr, folder);
    WriteSamples(*module.TextLog);
    WriteSamples(*module.XmlLog);
    Show(*module.TextLog);
    Show(*module.XmlLog);
    std::printf("Logs written to %s\n", folder.c_str());
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s: %s\n", e.ClassName().c_str(), e.Message().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
  }
  return 1;
}
