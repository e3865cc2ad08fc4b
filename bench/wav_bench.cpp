// Load plus texts against the floor (open, read 40 bytes, close with the same
// system calls) and against libsndfile's open and close, on generated files.
#include "wavfile.h"

#include "wav_builder.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>

namespace {

struct TBenchFile {
  const char* Name;
  std::string Path;
};

std::vector<TBenchFile> Files;

void MakeFiles() {
  std::string dir = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                    "/tolvane_bench_" + std::to_string(getpid());
  TWavBuilder canonical; // data at 36: one read
  canonical.Tail = TWavBuilder::Chunk("data", 176400);
  TWavBuilder list; // a LIST chunk first: two reads and a positioning
  list.RiffSize += 34;
  list.Tail = TWavBuilder::Chunk("LIST", 26, std::vector<uint8_t>(26, 'x'));
  auto data = TWavBuilder::Chunk("data", 176400);
  list.Tail.insert(list.Tail.end(), data.begin(), data.end());
  Files = {{"canonical", dir + "_canonical.wav"}, {"list_chunk", dir + "_list.wav"}};
  canonical.WriteTo(Files[0].Path, 176400);
  list.WriteTo(Files[1].Path, 176400);
}

void LoadAndTexts(benchmark::State& state) {
  const char* path = Files[state.range(0)].Path.c_str();
  for (auto _ : state) {
    TWAVfile wav;
    wav.LoadFromFile(path);
    TInformationTexts texts = InformationTexts(wav);
    benchmark::DoNotOptimize(texts);
  }
}

void LoadOnly(benchmark::State& state) {
  const char* path = Files[state.range(0)].Path.c_str();
  for (auto _ : state) {
    TWAVfile wav;
    benchmark::DoNotOptimize(wav.LoadFromFile(path));
  }
}

void TextsOnly(benchmark::State& state) {
  TWAVfile wav;
  wav.LoadFromFile(Files[state.range(0)].Path.c_str());
  for (auto _ : state)
    benchmark::DoNotOptimize(InformationTexts(wav));
}

void Floor(benchmark::State& state) {
  const char* path = Files[state.range(0)].Path.c_str();
  for (auto _ : state) {
    char head[40];
    int fd = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    benchmark::DoNotOptimize(read(fd, head, sizeof head));
    close(fd);
  }
}

// The floor with every call our load makes for the file: a file without
// "data" at 36 needs a positioning and a second read by design.
void FloorSameCalls(benchmark::State& state) {
  const char* path = Files[state.range(0)].Path.c_str();
  bool secondRead = state.range(0) == 1;
  for (auto _ : state) {
    char head[40], next[12];
    int fd = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    benchmark::DoNotOptimize(read(fd, head, sizeof head));
    if (secondRead) {
      benchmark::DoNotOptimize(lseek(fd, 36, SEEK_SET));
      benchmark::DoNotOptimize(read(fd, next, sizeof next));
    }
    close(fd);
  }
}

void Sndfile(benchmark::State& state) {
  const char* path = Files[state.range(0)].Path.c_str();
  for (auto _ : state) {
    SF_INFO info = {};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (!file) {
      state.SkipWithError("sf_open failed");
      break;
    }
    benchmark::DoNotOptimize(info.frames);
    sf_close(file);
  }
}

// Other work on the machine only ever adds time, so the fastest repetition is
// the one least disturbed.
double Fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

BENCHMARK(LoadAndTexts)->Arg(0)->Arg(1)->ComputeStatistics("min", Fastest);
BENCHMARK(LoadOnly)->Arg(0)->Arg(1)->ComputeStatistics("min", Fastest);
BENCHMARK(TextsOnly)->Arg(0)->Arg(1)->ComputeStatistics("min", Fastest);
BENCHMARK(Floor)->Arg(0)->Arg(1)->ComputeStatistics("min", Fastest);
BENCHMARK(FloorSameCalls)->Arg(1)->ComputeStatistics("min", Fastest);
BENCHMARK(Sndfile)->Arg(0)->Arg(1)->ComputeStatistics("min", Fastest);

// Keeps each benchmark's fastest repetition's time per iteration (ns) for the
// ratios.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min" && !run.error_occurred)
        Times[run.run_name.str()] = run.GetAdjustedRealTime();
  }
  std::map<std::string, double> Times;
};

} // namespace

int main(int argc, char** argv) {
  // The machine is shared: repetitions in random order spread a passing load
  // over ours and the floor alike.
  // Options given on the command line come later and win.
  std::vector<char*> args(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=5";
  char interleaving[] = "--benchmark_enable_random_interleaving=true";
  char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
  args.insert(args.begin() + 1, {repetitions, interleaving, aggregatesOnly});
  int count = int(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  MakeFiles();
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-12s %12s %12s %12s %10s %14s %10s %16s\n", "file", "ours (ns)", "floor (ns)",
              "sndfile (ns)", "ours/floor", "ours/sndfile", "load/floor", "ours/same calls");
  for (size_t i = 0; i < Files.size(); ++i) {
    std::string arg = "/" + std::to_string(i);
    auto time = [&](const char* name) {
      auto it = reporter.Times.find(name + arg);
      return it == reporter.Times.end() ? 0.0 : it->second;
    };
    double ours = time("LoadAndTexts"), load = time("LoadOnly"), floor = time("Floor"),
           sndfile = time("Sndfile");
    // The canonical file's load makes the floor's calls exactly.
    double sameCalls = i == 0 ? floor : time("FloorSameCalls");
    if (ours > 0 && load > 0 && floor > 0 && sndfile > 0 && sameCalls > 0)
      std::printf("%-12s %12.0f %12.0f %12.0f %10.2f %14.3f %10.2f %16.2f\n", Files[i].Name, ours,
                  floor, sndfile, ours / floor, ours / sndfile, load / floor, ours / sameCalls);
  }
  for (const TBenchFile& f : Files)
    std::remove(f.Path.c_str());
  benchmark::Shutdown();
  return 0;
}
