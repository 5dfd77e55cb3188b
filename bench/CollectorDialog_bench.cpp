// Nothing waits on the network where the user waits: the time from an
// exception to its error dialog (raised in the message loop, the report
// written, the extended dialog shown and, headless, closed at once) with a
// collector set that cannot be reached, against the same without a
// collector, in the same run. The collector's queue and the log live in the
// benchmark's scratch folder.
#include <benchmark/benchmark.h>

#include <memory>

#include "BenchSupport.h"
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/forms/Forms.h>

namespace {

using namespace ztl;

void TimeExceptionToDialog(benchmark::State& state, bool withCollector) {
  bench::ScratchDir scratch(true);
  auto log = std::make_unique<TZTExceptionLog>(nullptr);
  log->SetLogFile(scratch.Path() + "/errors.log");
  log->SetErrorDialog(edExtended);
  // Port 9 (discard) on the loopback address: nothing answers there.
  if (withCollector) log->SendTo()->SetCollector("http://benchkey@127.0.0.1:9/1");
  log->SetActive(true);
  for (auto _ : state) {
    Application->QueueCall([] { throw EConvertError("not a number"); });
    Application->ProcessMessages();
  }
}

void BM_ExceptionToDialog_NoCollector(benchmark::State& state) { TimeExceptionToDialog(state, false); }
BENCHMARK(BM_ExceptionToDialog_NoCollector)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_ExceptionToDialog_UnreachableCollector(benchmark::State& state) { TimeExceptionToDialog(state, true); }
BENCHMARK(BM_ExceptionToDialog_UnreachableCollector)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
