// Rows of test tables by their names. A row prints as its Name member, in
// test output and in the names ctest gives parameterised cases, which would
// otherwise hold the row's bytes, addresses included, and differ between
// builds and architectures; TCaseName names each instance after its row.
// Headers only: the native wavfile tests use it too.
#pragma once

#include <ostream>
#include <string>

namespace {
template <typename TCase>
auto operator<<(std::ostream& os, const TCase& c) -> decltype(os << c.Name) {
  return os << c.Name;
}
} // namespace

struct TCaseName {
  template <typename TInfo> std::string operator()(const TInfo& info) const {
    return info.param.Name;
  }
};
