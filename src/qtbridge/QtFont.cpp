// SPDX-License-Identifier: GPL-3.0-or-later
#include "qtbridge/QtFont.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>
#include <cmath>

#include "qtbridge/AnsiText.h"

namespace pling::qtbridge {

void InstallFontSubstitutions() {
  // The stored fonts keep their old face names; the desktop's general font
  // family (or fontconfig's generic sans-serif face) stands in for them.
  QStringList sans;
  const QString general = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  if (!general.isEmpty()) sans << general;
  sans << QStringLiteral("Sans Serif") << QStringLiteral("sans-serif");
  for (const char* face : {"MS Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2"}) {
    if (QFont::substitutes(QString::fromLatin1(face)).isEmpty())
      QFont::insertSubstitutions(QString::fromLatin1(face), sans);
  }
}

QFont ToQFont(const settings::TFont& font) {
  QFont result(FromAnsi(font.Name));
  // A size of zero or less is no usable point size; the toolkit's default stands.
  if (font.Size > 0) result.setPointSize(font.Size);
  result.setBold(font.Style.Contains(settings::fsBold));
  result.setItalic(font.Style.Contains(settings::fsItalic));
  result.setUnderline(font.Style.Contains(settings::fsUnderline));
  result.setStrikeOut(font.Style.Contains(settings::fsStrikeOut));
  return result;
}

settings::TFont DesignFont(std::initializer_list<settings::TFontStyle> styles) {
  settings::TFont font;
  font.Style = settings::TFontStyles(styles);
  return font;
}

bool IsDesignFont(const settings::TFont& font) {
  const settings::TFont design;
  return font.Size == design.Size &&
         QString::fromStdString(design.Name).compare(FromAnsi(font.Name), Qt::CaseInsensitive) == 0;
}

QFont DisplayFont(const settings::TFont& font) {
  if (!IsDesignFont(font)) return ToQFont(font);
  QFont result = QApplication::font();
  result.setBold(font.Style.Contains(settings::fsBold));
  result.setItalic(font.Style.Contains(settings::fsItalic));
  result.setUnderline(font.Style.Contains(settings::fsUnderline));
  result.setStrikeOut(font.Style.Contains(settings::fsStrikeOut));
  return result;
}

settings::TFont FromQFont(const QFont& font, settings::TColor color) {
  settings::TFont result;
  result.Name = ToAnsi(font.family());
  if (font.pointSize() > 0) {
    result.Size = font.pointSize();
  } else if (font.pointSizeF() > 0) {
    result.Size = static_cast<std::int32_t>(std::lround(font.pointSizeF()));
  } else if (font.pixelSize() > 0) {
    // A font given in pixels: its size in points at 96 dots per inch.
    result.Size = static_cast<std::int32_t>(std::lround(font.pixelSize() * 72.0 / 96.0));
  }
  result.Color = color;
  result.Style.Clear();
  if (font.bold()) result.Style.Include(settings::fsBold);
  if (font.italic()) result.Style.Include(settings::fsItalic);
  if (font.underline()) result.Style.Include(settings::fsUnderline);
  if (font.strikeOut()) result.Style.Include(settings::fsStrikeOut);
  return result;
}

}  // namespace pling::qtbridge
