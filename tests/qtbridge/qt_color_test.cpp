// SPDX-License-Identifier: GPL-3.0-or-later
// Core colours on Qt: RGB as it stands, system colours through the palette.
#include <gtest/gtest.h>

#include <QPalette>

#include "qtbridge/QtColor.h"

namespace pling::qtbridge {
namespace {

TEST(QtColorTest, RgbColoursKeepTheirBytes) {
  EXPECT_EQ(ResolveColor(0x00332211, QPalette()), QColor(0x11, 0x22, 0x33));
  EXPECT_EQ(ResolveColor(settings::clRed, QPalette()), QColor(255, 0, 0));
  EXPECT_EQ(ResolveColor(settings::clNavy, QPalette()), QColor(0, 0, 128));
  EXPECT_EQ(ToTColor(QColor(0x11, 0x22, 0x33)), 0x00332211);
  EXPECT_EQ(ToTColor(QColor(0x11, 0x22, 0x33, 0x40)), 0x00332211);
  EXPECT_EQ(ToTColor(QColor::fromHsv(0, 255, 255)), settings::clRed);
}

TEST(QtColorTest, SystemColoursComeFromThePalette) {
  QPalette palette;
  int shade = 1;
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
      const auto colorRole = static_cast<QPalette::ColorRole>(role);
      if (colorRole == QPalette::NoRole) continue;
      palette.setColor(group, colorRole, QColor(shade, 255 - shade, 7));
      ++shade;
    }
  }
  const auto expect = [&](settings::TColor color, QPalette::ColorGroup group,
                          QPalette::ColorRole role) {
    EXPECT_EQ(ResolveColor(color, palette), palette.color(group, role))
        << std::hex << static_cast<unsigned>(color);
  };
  expect(settings::clWindow, QPalette::Active, QPalette::Base);
  expect(settings::clWindowText, QPalette::Active, QPalette::Text);
  expect(settings::clBtnFace, QPalette::Active, QPalette::Button);
  expect(settings::clBtnShadow, QPalette::Active, QPalette::Dark);
  expect(settings::clBtnText, QPalette::Active, QPalette::ButtonText);
  expect(settings::clBtnHighlight, QPalette::Active, QPalette::Light);
  expect(settings::clHighlight, QPalette::Active, QPalette::Highlight);
  expect(settings::clHighlightText, QPalette::Active, QPalette::HighlightedText);
  expect(settings::clGrayText, QPalette::Disabled, QPalette::Text);
  expect(settings::clInfoText, QPalette::Active, QPalette::ToolTipText);
  expect(settings::clInfoBk, QPalette::Active, QPalette::ToolTipBase);
  expect(settings::clMenuText, QPalette::Active, QPalette::WindowText);
  // The index is the lowest byte.
  expect(static_cast<settings::TColor>(0x80000105u), QPalette::Active, QPalette::Base);
  // Every named system colour is distinct from black here, so none falls through.
  for (unsigned index = 0; index <= 24; ++index) {
    EXPECT_NE(ResolveColor(settings::SystemColor(index), palette), QColor(0, 0, 0)) << index;
  }
  // Indexes that name no colour give black, as the system reports them.
  EXPECT_EQ(ResolveColor(settings::SystemColor(25), palette), QColor(0, 0, 0));
  EXPECT_EQ(ResolveColor(settings::SystemColor(99), palette), QColor(0, 0, 0));
  // Drawn opaque, whatever the palette's alpha.
  palette.setColor(QPalette::Active, QPalette::Base, QColor(10, 20, 30, 40));
  EXPECT_EQ(ResolveColor(settings::clWindow, palette), QColor(10, 20, 30));
}

}  // namespace
}  // namespace pling::qtbridge
