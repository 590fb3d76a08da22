// createFrameData on a 1920x1080 screen-like frame against a memcpy of the
// same pixel bytes in the same binary. Prints the ratio of the medians.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "screen_frame.h"
#include "screenvideo/encoder.h"

namespace {

constexpr std::uint32_t kW = 1920, kH = 1080;

void BM_memcpyPixels(benchmark::State& state) {
  const auto pixels = screenFrame(kW, kH, 1);
  std::vector<std::uint8_t> copy(pixels.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), pixels.data(), pixels.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pixels.size()));
}

void BM_createFrameData(benchmark::State& state) {
  const auto pixels = screenFrame(kW, kH, 1);
  std::vector<std::uint8_t> frame(codedFrameSize(kW, kH));
  for (auto _ : state) {
    benchmark::DoNotOptimize(createFrameData(pixels.data(), kW, kH, frame.data(), frame.size()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pixels.size()));
}

BENCHMARK(BM_memcpyPixels)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly(true);
BENCHMARK(BM_createFrameData)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly(true);

// Keeps the medians so the ratio can be printed after the usual table.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> medians;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.aggregate_name == "median") medians[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double base = reporter.medians["BM_memcpyPixels"];
  const double enc = reporter.medians["BM_createFrameData"];
  if (base > 0 && enc > 0) {
    std::printf("\ncreateFrameData 1920x1080: median %.3f ms, memcpy median %.3f ms, ratio %.2fx\n", enc, base,
                enc / base);
  }
  benchmark::Shutdown();
  return 0;
}
