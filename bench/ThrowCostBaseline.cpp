// The throw-cost benchmark's floor: the same throws in a program that does
// not load the library, so the C++ runtime's own __cxa_throw is used.
// Usage: ThrowCostBaseline BATCHES; prints the processor time in
// nanoseconds the batches took after one warm-up batch.
#include <ctime>
#include <cstdio>
#include <cstdlib>

#include "ThrowLoop.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ThrowCostBaseline BATCHES\n");
    return 2;
  }
  const long batches = std::strtol(argv[1], nullptr, 10);
  volatile unsigned long sink = 0;
  for (int i = 0; i < ztl::bench::kThrowsPerBatch; ++i) sink = sink + ztl::bench::ThrowAndCatch();
  const std::clock_t start = std::clock();
  for (long b = 0; b < batches; ++b)
    for (int i = 0; i < ztl::bench::kThrowsPerBatch; ++i) sink = sink + ztl::bench::ThrowAndCatch();
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  std::printf("%lld\n", static_cast<long long>(seconds * 1e9));
  return 0;
}
