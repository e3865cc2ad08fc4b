// What the wavfile tests share: their files, a few header pieces, and names
// for the rows of their tables.
#pragma once

#include "case_name.h"
#include "temp_files.h"

#include <vector>

inline std::vector<uint8_t> Le32(uint32_t value) {
  std::vector<uint8_t> b;
  TWavBuilder::Put32(b, value);
  return b;
}

inline std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A fmt chunk of 18 bytes (cbSize 0), then a fact chunk, then "data".
inline TWavBuilder FactBuilder(uint32_t sampleCount) {
  TWavBuilder b;
  b.FmtSize = 18;
  b.Tail = Join(Join({0, 0}, TWavBuilder::Chunk("fact", 4, Le32(sampleCount))),
                TWavBuilder::Chunk("data", 0));
  return b;
}
