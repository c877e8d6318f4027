// qxbench: what the worker's unscramble and verify of one image costs next to a plain
// copy of the same 131072 bytes. Both run in one process, and the last line says
// how many copies one verify is worth, so the figure does not depend on the machine
// the way the times themselves do.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <ostream>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "update/DownloadWorker.h"
#include "update/FirmwareImage.h"
#include "update/ImageTable.h"

namespace qx {
namespace {

constexpr char kVerifyName[] = "BM_UnscrambleAndVerify";
constexpr char kCopyName[] = "BM_Memcpy";

// The worker's steps before its first command: unscramble the stored image into
// `plain`, sum its lanes and hold them against the image's checksum row.
bool UnscrambleAndVerify(const ImageTable& images, int index, std::uint8_t* plain) {
  const FirmwareImage& image = images.Image(index);
  Unscramble(image.storedBytes, *images.unscrambleTable, plain, kImageSize);
  std::array<std::uint32_t, 13> sums = LaneSums(plain, kImageSize);
  for (int lane = 0; lane < kLaneCount; ++lane) {
    if (sums[lane] != image.checksumRow[lane]) return false;
  }
  return true;
}

void BM_UnscrambleAndVerify(benchmark::State& state) {
  const ImageTable& images = BuiltInImages();
  std::vector<std::uint8_t> plain(kImageSize);
  for (auto _ : state) {
    bool verified = UnscrambleAndVerify(images, 0, plain.data());
    benchmark::DoNotOptimize(verified);
    benchmark::ClobberMemory();
    if (!verified) {
      state.SkipWithError("the built-in image does not verify");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kImageSize));
}
BENCHMARK(BM_UnscrambleAndVerify);

void BM_Memcpy(benchmark::State& state) {
  const std::uint8_t* stored = BuiltInImages().Image(0).storedBytes;
  std::vector<std::uint8_t> copy(kImageSize);
  for (auto _ : state) {
    std::memcpy(copy.data(), stored, kImageSize);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kImageSize));
}
BENCHMARK(BM_Memcpy);

// The usual table, then the ratio of the two benchmarks' processor times per
// iteration (the fastest repetition of each).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(bool color)
      : ConsoleReporter(color ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) failed = true;
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations <= 0) continue;
      double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
      auto found = fastest.find(run.run_name.function_name);
      if (found == fastest.end() || seconds < found->second) {
        fastest[run.run_name.function_name] = seconds;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    auto verify = fastest.find(kVerifyName);
    auto copy = fastest.find(kCopyName);
    if (verify == fastest.end() || copy == fastest.end() || copy->second <= 0) return;
    ratio = verify->second / copy->second;
    char line[160];
    std::snprintf(line, sizeof line, "ratio %s/%s: %.2f (%.1f us and %.1f us per %u bytes)\n",
                  kVerifyName, kCopyName, ratio, verify->second * 1e6, copy->second * 1e6,
                  static_cast<unsigned>(kImageSize));
    GetOutputStream() << line << std::flush;
  }

  bool Failed() const { return failed; }
  double Ratio() const { return ratio; }

 private:
  std::map<std::string, double> fastest;
  bool failed = false;
  double ratio = 0;
};

}  // namespace
}  // namespace qx

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  // Colours only for a terminal: scripts read the lines.
  qx::RatioReporter reporter(isatty(STDOUT_FILENO) != 0);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  // A verify that failed gives no figure worth printing as one.
  if (reporter.Failed()) return 1;
  return 0;
}
