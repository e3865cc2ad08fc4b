#include "exceptions.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

namespace {

// The system's own text for a code, as FormatMessageA gives it.
std::string RawSystemMessage(DWORD code) {
  char buffer[256];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, sizeof buffer, nullptr);
  return std::string(buffer, length);
}

class EOleSysErrorKnownCodeTest : public ::testing::TestWithParam<HRESULT> {};

TEST_P(EOleSysErrorKnownCodeTest, GetsTheSystemTextWithoutItsClosingFullStopAndLineBreak) {
  const HRESULT code = GetParam();
  const std::string raw = RawSystemMessage(static_cast<DWORD>(code));
  ASSERT_GE(raw.size(), 4u);
  ASSERT_EQ(raw.substr(raw.size() - 3), ".\r\n"); // what the system closes its texts with

  EOleSysError e("", code);
  EXPECT_EQ(e.Message(), raw.substr(0, raw.size() - 3));
  EXPECT_EQ(e.ResultCode, code);
}

INSTANTIATE_TEST_SUITE_P(Codes, EOleSysErrorKnownCodeTest,
                         ::testing::Values(static_cast<HRESULT>(ERROR_FILE_NOT_FOUND), E_FAIL,
                                           E_OUTOFMEMORY, E_ACCESSDENIED));

struct TUnknownCodeCase {
  HRESULT Code;
  const char* Message;
};
void PrintTo(const TUnknownCodeCase& c, std::ostream* os) {
  *os << c.Message;
}

class EOleSysErrorUnknownCodeTest : public ::testing::TestWithParam<TUnknownCodeCase> {};

TEST_P(EOleSysErrorUnknownCodeTest, GetsTheCodeAsEightUpperCaseHexDigits) {
  ASSERT_EQ(RawSystemMessage(static_cast<DWORD>(GetParam().Code)), "");
  EOleSysError e("", GetParam().Code);
  EXPECT_EQ(e.Message(), GetParam().Message);
  EXPECT_EQ(e.ResultCode, GetParam().Code);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, EOleSysErrorUnknownCodeTest,
    ::testing::Values(TUnknownCodeCase{static_cast<HRESULT>(0xA00BCDEF), "OLE error A00BCDEF"},
                      TUnknownCodeCase{static_cast<HRESULT>(0x0000ABCD), "OLE error 0000ABCD"},
                      TUnknownCodeCase{static_cast<HRESULT>(0x8004FF3E), "OLE error 8004FF3E"}));

TEST(CheckOleResultTest, SuccessCodesPass) {
  for (HRESULT code :
       {S_OK, S_FALSE, static_cast<HRESULT>(0x00040000), static_cast<HRESULT>(0x7FFFFFFF)})
    EXPECT_NO_THROW(CheckOleResult(code)) << std::hex << code;
}

TEST(CheckOleResultTest, AFailureCodeRaisesEOleSysErrorWithThatCode) {
  for (HRESULT code : {E_FAIL /* 0x80004005 */, E_NOINTERFACE, static_cast<HRESULT>(0x80000000)}) {
    try {
      CheckOleResult(code);
      ADD_FAILURE() << "nothing raised for " << std::hex << code;
    } catch (const EOleSysError& e) {
      EXPECT_EQ(e.ResultCode, code);
      EXPECT_FALSE(e.Message().empty());
      EXPECT_EQ(e.HelpContext(), 0);
    }
  }
}

template <class Raise> std::optional<std::string> MessageOf(Raise raise) {
  try {
    raise();
  } catch (...) {
    return CurrentExceptionMessage();
  }
  ADD_FAILURE() << "nothing raised";
  return std::nullopt;
}

TEST(CurrentExceptionMessageTest, GivesTheMessageOfEveryExceptionOfTheHierarchy) {
  EXPECT_EQ(MessageOf([] { throw Exception("plain"); }), "plain");
  EXPECT_EQ(MessageOf([] { throw EOleError("frame"); }), "frame");
  EXPECT_EQ(MessageOf([] { throw EOleSysError("system", E_FAIL); }), "system");
  EXPECT_EQ(MessageOf([] { throw Exception(""); }), "");
}

TEST(CurrentExceptionMessageTest, RunningOutOfMemoryReadsOutOfMemory) {
  EXPECT_EQ(MessageOf([] { throw std::bad_alloc(); }), "Out of memory");
}

TEST(CurrentExceptionMessageTest, ForeignExceptionsHaveNoMessage) {
  EXPECT_EQ(MessageOf([] { throw std::runtime_error("foreign"); }), std::nullopt);
  EXPECT_EQ(MessageOf([] { throw 7; }), std::nullopt);
}

} // namespace
