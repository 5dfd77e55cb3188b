// The exception logger in the application's message loop: installing and
// chaining handlers, writing reports and telling the user. The class filter
// and the source positions have files of their own.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/core/LogFiles.h"
#include "tests/exceptionlog/ExceptionProcessing.h"
#include "tests/support/TestDir.h"
#include <ztlogger/exceptionlog/LogDlg.h>
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/forms/HeadlessWidgetSet.h>
#include <ztlogger/platform/forms/Testing.h>
#include <ztlogger/platform/os/Modules.h>
#include <ztlogger/platform/os/SysInfo.h>
#include <ztlogger/platform/rtl/DateUtils.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/SysUtils.h>
#include <ztlogger/platform/rtl/Testing.h>

namespace ztl {
namespace {

using test::ReadFileBytes;
using test::TestDir;
using test::ExceptionProcessing;
using test::Raise;

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
  // The error leaves the processing and is shown the standard way; the loop
  // goes on.
  RaiseInLoop(Raise<EConvertError>("first"));
  EXPECT_FALSE(LogExists());
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].Text, "handler failed.");

  RaiseInLoop(Raise<EConvertError>("second"));
  EXPECT_TRUE(LogExists());
  EXPECT_EQ(Shown().size(), 1u);  // processed, not merely shown

  // A log file that cannot be written: the file layer's error leaves too.
  log->SetLogFile(dir_.File("missing/errors.log"));
  RaiseInLoop(Raise<EConvertError>("unwritable"));
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_NE(Shown()[1].Text.find("missing/errors.log"), String::npos) << Shown()[1].Text;
  log->SetLogFile(dir_.File("later.log"));
  RaiseInLoop(Raise<EConvertError>("after"));
  EXPECT_TRUE(LogExists("later.log"));
}

}  // namespace
}  // namespace ztl
