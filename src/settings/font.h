// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Colours and fonts as the core keeps them. A colour is a signed 32-bit value:
// an RGB colour 0x00BBGGRR, or a system colour 0x80000000 plus the system's
// colour index, resolved to RGB by whoever draws it. A font is a face name, a
// size in points, a colour and a set of styles; the GUI maps it to its own font.
#include <cstdint>
#include <initializer_list>
#include <string>

namespace pling::settings {

using TColor = std::int32_t;

constexpr TColor SystemColor(std::uint32_t index) {
  return static_cast<TColor>(0x80000000u | index);
}

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;

inline constexpr TColor clScrollBar = SystemColor(0);
inline constexpr TColor clBackground = SystemColor(1);
inline constexpr TColor clActiveCaption = SystemColor(2);
inline constexpr TColor clInactiveCaption = SystemColor(3);
inline constexpr TColor clMenu = SystemColor(4);
inline constexpr TColor clWindow = SystemColor(5);
inline constexpr TColor clWindowFrame = SystemColor(6);
inline constexpr TColor clMenuText = SystemColor(7);
inline constexpr TColor clWindowText = SystemColor(8);
inline constexpr TColor clCaptionText = SystemColor(9);
inline constexpr TColor clActiveBorder = SystemColor(10);
inline constexpr TColor clInactiveBorder = SystemColor(11);
inline constexpr TColor clAppWorkSpace = SystemColor(12);
inline constexpr TColor clHighlight = SystemColor(13);
inline constexpr TColor clHighlightText = SystemColor(14);
inline constexpr TColor clBtnFace = SystemColor(15);
inline constexpr TColor clBtnShadow = SystemColor(16);
inline constexpr TColor clGrayText = SystemColor(17);
inline constexpr TColor clBtnText = SystemColor(18);
inline constexpr TColor clInactiveCaptionText = SystemColor(19);
inline constexpr TColor clBtnHighlight = SystemColor(20);
inline constexpr TColor cl3DDkShadow = SystemColor(21);
inline constexpr TColor cl3DLight = SystemColor(22);
inline constexpr TColor clInfoText = SystemColor(23);
inline constexpr TColor clInfoBk = SystemColor(24);

inline constexpr TColor clNone = 0x1FFFFFFF;

enum TFontStyle : unsigned { fsBold, fsItalic, fsUnderline, fsStrikeOut };

// A set of font styles.
class TFontStyles {
 public:
  constexpr TFontStyles() = default;
  constexpr TFontStyles(std::initializer_list<TFontStyle> styles) {
    for (TFontStyle style : styles) Include(style);
  }
  constexpr bool Contains(TFontStyle style) const { return (FBits & Bit(style)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr void Include(TFontStyle style) { FBits |= Bit(style); }
  constexpr void Exclude(TFontStyle style) { FBits &= ~Bit(style); }
  constexpr void Clear() { FBits = 0; }
  friend constexpr bool operator==(TFontStyles, TFontStyles) = default;

 private:
  static constexpr unsigned Bit(TFontStyle style) { return 1u << style; }
  unsigned FBits = 0;
};

// A font; a default-constructed one has the toolkit's default attributes.
struct TFont {
  std::string name = "MS Sans Serif";
  std::int32_t size = 8;
  TColor color = clWindowText;
  TFontStyles style;

  friend bool operator==(const TFont&, const TFont&) = default;
};

}  // namespace pling::settings
