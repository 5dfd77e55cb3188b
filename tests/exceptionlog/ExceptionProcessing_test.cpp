#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "exceptionlog/LogDlg.h"
#include "exceptionlog/LogError.h"
#include "platform/classes/ClassBuilder.h"
#include "platform/forms/HeadlessWidgetSet.h"
#include "platform/forms/Testing.h"
#include "platform/os/Modules.h"
#include "platform/os/SysInfo.h"
#include "platform/rtl/DateUtils.h"
#include "platform/rtl/ExceptionSupport.h"
#include "platform/rtl/SysUtils.h"
#include "tests/core/LogFiles.h"
#include "tests/support/TestDir.h"

namespace ztl {

// An application's own exception class, outside every filtered family.
ZTL_DECLARE_EXCEPTION(EOrderRejected, Exception)
ZTL_DEFINE_CLASS(EOrderRejected, Exception)

namespace {

using test::ReadFileBytes;
using test::TestDir;

// Records what the handlers around the logger see.
class Recorder : public TObject {
 public:
  void Previous(TObject* Sender, Exception* E) {
    calls.push_back("previous " + E->Message());
    senders.push_back(Sender);
  }
  void Own(TObject*, Exception* E) {
    calls.push_back("own " + E->Message());
    if (throwInOwn) {
      throwInOwn = false;
      throw EConvertError("handler failed");
    }
  }
  void Save(TObject* Sender, Exception* E, String& LogText, bool& Accept) {
    calls.push_back("save " + E->Message());
    senders.push_back(Sender);
    offered.push_back(LogText);
    if (replacement) LogText = *replacement;
    Accept = accept;
  }

  std::vector<String> calls;
  std::vector<TObject*> senders;
  std::vector<String> offered;
  const String* replacement = nullptr;
  bool accept = true;
  bool throwInOwn = false;
};

template <typename E>
std::function<void()> Raise(String message = "raised") {
  return [message] { throw E(message); };
}

class ExceptionProcessing : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetApplicationState();
    savedSettings_ = FormatSettings();
    // Fixed date and time texts: the formats are literals.
    FormatSettings().ShortDateFormat = "'07.12.2026'";
    FormatSettings().LongTimeFormat = "'08:20:55'";
  }
  void TearDown() override {
    FormatSettings() = savedSettings_;
    ResetApplicationState();
  }

  // A logger that writes to its own file and tells the user nothing.
  std::unique_ptr<TZTExceptionLog> NewLog(const String& file = "errors.log") {
    auto log = std::make_unique<TZTExceptionLog>(nullptr);
    SetOrdProp(log.get(), "Active", 1);
    log->SetLogFile(dir_.File(file));
    log->SetErrorDialog(edNone);
    return log;
  }

  // Runs raise inside the application's message loop; then, while the
  // processing shows a window, the actions posted by whileShown.
  static void RaiseInLoop(const std::function<void()>& raise, const std::function<void()>& whileShown = {}) {
    Application->QueueCall(raise);
    if (whileShown) whileShown();
    Application->ProcessMessages();
  }

  static std::vector<TShownWindow> Shown() { return HeadlessWidgetSet().Shown(); }
  String LogText(const String& file = "errors.log") const { return ReadFileBytes(dir_.File(file)); }
  bool LogExists(const String& file = "errors.log") const { return FileExists(dir_.File(file)); }

  TestDir dir_;
  TFormatSettings savedSettings_;
};

// ---------------------------------------------------------------- installation and chaining

TEST_F(ExceptionProcessing, InstallsItselfAtRunTimeWhateverActiveSays) {
  Recorder app;
  Application->SetOnException(MakeMethod<&Recorder::Previous>(&app));
  auto log = std::make_unique<TZTExceptionLog>(nullptr);
  EXPECT_FALSE(log->Active());
  EXPECT_EQ(Application->OnException().Data(), log.get());
  EXPECT_EQ(log->MapFile()->MapFileName(), ChangeFileExt(Application->ExeName(), ".map"));
  EXPECT_EQ(log->MapFile()->MapFileBase(), static_cast<uint32_t>(MainModuleCodeBase()));

  // Inactive: the previous handler and the event still run, then the standard box.
  Recorder own;
  log->SetOnException(MakeMethod<&Recorder::Own>(&own));
  RaiseInLoop(Raise<EConvertError>("not logged"));
  EXPECT_EQ(app.calls, std::vector<String>{"previous not logged"});
  EXPECT_EQ(app.senders, std::vector<TObject*>{Application});
  EXPECT_EQ(own.calls, std::vector<String>{"own not logged"});
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].Kind, skMessageBox);
  EXPECT_EQ(Shown()[0].Text, "not logged.");
}

TEST_F(ExceptionProcessing, AtDesignTimeNothingIsInstalledOrRemoved) {
  Recorder app;
  const TExceptionEvent previous = MakeMethod<&Recorder::Previous>(&app);
  Application->SetOnException(previous);
  TComponent designer(nullptr);
  designer.SetDesigning(true);
  {
    auto* log = new TZTExceptionLog(&designer);
    EXPECT_TRUE(log->ComponentState().Contains(csDesigning));
    EXPECT_EQ(Application->OnException(), previous);
    delete log;
  }
  EXPECT_EQ(Application->OnException(), previous);
}

TEST_F(ExceptionProcessing, TwoLoggersBothProcessEveryExceptionPreviousFirst) {
  auto first = NewLog("first.log");
  auto second = NewLog("second.log");
  Recorder r1, r2;
  first->SetOnException(MakeMethod<&Recorder::Own>(&r1));
  second->SetOnException(MakeMethod<&Recorder::Own>(&r2));
  first->SetOnSaveException(MakeMethod<&Recorder::Save>(&r2));  // shared record gives the order
  second->SetOnSaveException(MakeMethod<&Recorder::Save>(&r2));
  RaiseInLoop(Raise<EConvertError>("one"));
  RaiseInLoop(Raise<EConvertError>("two"));
  EXPECT_EQ(r1.calls, (std::vector<String>{"own one", "own two"}));
  // The second logger calls the first (its previous handler) before its own work.
  EXPECT_EQ(r2.calls, (std::vector<String>{"save one", "own one", "save one", "save two", "own two", "save two"}));
  EXPECT_EQ(r2.senders[0], Application);
  EXPECT_NE(LogText("first.log").find("Message: "), String::npos);
  EXPECT_EQ(LogText("first.log"), LogText("second.log"));
  EXPECT_TRUE(Shown().empty());
}

TEST_F(ExceptionProcessing, DestroyingTheTopLoggerPutsBackThePreviousHandler) {
  Recorder app;
  const TExceptionEvent original = MakeMethod<&Recorder::Previous>(&app);
  Application->SetOnException(original);
  auto first = NewLog("first.log");
  auto second = NewLog("second.log");
  second.reset();
  EXPECT_EQ(Application->OnException().Data(), first.get());
  RaiseInLoop(Raise<EConvertError>("after"));
  EXPECT_TRUE(LogExists("first.log"));
  EXPECT_EQ(app.calls, std::vector<String>{"previous after"});
  first.reset();
  EXPECT_EQ(Application->OnException(), original);
}

TEST_F(ExceptionProcessing, DestroyingALoggerWithAnotherOnTopEmptiesTheSlot) {
  auto first = NewLog("first.log");
  auto second = NewLog("second.log");
  first.reset();
  // The second still holds the first as its previous handler: it must not be called.
  EXPECT_FALSE(Application->OnException());
  RaiseInLoop(Raise<EConvertError>("unhandled"));
  EXPECT_FALSE(LogExists("second.log"));
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].Text, "unhandled.");
}

// ---------------------------------------------------------------- the filter

struct FilterCase {
  const char* name;
  std::function<void()> raise;
  std::function<void(TZTExceptionLog&)> configure;
  bool processed;
};

class ExceptionFilter : public ExceptionProcessing, public ::testing::WithParamInterface<FilterCase> {};

template <typename E>
FilterCase Standard(const char* name, TZTExceptionStandard removed, bool processed) {
  return {name, Raise<E>(), [removed](TZTExceptionLog& l) {
            auto f = l.FilterStandard();
            f.Exclude(removed);
            l.SetFilterStandard(f);
          },
          processed};
}

template <typename E>
FilterCase Classes(const char* name, TZTExceptionClass removed, bool processed) {
  return {name, Raise<E>(), [removed](TZTExceptionLog& l) {
            auto f = l.FilterClasses();
            f.Exclude(removed);
            l.SetFilterClasses(f);
          },
          processed};
}

void ClearAllFilters(TZTExceptionLog& l) {
  l.SetFilterStandard({});
  l.SetFilterClasses({});
  l.SetFilterGraphics({});
}

TEST_P(ExceptionFilter, TheFirstMatchingClassDecides) {
  const FilterCase& c = GetParam();
  auto log = NewLog();
  c.configure(*log);
  RaiseInLoop(c.raise);
  EXPECT_EQ(LogExists(), c.processed);
  // A rejected exception gets the standard box instead.
  EXPECT_EQ(Shown().size(), c.processed ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Families, ExceptionFilter,
    ::testing::Values(
        Standard<EDivByZero>("DivByZeroWithoutItsOwnElement", efDivByZero, true),
        Standard<EDivByZero>("DivByZeroWithoutIntError", efIntError, false),
        Standard<ERangeError>("RangeErrorWithoutIntError", efIntError, false),
        Standard<ERangeError>("RangeErrorWithoutItsOwnElement", efRangeError, true),
        Standard<EIntOverflow>("IntOverflowWithoutIntError", efIntError, false),
        Standard<EInvalidOp>("InvalidOpWithoutMathError", efMathError, false),
        Standard<EZeroDivide>("ZeroDivideWithoutMathError", efMathError, false),
        Standard<EOverflow>("OverflowWithoutItsOwnElement", efOverflow, true),
        Standard<EUnderflow>("UnderflowWithoutMathError", efMathError, false),
        Standard<EOutOfResources>("OutOfResourcesWithoutOutOfMemory", efOutOfMemory, false),
        Classes<EOutOfResources>("OutOfResourcesWithoutItsOwnElement", efOutOfResources, true),
        Standard<EAccessViolation>("AccessViolationRemoved", efAccessViolation, false),
        Standard<EWin32Error>("Win32ErrorRemoved", efWin32Error, false),
        Classes<EFCreateError>("FCreateErrorWithoutStreamError", efStreamError, false),
        Classes<EFOpenError>("FOpenErrorWithoutItsOwnElement", efFOpenError, true),
        Classes<EFilerError>("FilerErrorWithoutStreamError", efStreamError, false),
        Classes<EReadError>("ReadErrorWithoutFilerError", efFilerError, true),
        Classes<EWriteError>("WriteErrorWithoutStreamError", efStreamError, false),
        Classes<EClassNotFound>("ClassNotFoundWithoutStreamError", efStreamError, false),
        Classes<EMethodNotFound>("MethodNotFoundWithoutStreamError", efStreamError, false),
        Classes<EInvalidImage>("InvalidImageWithoutStreamError", efStreamError, false),
        Classes<EInvalidOperation>("InvalidOperationRemoved", efInvalidOperation, false),
        FilterCase{"InvalidGraphicRemoved", Raise<EInvalidGraphic>(),
                   [](TZTExceptionLog& l) { l.SetFilterGraphics({efInvalidGraphicOperation}); }, false},
        FilterCase{"InvalidGraphicOperationKept", Raise<EInvalidGraphicOperation>(),
                   [](TZTExceptionLog& l) { l.SetFilterGraphics({efInvalidGraphicOperation}); }, true},
        FilterCase{"OwnClassWithEveryFilterEmpty", Raise<EOrderRejected>(), ClearAllFilters, true},
        FilterCase{"ForeignExceptionWithEveryFilterEmpty", [] { throw std::runtime_error("plain"); },
                   ClearAllFilters, true},
        FilterCase{"BaseExceptionClassWithEveryFilterEmpty", Raise<Exception>(), ClearAllFilters, true},
        FilterCase{"ExternalButNoneOfItsElements", Raise<EExternal>(), ClearAllFilters, true}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return String(info.param.name); });

// ---------------------------------------------------------------- writing and telling the user

TEST_F(ExceptionProcessing, OnSaveExceptionSeesTheReportAndMayEditOrVetoIt) {
  auto log = NewLog();
  Recorder r;
  log->SetOnSaveException(MakeMethod<&Recorder::Save>(&r));
  const String edited = "edited report";
  r.replacement = &edited;
  RaiseInLoop(Raise<EConvertError>("first"));
  EXPECT_EQ(LogText(), edited);
  ASSERT_EQ(r.offered.size(), 1u);
  EXPECT_NE(r.offered[0].find("Message: Exception EConvertError in module"), String::npos);
  EXPECT_EQ(r.senders, std::vector<TObject*>{Application});

  r.replacement = nullptr;
  r.accept = false;
  log->SetErrorDialog(edStandard);
  RaiseInLoop(Raise<EConvertError>("vetoed"));
  EXPECT_EQ(LogText(), edited);  // nothing more written
  ASSERT_EQ(Shown().size(), 1u);  // the user is still told
  EXPECT_EQ(Shown()[0].Text, "vetoed.");
}

TEST_F(ExceptionProcessing, WithoutALogFileNothingIsComposedButTheUserIsTold) {
  auto log = NewLog();
  log->SetLogFile("");
  Recorder r;
  log->SetOnSaveException(MakeMethod<&Recorder::Save>(&r));
  log->SetOnException(MakeMethod<&Recorder::Own>(&r));
  RaiseInLoop(Raise<EConvertError>("silent"));
  EXPECT_EQ(r.calls, std::vector<String>{"own silent"});  // no save call
  EXPECT_TRUE(Shown().empty());                          // edNone

  log->SetErrorDialog(edStandard);
  RaiseInLoop(Raise<EConvertError>("boxed"));
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].Kind, skMessageBox);
  EXPECT_EQ(Shown()[0].Icon, MB_ICONSTOP);
}

TEST_F(ExceptionProcessing, EmptyFormatsWriteALineBreakInTextAndNothingInXML) {
  auto log = NewLog();
  log->SetFormats({});
  RaiseInLoop(Raise<EConvertError>());
  EXPECT_EQ(LogText(), "\r\n");

  log.reset();
  auto xml = NewLog("errors.xml");
  SetEnumProp(xml.get(), "Formatting", "ztlfXML");
  xml->SetLogFile(dir_.File("errors.xml"));
  xml->SetFormats({});
  RaiseInLoop(Raise<EConvertError>());
  EXPECT_FALSE(LogExists("errors.xml"));

  // Text supplied by OnSaveException is written even so.
  Recorder r;
  const String supplied = "supplied";
  r.replacement = &supplied;
  xml->SetOnSaveException(MakeMethod<&Recorder::Save>(&r));
  RaiseInLoop(Raise<EConvertError>());
  EXPECT_EQ(LogText("errors.xml"), test::kXMLHeader + test::XMLElementBytes("ERROR", supplied) + test::kXMLEnd);
}

TEST_F(ExceptionProcessing, AnEmptySectionIsStillWritten) {
  // No form is active, so the control block is empty.
  auto log = NewLog();
  log->SetFormats({lfActiveControl});
  RaiseInLoop(Raise<EConvertError>());
  EXPECT_EQ(LogText(), "\r\n \r\n");

  log.reset();
  auto xml = NewLog("errors.xml");
  SetEnumProp(xml.get(), "Formatting", "ztlfXML");
  xml->SetLogFile(dir_.File("errors.xml"));
  xml->SetFormats({lfActiveControl});
  RaiseInLoop(Raise<EConvertError>());
  EXPECT_EQ(LogText("errors.xml"),
            test::kXMLHeader + test::XMLElementBytes("ERROR", "\r\n    <CONTROL></CONTROL>") + test::kXMLEnd);
}

TEST_F(ExceptionProcessing, SectionsFollowTheirFixedOrderWithClassNameAndFullAddress) {
  auto log = NewLog();
  log->SetFormats({lfExceptionClassName, lfPhysAddress, lfTime, lfDate});
  void* const address = reinterpret_cast<void*>(uintptr_t{0x00007F00DEADBEEF});
  RaiseInLoop([address] { RaiseAt(EConvertError("x"), address); });
  // The whole 64-bit address: eight digits could not hold it.
  EXPECT_EQ(LogText(), "\r\n07.12.2026 \r\n08:20:55 \r\nPhys.addr: 00007F00DEADBEEF \r\nClassname: EConvertError \r\n");
}

TEST_F(ExceptionProcessing, DateAndTimeComeFromTheClockInTheLocaleFormats) {
  FormatSettings().ShortDateFormat = "yyyy-mm-dd";
  FormatSettings().LongTimeFormat = "hh:nn";
  auto log = NewLog();
  log->SetFormats({lfDate, lfTime});
  const TDateTime before = Now();
  RaiseInLoop(Raise<EConvertError>());
  const TDateTime after = Now();
  const String text = LogText();
  const String date = FormatDateTime("yyyy-mm-dd", before), time = FormatDateTime("hh:nn", before);
  if (date != FormatDateTime("yyyy-mm-dd", after) || time != FormatDateTime("hh:nn", after))
    GTEST_SKIP() << "the minute changed during the test";
  EXPECT_EQ(text, "\r\n" + date + " \r\n" + time + " \r\n");
}

TEST_F(ExceptionProcessing, XMLValuesEscapeMarkupTheTextFormKeepsIt) {
  auto xml = NewLog("errors.xml");
  SetEnumProp(xml.get(), "Formatting", "ztlfXML");
  xml->SetLogFile(dir_.File("errors.xml"));
  xml->SetFormats({lfExceptionClassName, lfMessage});
  auto text = NewLog("errors.log");
  text->SetFormats({lfMessage});
  RaiseInLoop(Raise<EConvertError>("a < b && c > d"));

  const test::ParsedXMLLog parsed = test::ParseXMLLog(LogText("errors.xml"));
  ASSERT_TRUE(parsed.WellFormed) << parsed.Error;
  ASSERT_EQ(parsed.Elements.size(), 1u);
  EXPECT_NE(parsed.Elements[0].second.find("a < b && c > d"), String::npos);
  EXPECT_NE(LogText("errors.xml").find("a &lt; b &amp;&amp; c &gt; d</MESSAGE>"), String::npos);
  EXPECT_NE(LogText("errors.log").find(" a < b && c > d \r\n"), String::npos);
}

TEST_F(ExceptionProcessing, TheExtendedDialogShowsTheOwnMessageAndIsFreed) {
  auto log = NewLog();
  log->SetErrorDialog(edExtended);
  log->SendTo()->SetWWW("https://example.com/support");
  String memo, link;
  RaiseInLoop(Raise<EConvertError>("Order 17 has no customer"), [&] {
    HeadlessWidgetSet().PostInspect([&](TCustomForm& form) {
      auto& dialog = dynamic_cast<TfrmZTLogErrorDialog&>(form);
      memo = dialog.lblErrorText->Text();
      link = dialog.lblProductSite->Caption();
      EXPECT_EQ(dialog.Owner(), log.get());
      EXPECT_TRUE(dialog.btnEmail->Visible());
      EXPECT_TRUE(dialog.btnGoWEB->Visible());
      EXPECT_EQ(dialog.ClientHeight(), 232);
    });
  });
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].Kind, skForm);
  EXPECT_EQ(Shown()[0].Caption, "Error");
  EXPECT_FALSE(Shown()[0].Open);
  // The memo holds the exception's own message, not the platform's description.
  EXPECT_EQ(memo, "Order 17 has no customer");
  EXPECT_EQ(link, "https://example.com/support");
  EXPECT_EQ(log->ComponentCount(), 0);
  EXPECT_EQ(Screen->CustomFormCount(), 0);
  EXPECT_TRUE(LogExists());
}

TEST_F(ExceptionProcessing, ASecondExceptionWhileTheDialogIsOpenOnlyGetsTheStandardBox) {
  auto log = NewLog();
  log->SetErrorDialog(edExtended);
  Recorder r;
  log->SetOnException(MakeMethod<&Recorder::Own>(&r));
  log->SetOnSaveException(MakeMethod<&Recorder::Save>(&r));
  RaiseInLoop(Raise<EConvertError>("first"), [] {
    HeadlessWidgetSet().PostInspect([](TCustomForm&) { throw EConvertError("during the dialog"); });
  });
  EXPECT_EQ(r.calls, (std::vector<String>{"own first", "save first"}));
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_EQ(Shown()[0].Kind, skForm);
  EXPECT_EQ(Shown()[1].Kind, skMessageBox);
  EXPECT_EQ(Shown()[1].Text, "during the dialog.");
  const String oneReport = LogText();

  // Afterwards the logger processes again.
  RaiseInLoop(Raise<EConvertError>("third"));
  EXPECT_EQ(r.calls.back(), "save third");
  EXPECT_EQ(LogText().size(), 2 * oneReport.size());
}

TEST_F(ExceptionProcessing, AnErrorInsideProcessingLeavesItAndDoesNotSilenceTheLogger) {
  auto log = NewLog();
  Recorder r;
  r.throwInOwn = true;
  log->SetOnException(MakeMethod<&Recorder::Own>(&r));
  Application->QueueCall(Raise<EConvertError>("first"));
  EXPECT_THROW(Application->ProcessMessages(), EConvertError);
  EXPECT_FALSE(LogExists());

  RaiseInLoop(Raise<EConvertError>("second"));
  EXPECT_TRUE(LogExists());
  EXPECT_TRUE(Shown().empty());  // processed, not merely shown

  // A log file that cannot be written: the file layer's error leaves too.
  log->SetLogFile(dir_.File("missing/errors.log"));
  Application->QueueCall(Raise<EConvertError>("unwritable"));
  EXPECT_THROW(Application->ProcessMessages(), EStreamError);
  log->SetLogFile(dir_.File("later.log"));
  RaiseInLoop(Raise<EConvertError>("after"));
  EXPECT_TRUE(LogExists("later.log"));
}

// ---------------------------------------------------------------- source positions

// A map whose unit Orders covers the first 0x2000 bytes of code.
String OrdersMap(bool withSegments, bool withLines) {
  String text =
      " Start         Length     Name                   Class\r\n"
      " 0001:00000000 00010000H .text                   CODE\r\n\r\nDetailed map of segments\r\n\r\n";
  if (withSegments) text += " 0001:00000000 00002000 C=CODE     S=.text    G=(none)   M=Orders ACBP=A9\r\n";
  text +=
      "\r\n  Address         Publics by Name\r\n\r\n 0001:00000000       NotByValue\r\n\r\n"
      "  Address         Publics by Value\r\n\r\n\r\n"
      " 0001:00001000       Orders.Post\r\n 0001:00001800       Orders.Cancel\r\n\r\n";
  if (withLines) text += "Line numbers for Orders(Orders.pas) segment .text\r\n\r\n    41 0001:00001000    42 0001:00001010\r\n\r\n";
  return text;
}

class SourceLine : public ExceptionProcessing {
 protected:
  std::unique_ptr<TZTExceptionLog> LogWithMap(const String& map) {
    auto log = NewLog();
    test::WriteFileBytes(dir_.File("app.map"), map);
    log->MapFile()->SetMapFileName(dir_.File("app.map"));
    return log;
  }
  static void RaiseAtOffset(uint32_t offset, const std::function<void()>& whileShown = {}) {
    void* const address = reinterpret_cast<void*>(MainModuleCodeBase() + offset);
    RaiseInLoop([address] { RaiseAt(EAccessViolation("Access violation"), address); }, whileShown);
  }
};

TEST_F(SourceLine, NothingIsAnalysedUntilAnExceptionAsksForIt) {
  auto log = LogWithMap(OrdersMap(true, true));
  EXPECT_EQ(log->GetFormattedSource(), "");
  RaiseAtOffset(0x1010);  // neither lfSourceLine nor laShowSourceLine
  EXPECT_EQ(log->GetFormattedSource(), "");
}

TEST_F(SourceLine, TheLineSectionNamesUnitProcedureAndLine) {
  auto log = LogWithMap(OrdersMap(true, true));
  log->SetFormats({lfSourceLine});
  RaiseAtOffset(0x1010);
  const String expected = "\r\nUnit: Orders\r\nProcedure: Orders.Post\r\nLine No: 42";
  EXPECT_EQ(log->GetFormattedSource(), expected);
  EXPECT_EQ(LogText(), "\r\n" + expected + " \r\n");
}

TEST_F(SourceLine, OnlyAProcedureGivesOneLineWithItsBreak) {
  auto log = LogWithMap(OrdersMap(false, false));
  log->SetOptions({laShowSourceLine});
  log->SetFormats({});
  RaiseAtOffset(0x1004);
  EXPECT_EQ(log->GetFormattedSource(), "\r\nProcedure: Orders.Post\r\n");
}

TEST_F(SourceLine, AMissingMapStillAnalysesToASingleLineBreak) {
  auto log = NewLog();
  log->MapFile()->SetMapFileName(dir_.File("none.map"));
  log->SetFormats({lfSourceLine});
  RaiseInLoop(Raise<EConvertError>());
  EXPECT_EQ(log->GetFormattedSource(), "\r\n");
  EXPECT_EQ(LogText(), "\r\n\r\n \r\n");
}

TEST_F(SourceLine, WithoutAMapReaderTheSourceIsEmptyAndTheReportStillWritten) {
  auto log = NewLog();
  delete log->MapFile();
  log->SetMapFile(nullptr);
  log->SetFormats({lfSourceLine});
  RaiseInLoop(Raise<EConvertError>());
  EXPECT_EQ(log->GetFormattedSource(), "");
  EXPECT_EQ(LogText(), "\r\n \r\n");
}

TEST_F(SourceLine, TheDialogShowsTheSourceOnlyWithShowSourceLine) {
  auto log = LogWithMap(OrdersMap(true, true));
  log->SetErrorDialog(edExtended);
  String memo;
  auto inspect = [&](TCustomForm& form) { memo = dynamic_cast<TfrmZTLogErrorDialog&>(form).lblErrorText->Text(); };
  auto postInspect = [&] { HeadlessWidgetSet().PostInspect(inspect); };
  log->SetFormats({lfSourceLine});
  RaiseAtOffset(0x1010, postInspect);
  EXPECT_EQ(memo, "Access violation");

  log->SetOptions({laShowSourceLine});
  RaiseAtOffset(0x1010, postInspect);
  EXPECT_EQ(memo, "Access violation\r\nUnit: Orders\r\nProcedure: Orders.Post\r\nLine No: 42");
}

}  // namespace
}  // namespace ztl
