// SPDX-License-Identifier: GPL-3.0-or-later
// Typed values and integer reading on both back ends of the settings store.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/component.h"
#include "runtime/exceptions.h"
#include "settings/Megares.h"
#include "store_fixture.h"
#include "temp_config.h"

namespace pling::settings {
namespace {

using pling::testing::TempConfigTest;

class StoreBackEndTest : public TempConfigTest,
                         public ::testing::WithParamInterface<TMRPreference> {};

TEST_P(StoreBackEndTest, TypedValuesRoundTrip) {
  TMegaRegistry store;
  Configure(store, GetParam());
  store.OpenBackEnd();
  ASSERT_EQ(store.BackEndKind(), GetParam() == mrpIni ? bkIni : bkRegistry);

  store.WriteText("Settings", "ServerName", "HUB");
  store.WriteInteger("Settings", "Split", -89);
  store.WriteBool("Settings", "Popup", true);
  store.WriteBool("Settings", "UseServer", false);
  EXPECT_EQ(store.ReadText("Settings", "ServerName", ""), "HUB");
  EXPECT_EQ(store.ReadInteger("Settings", "Split", 0), -89);
  EXPECT_EQ(store.ReadText("Settings", "Popup", ""), "1");
  EXPECT_EQ(store.ReadText("Settings", "UseServer", ""), "0");
  EXPECT_TRUE(store.ReadBool("Settings", "Popup", false));
  EXPECT_FALSE(store.ReadBool("Settings", "UseServer", true));

  const TFont font{"Arial", 12, 0x00123456, {fsBold, fsUnderline}};
  store.WriteFont("ReceiversList", "Font", font);
  EXPECT_EQ(store.ReadText("ReceiversList", "Font", ""), "Arial;12;$00123456;1001");
  EXPECT_EQ(store.ReadFont("ReceiversList", "Font", TFont{}), font);

  // Nothing stored: the default font comes back, from its own text.
  const TFont italic{"MS Sans Serif", 8, clWindowText, {fsItalic}};
  EXPECT_EQ(store.ReadFont("ReceivedMemo", "Font", italic), italic);
  store.WriteFont("ReceivedMemo", "Font", italic);
  EXPECT_EQ(store.ReadText("ReceivedMemo", "Font", ""), "MS Sans Serif;8;clWindowText;0100");

  store.WriteText("SendMemo", "Font", "Arial");
  try {
    store.ReadFont("SendMemo", "Font", TFont{});
    FAIL() << "no error";
  } catch (const runtime::EConvertError& error) {
    EXPECT_EQ(std::string(error.what()), "'' is not a valid integer value");
  }
}

TEST_P(StoreBackEndTest, IntegerReadsFollowTheOpenBackEnd) {
  TMegaRegistry store;
  Configure(store, GetParam());
  store.OpenBackEnd();
  store.WriteText("Settings", "Hex", "0x1F");
  store.WriteText("Settings", "Empty", "");
  if (GetParam() == mrpIni) {
    EXPECT_EQ(store.ReadInteger("Settings", "Hex", 0), 31);
    EXPECT_EQ(store.ReadInteger("Settings", "Empty", 5), 5);
    EXPECT_TRUE(store.ReadBool("Settings", "Empty", true));
  } else {
    EXPECT_THROW(store.ReadInteger("Settings", "Hex", 0), runtime::EConvertError);
    EXPECT_THROW(store.ReadInteger("Settings", "Empty", 5), runtime::EConvertError);
    EXPECT_THROW(store.ReadBool("Settings", "Empty", true), runtime::EConvertError);
  }
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, StoreBackEndTest, ::testing::Values(mrpIni, mrpRegistry),
                         BackEndName);

}  // namespace
}  // namespace pling::settings
