// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The font dialog of the panes and the receivers list: face, style, size, the
// strike-out and underline effects and the text colour, with a sample. It
// starts with the font it is given and, confirmed without a change, gives that
// same font back: the stored face name (also one this desktop lacks, such as
// "MS Sans Serif", which shows in a desktop face), its style, size and colour.
#include <QDialog>

#include "settings/font.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;

namespace pling::app {

class TFontDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TFontDlg(const settings::TFont& font, QWidget* parent = nullptr);

  // The font as the dialog shows it now.
  settings::TFont Font() const;

  // Shows the dialog for `font`; true and the chosen font in `font` on OK.
  static bool Execute(QWidget* parent, settings::TFont& font);

  // The colour choices: the named colours and the window text colour, then the
  // given colour when it is none of them. "Other..." after them opens the
  // colour dialog.
  static constexpr int kNamedColors = 17;

 private:
  void AddColor(settings::TColor color);
  void SelectColor(settings::TColor color);
  void ColorChosen(int index);
  void SizeEdited();
  void UpdateSample();

  settings::TFont FGiven;
  int FGivenFamily = -1;          // the item that shows the given face
  settings::TColor FColorBefore;  // the choice before "Other..."

  QComboBox* FamilyCbx;
  QComboBox* StyleCbx;
  QComboBox* SizeCbx;
  QCheckBox* StrikeOutChk;
  QCheckBox* UnderlineChk;
  QComboBox* ColorCbx;
  QLabel* SampleLbl;
  QDialogButtonBox* Buttons;
};

}  // namespace pling::app
