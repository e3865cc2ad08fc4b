#include "registration.h"

#include <gtest/gtest.h>

#include "exceptions.h"
#include "test_classes.h"

namespace {

struct TClassIdCase {
  CLSID ClassId;
  const char* Text;
};
void PrintTo(const TClassIdCase& c, std::ostream* os) {
  *os << c.Text;
}

class ClassIdToTextTest : public ::testing::TestWithParam<TClassIdCase> {};

TEST_P(ClassIdToTextTest, GivesThirtyEightCharactersWithUpperCaseDigitsInBraces) {
  EXPECT_EQ(ClassIdToText(GetParam().ClassId), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    ClassIds, ClassIdToTextTest,
    ::testing::Values(
        TClassIdCase{{0x241173B6, 0xABDF, 0x4D59, {0x8A, 0x15, 0x47, 0x6F, 0x7A, 0x32, 0x76, 0x75}},
                     "{241173B6-ABDF-4D59-8A15-476F7A327675}"},
        TClassIdCase{{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}, "{00000000-0000-0000-0000-000000000000}"},
        TClassIdCase{{0xFEDCBA98, 0x7654, 0x3210, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}},
                     "{FEDCBA98-7654-3210-ABCD-EF0123456789}"}));

TEST_F(RegistrySandboxTest, CreateClassesKeyStoresTheTextWithItsTerminatingZero) {
  CreateClassesKey("Alpha\\Beta", "Name", "Value text");
  CreateClassesKey("Alpha\\Beta", "", "Default text");
  CreateClassesKey("Alpha", "Empty", "");

  // A REG_SZ (1) without its zero would read "(no NUL)".
  EXPECT_EQ(Tree(), Sorted({"Alpha\\Beta|Name|1|Value text", "Alpha\\Beta||1|Default text",
                            "Alpha|Empty|1|"}));
}

TEST_F(RegistrySandboxTest, CreateClassesKeyThatCannotCreateTheKeyRaisesTheRegistryEntryError) {
  const std::string tooLong(300, 'k'); // key names have at most 255 characters
  try {
    CreateClassesKey("Alpha\\" + tooLong, "", "text");
    ADD_FAILURE() << "nothing raised";
  } catch (const EOleSysError&) {
    ADD_FAILURE() << "raised EOleSysError instead of EOleError";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Message(), "Error creating system registry entry");
  }
  EXPECT_TRUE(Tree().empty());
}

TEST_F(RegistrySandboxTest, DeleteClassesKeyDeletesTheKeyAndNeverRaises) {
  CreateKey(HKEY_CLASSES_ROOT, "Alpha\\Beta");
  CreateKey(HKEY_CLASSES_ROOT, "Gamma\\Delta");
  DeleteClassesKey("Alpha\\Beta");
  EXPECT_NO_THROW(DeleteClassesKey("Alpha\\Beta"));
  EXPECT_NO_THROW(DeleteClassesKey("Nowhere\\At all"));
  EXPECT_NO_THROW(DeleteClassesKey("Gamma")); // has a subkey: stays
  EXPECT_EQ(Tree(), Sorted({"Alpha|", "Gamma|", "Gamma\\Delta|"}));
}

} // namespace
