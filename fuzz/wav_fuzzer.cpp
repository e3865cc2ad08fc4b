// Fuzz target: the input becomes a file, which the reader loads and the texts
// describe. The result is checked against the invariants and against a model
// of the header computed straight from the input bytes.
#include "wavfile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

const std::string& InputPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string p = std::string(dir && *dir ? dir : "/tmp") + "/tolvane_fuzz_" +
                    std::to_string(getpid()) + ".wav";
    std::atexit([] { std::remove(InputPath().c_str()); });
    return p;
  }();
  return path;
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct TModel {
  bool Read = false, Valid = false;
  int32_t SampleCount = 0;
  uint16_t HeaderSize = 0;
  uint32_t FileSize = 0;
};

TModel Model(const uint8_t* d, size_t n) {
  TModel m;
  if (n < 40)
    return m;
  uint32_t fmtSize = Get32(d + 16);
  bool data = std::memcmp(d + 36, "data", 4) == 0;
  bool fact = false;
  if (!data) {
    uint32_t position = fmtSize + 20u;
    if (position >= 0x80000000u || position + uint64_t(12) > n)
      return m;
    fact = std::memcmp(d + position, "fact", 4) == 0;
    if (fact)
      m.SampleCount = int32_t(Get32(d + position + 8));
  }
  m.Read = true;
  unsigned channels = d[22] | d[23] << 8;
  m.Valid = !std::memcmp(d, "RIFF", 4) && !std::memcmp(d + 8, "WAVE", 4) &&
            !std::memcmp(d + 12, "fmt ", 4) && (channels == 1 || channels == 2);
  if (!m.Valid) {
    m.SampleCount = 0;
    return m;
  }
  m.HeaderSize = data ? 44 : uint16_t(fmtSize + 40u);
  m.FileSize = Get32(d + 4) + 8u;
  if (m.FileSize < m.HeaderSize)
    m.HeaderSize = uint16_t(m.FileSize);
  return m;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputPath();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f)
    return 0;
  bool written = std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !written)
    return 0;

  TWAVfile wav;
  bool read = wav.LoadFromFile(path.c_str());
  TInformationTexts texts = InformationTexts(wav);
  double duration = wav.Duration();

  TModel model = Model(data, size);
  Check(read == model.Read, "read result as the model says");
  Check(wav.Valid == model.Valid, "Valid as the model says");
  Check(wav.SampleCount == model.SampleCount, "SampleCount as the model says");
  Check(wav.HeaderSize == model.HeaderSize, "HeaderSize as the model says");
  Check(wav.FileSize == model.FileSize, "FileSize as the model says");
  if (!wav.Valid) {
    Check(wav.FormatTag == 0 && wav.ChannelCount == 0 && wav.SampleRate == 0 &&
              wav.BytesPerSecond == 0 && wav.BlockAlign == 0 && wav.BitsPerSample == 0 &&
              wav.SampleCount == 0 && wav.HeaderSize == 0 && wav.FileSize == 0,
          "not valid: every value 0");
    Check(duration == 0, "not valid: duration 0");
  } else {
    Check(wav.ChannelCount == 1 || wav.ChannelCount == 2, "valid: 1 or 2 channels");
    Check(wav.HeaderSize <= wav.FileSize, "valid: HeaderSize <= FileSize");
  }
  Check(std::isfinite(duration) && duration >= 0, "duration finite and >= 0");
  Check(texts[6].size() >= 10 && texts[6].compare(texts[6].size() - 8, 8, " seconds") == 0,
        "duration text ends in \" seconds\"");
  Check(texts[3].size() > 3 && texts[3].compare(texts[3].size() - 3, 3, " Hz") == 0,
        "sample rate text ends in \" Hz\"");
  return 0;
}
