// The exception logger's settings: enumerations and sets, published
// properties with their defaults, storage with a form, and the map-file reader.
#include <gtest/gtest.h>

#include <filesystem>

#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Filer.h>

namespace ztl {
namespace {

// A data module with a handler for the save event, so that a stored form can
// name it.
class TReportModule : public TComponent {
  ZTL_DECLARE_CLASS(TReportModule, TComponent)

 public:
  explicit TReportModule(TComponent* AOwner) : TComponent(AOwner) {}
  void ReviewReport(TObject*, Exception*, String& LogText, bool& Accept) {
    LogText = "reviewed: " + LogText;
    Accept = false;
  }
  void ExceptionSeen(TObject*, Exception*) {}
};

}  // namespace

ZTL_BEGIN_CLASS(TReportModule, TComponent)
  .Method<&TReportModule::ReviewReport>("ReviewReport")
  .Method<&TReportModule::ExceptionSeen>("ExceptionSeen")
ZTL_END_CLASS

namespace {

template <typename E>
std::vector<String> NamesOf() {
  return EnumTypeInfo(E{}).Names;
}

TEST(ExceptionLogTypes, ElementsInOrdinalOrderWithTheirNames) {
  EXPECT_EQ(NamesOf<TZTLErrorDialog>(), (std::vector<String>{"edNone", "edStandard", "edExtended"}));
  EXPECT_EQ(NamesOf<TZTLAOption>(), (std::vector<String>{"laShowSendEMail", "laShowSupportLink", "laShowSourceLine"}));
  EXPECT_EQ(NamesOf<TZTLFormat>(),
            (std::vector<String>{"lfDate", "lfTime", "lfPhysAddress", "lfExceptionClassName", "lfMessage",
                                 "lfSeparator", "lfSourceLine", "lfApplication", "lfActiveControl", "lfComputerInfo",
                                 "lfOSInfo", "lfCPUInfo", "lfMemoryInfo", "lfVideoCard"}));
  EXPECT_EQ(NamesOf<TZTExceptionGraphic>(), (std::vector<String>{"efInvalidGraphic", "efInvalidGraphicOperation"}));
  EXPECT_EQ(lfVideoCard, 13);
  EXPECT_EQ(laShowSourceLine, 2);
  EXPECT_EQ(edExtended, 2);
}

TEST(ExceptionLogTypes, FilterElementsNameTheirClassesInOrder) {
  const std::vector<String> standard = NamesOf<TZTExceptionStandard>();
  ASSERT_EQ(standard.size(), 30u);
  EXPECT_EQ(standard[efAbort], "efAbort");
  EXPECT_EQ(standard[efIntError], "efIntError");
  EXPECT_EQ(standard[efDivByZero], "efDivByZero");
  EXPECT_EQ(standard[efMathError], "efMathError");
  EXPECT_EQ(standard[efAccessViolation], "efAccessViolation");
  EXPECT_EQ(standard[efExternalException], "efExternalException");
  EXPECT_EQ(standard[efWin32Error], "efWin32Error");
  EXPECT_EQ(efAccessViolation, 15);
  EXPECT_EQ(efWin32Error, 29);

  const std::vector<String> classes = NamesOf<TZTExceptionClass>();
  ASSERT_EQ(classes.size(), 18u);
  EXPECT_EQ(classes[efStreamError], "efStreamError");
  EXPECT_EQ(classes[efInvalidImage], "efInvalidImage");
  EXPECT_EQ(classes[efOutOfResources], "efOutOfResources");
  EXPECT_EQ(classes[efThread], "efThread");
  EXPECT_EQ(efOutOfResources, 15);
  EXPECT_EQ(efThread, 17);
}

TEST(ExceptionLogTypes, SetValuesFollowTheElementBits) {
  EXPECT_EQ(TZTExceptionLog::DefaultFormats.Bits(), 951u);
  EXPECT_EQ(TZTExceptionLog::DefaultOptions.Bits(), 3u);
  EXPECT_EQ(TZTExceptionStandards::All().Bits(), (uint64_t{1} << 30) - 1);
  EXPECT_EQ(TZTExceptionClasses::All().Bits(), (uint64_t{1} << 18) - 1);
  EXPECT_EQ(TZTExceptionGraphics::All().Bits(), 3u);
  EXPECT_EQ(SetToString(EnumTypeInfo(TZTLFormat{}), 951),
            "[lfDate,lfTime,lfPhysAddress,lfMessage,lfSeparator,lfApplication,lfActiveControl,lfComputerInfo]");
}

TEST(ExceptionLogDefaults, ANewComponent) {
  TZTExceptionLog log(nullptr);
  EXPECT_EQ(log.ErrorDialog(), edExtended);
  EXPECT_EQ(log.Formats().Bits(), 951u);
  EXPECT_EQ(log.Options().Bits(), 3u);
  EXPECT_EQ(log.FilterStandard(), TZTExceptionStandards::All());
  EXPECT_EQ(log.FilterClasses(), TZTExceptionClasses::All());
  EXPECT_EQ(log.FilterGraphics(), TZTExceptionGraphics::All());
  EXPECT_FALSE(log.OnException().Assigned());
  EXPECT_FALSE(log.OnSaveException().Assigned());
  // Inherited.
  EXPECT_FALSE(log.Active());
  EXPECT_EQ(log.LogFile(), "ztevents.log");
  EXPECT_EQ(log.Formatting(), ztlfText);
  ASSERT_NE(log.SendTo(), nullptr);
}

TEST(ExceptionLogDefaults, PublishedAfterTheInheritedPropertiesWithDeclaredDefaults) {
  const TClass cls = TZTExceptionLog::StaticClass();
  EXPECT_EQ(cls->ClassParent(), TZTLogBase::StaticClass());
  struct Expected {
    const char* Name;
    TTypeKind Kind;
    std::optional<int64_t> Default;
  };
  const Expected expected[] = {
      {"ErrorDialog", tkEnumeration, edExtended},
      {"FilterStandard", tkSet, (int64_t{1} << 30) - 1},
      {"FilterClasses", tkSet, (int64_t{1} << 18) - 1},
      {"FilterGraphics", tkSet, 3},
      {"Formats", tkSet, 951},
      {"CallStack", tkBoolean, 0},
      {"Options", tkSet, 3},
      {"OnException", tkMethod, std::nullopt},
      {"OnSaveException", tkMethod, std::nullopt},
  };
  const std::vector<const TPropInfo*>& properties = cls->Properties();
  const size_t inherited = TZTLogBase::StaticClass()->Properties().size();
  ASSERT_EQ(properties.size(), inherited + std::size(expected));
  EXPECT_EQ(properties[inherited - 1]->Name, "Formatting");
  for (size_t i = 0; i < std::size(expected); ++i) {
    const Expected& e = expected[i];
    const TPropInfo* info = properties[inherited + i];
    SCOPED_TRACE(e.Name);
    EXPECT_EQ(info->Name, e.Name);
    EXPECT_EQ(info->Kind, e.Kind);
    EXPECT_EQ(info->OrdDefault, e.Default);
  }
  EXPECT_EQ(GetPropInfo(cls, "MapFile"), nullptr) << "the map-file reader is public, not published";
}

TEST(ExceptionLogDefaults, PropertiesByName) {
  TZTExceptionLog log(nullptr);
  SetEnumProp(&log, "ErrorDialog", "edNone");
  EXPECT_EQ(log.ErrorDialog(), edNone);
  SetOrdProp(&log, "Formats", TZTLFormats{lfCPUInfo, lfVideoCard}.Bits());
  EXPECT_EQ(log.Formats(), (TZTLFormats{lfCPUInfo, lfVideoCard}));
  log.SetFilterClasses(TZTExceptionClasses{efThread});
  EXPECT_EQ(GetOrdProp(&log, "FilterClasses"), int64_t{1} << 17);
}

// ---- Stored forms ----------------------------------------------------------

class ExceptionLogStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClass(TZTExceptionLog::StaticClass());
    RegisterClass(TReportModule::StaticClass());
  }
};

TEST_F(ExceptionLogStorage, ANewComponentStoresNoneOfItsOwnProperties) {
  // Exactly what the base class stores of itself.
  TReportModule module(nullptr);
  module.SetName("Module1");
  (new TZTExceptionLog(&module))->SetName("Log1");
  TReportModule baseModule(nullptr);
  baseModule.SetName("Module1");
  (new TZTLogBase(&baseModule))->SetName("Log1");
  String expected = ComponentToText(&baseModule);
  expected.replace(expected.find(": TZTLogBase"), 12, ": TZTExceptionLog");
  EXPECT_EQ(ComponentToText(&module), expected);
}

TEST_F(ExceptionLogStorage, ChangedValuesAreStoredAndReadBack) {
  TReportModule module(nullptr);
  module.SetName("Module1");
  auto* log = new TZTExceptionLog(&module);
  log->SetName("ExceptionLog1");
  log->SetErrorDialog(edStandard);
  log->SetFilterStandard(TZTExceptionStandards::All().Exclude(efAbort).Exclude(efDivByZero));
  log->SetFilterClasses(TZTExceptionClasses{efStreamError, efThread});
  log->SetFilterGraphics({});
  log->SetFormats({lfDate, lfSourceLine, lfVideoCard});
  log->SetOptions({laShowSourceLine});
  log->SetCallStack(true);
  log->SetOnSaveException(MakeMethod<&TReportModule::ReviewReport>(&module));
  log->SetOnException(MakeMethod<&TReportModule::ExceptionSeen>(&module));
  const String text = ComponentToText(&module);

  EXPECT_NE(text.find("    ErrorDialog = edStandard\r\n"), String::npos) << text;
  EXPECT_NE(text.find("    FilterClasses = [efStreamError, efThread]\r\n"), String::npos) << text;
  EXPECT_NE(text.find("    FilterGraphics = []\r\n"), String::npos) << text;
  EXPECT_NE(text.find("    Formats = [lfDate, lfSourceLine, lfVideoCard]\r\n"), String::npos) << text;
  EXPECT_NE(text.find("    Options = [laShowSourceLine]\r\n"), String::npos) << text;
  EXPECT_NE(text.find("    CallStack = True\r\n"), String::npos) << text;
  EXPECT_NE(text.find("    OnException = ExceptionSeen\r\n"), String::npos) << text;
  EXPECT_NE(text.find("    OnSaveException = ReviewReport\r\n"), String::npos) << text;
  const size_t filter = text.find("    FilterStandard = [efOutOfMemory, efInOutError, efIntError, efRangeError,");
  EXPECT_NE(filter, String::npos) << text;

  TReportModule again(nullptr);
  TextToComponent(text, &again);
  EXPECT_EQ(ComponentToText(&again), text);
  auto* read = dynamic_cast<TZTExceptionLog*>(again.FindComponent("ExceptionLog1"));
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->ErrorDialog(), edStandard);
  EXPECT_EQ(read->FilterStandard(), TZTExceptionStandards::All().Exclude(efAbort).Exclude(efDivByZero));
  EXPECT_EQ(read->FilterClasses(), (TZTExceptionClasses{efStreamError, efThread}));
  EXPECT_TRUE(read->FilterGraphics().Empty());
  EXPECT_EQ(read->Formats(), (TZTLFormats{lfDate, lfSourceLine, lfVideoCard}));
  EXPECT_EQ(read->Options(), TZTLAOptions{laShowSourceLine});
  EXPECT_TRUE(read->CallStack());

  // The bound handler takes the report and the verdict by reference.
  ASSERT_TRUE(read->OnSaveException().Assigned());
  EXPECT_EQ(read->OnSaveException().Data(), &again);
  String report = "text";
  bool accept = true;
  read->OnSaveException()(read, nullptr, report, accept);
  EXPECT_EQ(report, "reviewed: text");
  EXPECT_FALSE(accept);
}

TEST_F(ExceptionLogStorage, ValuesBackAtTheirDefaultsAreNotStored) {
  TReportModule module(nullptr);
  module.SetName("Module1");
  auto* log = new TZTExceptionLog(&module);
  log->SetName("ExceptionLog1");
  log->SetFormats({lfDate});
  log->SetFilterGraphics({efInvalidGraphic});
  log->SetFormats(TZTExceptionLog::DefaultFormats);
  log->SetFilterGraphics(TZTExceptionGraphics{efInvalidGraphic, efInvalidGraphicOperation});
  const String text = ComponentToText(&module);
  EXPECT_EQ(text.find("Formats"), String::npos) << text;
  EXPECT_EQ(text.find("Filter"), String::npos) << text;
}

// ---- The map-file reader ---------------------------------------------------

// Tells when it is freed.
class TWatchedMapFile : public TZTMapFile {
 public:
  explicit TWatchedMapFile(bool& freed) : freed_(freed) {}
  ~TWatchedMapFile() override { freed_ = true; }

 private:
  bool& freed_;
};

TEST(ExceptionLogMapFile, NamesTheMapBesideTheExecutable) {
  TZTExceptionLog log(nullptr);
  ASSERT_NE(log.MapFile(), nullptr);
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(log.MapFile()->MapFileName(), exe.replace_extension(".map").string());
  EXPECT_FALSE(log.MapFile()->MapFileIsLoaded());
}

TEST(ExceptionLogMapFile, AssigningReplacesTheReferenceAndTheComponentFreesWhatItHolds) {
  bool firstFreed = false;
  bool secondFreed = false;
  auto* first = new TWatchedMapFile(firstFreed);
  auto* second = new TWatchedMapFile(secondFreed);
  {
    TZTExceptionLog log(nullptr);
    TZTMapFile* own = log.MapFile();
    log.SetMapFile(first);
    EXPECT_EQ(log.MapFile(), first);
    delete own;  // the component let go of it
    log.SetMapFile(second);
    EXPECT_FALSE(firstFreed) << "assigning frees nothing";
  }
  EXPECT_TRUE(secondFreed);
  EXPECT_FALSE(firstFreed);
  delete first;
}

TEST(ExceptionLogMapFile, AssigningTheHeldReaderAgainKeepsIt) {
  bool freed = false;
  {
    TZTExceptionLog log(nullptr);
    TZTMapFile* own = log.MapFile();
    auto* reader = new TWatchedMapFile(freed);
    log.SetMapFile(reader);
    delete own;  // the component let go of it
    log.SetMapFile(reader);
    EXPECT_FALSE(freed) << "the reader in use stays alive";
    EXPECT_EQ(log.MapFile(), reader);
  }
  EXPECT_TRUE(freed) << "freed with the component, once";
}

}  // namespace
}  // namespace ztl
