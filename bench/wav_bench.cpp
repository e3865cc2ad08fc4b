// Load plus texts against the floor (open, read 40 bytes, close with the same
// system calls) and against libsndfile's open and close, on generated files.
#include "wavfile.h"

#include "wav_builder.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

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

BENCHMARK(LoadAndTexts)->Arg(0)->Arg(1);
BENCHMARK(LoadOnly)->Arg(0)->Arg(1);
BENCHMARK(TextsOnly)->Arg(0)->Arg(1);
BENCHMARK(Floor)->Arg(0)->Arg(1);
BENCHMARK(Sndfile)->Arg(0)->Arg(1);

// Keeps each run's time per iteration (ns) for the ratios.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        Times[run.benchmark_name()] = run.GetAdjustedRealTime();
  }
  std::map<std::string, double> Times;
};

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  MakeFiles();
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-12s %12s %12s %12s %10s %14s %10s\n", "file", "ours (ns)", "floor (ns)",
              "sndfile (ns)", "ours/floor", "ours/sndfile", "load/floor");
  for (size_t i = 0; i < Files.size(); ++i) {
    std::string arg = "/" + std::to_string(i);
    auto time = [&](const char* name) {
      auto it = reporter.Times.find(name + arg);
      return it == reporter.Times.end() ? 0.0 : it->second;
    };
    double ours = time("LoadAndTexts"), load = time("LoadOnly"), floor = time("Floor"),
           sndfile = time("Sndfile");
    if (ours > 0 && load > 0 && floor > 0 && sndfile > 0)
      std::printf("%-12s %12.0f %12.0f %12.0f %10.2f %14.3f %10.2f\n", Files[i].Name, ours, floor,
                  sndfile, ours / floor, ours / sndfile, load / floor);
  }
  for (const TBenchFile& f : Files)
    std::remove(f.Path.c_str());
  benchmark::Shutdown();
  return 0;
}
