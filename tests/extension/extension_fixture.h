// What every extension test runs in: a fresh server and factory, captured
// message boxes, the pcRefParent stand-in and a folder for test files.
#pragma once

#include <gtest/gtest.h>

#include "message_box_capture.h"
#include "ref_parent_stand_in.h"
#include "server.h"
#include "shell_host.h"
#include "temp_files.h"
#include "wav_builder.h"

class ExtensionTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(StandIn.Active()) << "comctl32 imports not found"; }

  LONG LiveObjects() const { return ServerInstance->LiveObjects; }
  LONG FactoryRefs() const { return ServerInstance->FactoryRefs; }

  // A canonical one-second 16-bit stereo PCM file at 44100 samples/s.
  static std::vector<uint8_t> CanonicalBytes() {
    std::vector<uint8_t> bytes = TWavBuilder().Bytes();
    bytes.resize(176444, 0);
    return bytes;
  }
  std::wstring WriteCanonical(const std::wstring& name) {
    return Files.Write(name, CanonicalBytes());
  }

  // The module showed exactly one box, ownerless and captioned "Error".
  void ExpectOneErrorBox(const std::string& text, UINT style) const {
    EXPECT_EQ(Boxes.Boxes(), (TCapturedBoxes{{nullptr, text, "Error", style}}));
  }

  TExtensionServer Server;
  TMessageBoxCapture Boxes;
  TRefParentStandIn StandIn;
  TTempFolder Files;
};
