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
  QFont result(FromAnsi(font.name));
  // A size of zero or less is no usable point size; the toolkit's default stands.
  if (font.size > 0) result.setPointSize(font.size);
  result.setBold(font.style.Contains(settings::fsBold));
  result.setItalic(font.style.Contains(settings::fsItalic));
  result.setUnderline(font.style.Contains(settings::fsUnderline));
  result.setStrikeOut(font.style.Contains(settings::fsStrikeOut));
  return result;
}

settings::TFont DesignFont(std::initializer_list<settings::TFontStyle> styles) {
  settings::TFont font;
  font.style = settings::TFontStyles(styles);
  return font;
}

bool IsDesignFont(const settings::TFont& font) {
  const settings::TFont design;
  return font.size == design.size &&
         QString::fromStdString(design.name).compare(FromAnsi(font.name), Qt::CaseInsensitive) == 0;
}

QFont DisplayFont(const settings::TFont& font) {
  if (!IsDesignFont(font)) return ToQFont(font);
  QFont result = QApplication::font();
  result.setBold(font.style.Contains(settings::fsBold));
  result.setItalic(font.style.Contains(settings::fsItalic));
  result.setUnderline(font.style.Contains(settings::fsUnderline));
  result.setStrikeOut(font.style.Contains(settings::fsStrikeOut));
  return result;
}

settings::TFont FromQFont(const QFont& font, settings::TColor color) {
  settings::TFont result;
  result.name = ToAnsi(font.family());
  if (font.pointSize() > 0) {
    result.size = font.pointSize();
  } else if (font.pointSizeF() > 0) {
    result.size = static_cast<std::int32_t>(std::lround(font.pointSizeF()));
  } else if (font.pixelSize() > 0) {
    // A font given in pixels: its size in points at 96 dots per inch.
    result.size = static_cast<std::int32_t>(std::lround(font.pixelSize() * 72.0 / 96.0));
  }
  result.color = color;
  result.style.Clear();
  if (font.bold()) result.style.Include(settings::fsBold);
  if (font.italic()) result.style.Include(settings::fsItalic);
  if (font.underline()) result.style.Include(settings::fsUnderline);
  if (font.strikeOut()) result.style.Include(settings::fsStrikeOut);
  return result;
}

}  // namespace pling::qtbridge
