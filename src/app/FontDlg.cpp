// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FontDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>

#include "app/ColorDlg.h"
#include "qtbridge/AnsiText.h"
#include "qtbridge/QtColor.h"
#include "qtbridge/QtFont.h"
#include "settings/Megares.h"

namespace pling::app {

using settings::TColor;
using settings::TFont;

namespace {

struct TColorChoice {
  TColor color;
  const char* caption;
};

// The colours offered by name, in the order of the colour table.
constexpr std::array<TColorChoice, TFontDlg::kNamedColors> kColorChoices{{
    {settings::clBlack, "Black"},
    {settings::clMaroon, "Maroon"},
    {settings::clGreen, "Green"},
    {settings::clOlive, "Olive"},
    {settings::clNavy, "Navy"},
    {settings::clPurple, "Purple"},
    {settings::clTeal, "Teal"},
    {settings::clGray, "Gray"},
    {settings::clSilver, "Silver"},
    {settings::clRed, "Red"},
    {settings::clLime, "Lime"},
    {settings::clYellow, "Yellow"},
    {settings::clBlue, "Blue"},
    {settings::clFuchsia, "Fuchsia"},
    {settings::clAqua, "Aqua"},
    {settings::clWhite, "White"},
    {settings::clWindowText, "Window text"},
}};

constexpr std::array<int, 16> kSizes{8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72};

// Style items: regular, italic, bold, bold italic.
enum TStyleItem { siRegular, siItalic, siBold, siBoldItalic };

// A caption for a colour that has no name in the list: a system colour by its
// identifier in words ("Btn Text"), any other as its RGB value.
QString ColorCaption(TColor color) {
  const std::string text = settings::ColorToText(color);
  if (text.rfind("cl", 0) == 0) {
    QString words;
    for (const QChar c : QString::fromLatin1(text.substr(2))) {
      if (c.isUpper() && !words.isEmpty()) words += QLatin1Char(' ');
      words += c;
    }
    return words;
  }
  return qtbridge::ResolveColor(color, QApplication::palette()).name(QColor::HexRgb).toUpper();
}

QIcon Swatch(TColor color) {
  QPixmap pixmap(16, 12);
  pixmap.fill(qtbridge::ResolveColor(color, QApplication::palette()));
  QPainter painter(&pixmap);
  painter.setPen(Qt::gray);
  painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
  return QIcon(pixmap);
}

}  // namespace

TFontDlg::TFontDlg(const TFont& font, QWidget* parent)
    : QDialog(parent), FGiven(font), FColorBefore(font.color) {
  setObjectName(QStringLiteral("FontDlg"));
  setWindowTitle(QStringLiteral("Font"));

  FamilyCbx = new QComboBox(this);
  FamilyCbx->setObjectName(QStringLiteral("FamilyCbx"));
  const QString given = qtbridge::FromAnsi(font.name);
  const QStringList families = QFontDatabase::families();
  FamilyCbx->addItems(families);
  FGivenFamily = static_cast<int>(families.indexOf(given));
  if (FGivenFamily < 0) {
    // A face this desktop lacks keeps its name; the sample shows the face that
    // stands in for it.
    FamilyCbx->insertItem(0, given);
    FGivenFamily = 0;
  }
  FamilyCbx->setCurrentIndex(FGivenFamily);
  // As wide as a usual face name, not as the longest one installed: the dialog
  // fits a small screen (its list still opens as wide as the names).
  FamilyCbx->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  FamilyCbx->setMinimumContentsLength(10);

  StyleCbx = new QComboBox(this);
  StyleCbx->setObjectName(QStringLiteral("StyleCbx"));
  StyleCbx->addItems({QStringLiteral("Regular"), QStringLiteral("Italic"), QStringLiteral("Bold"),
                      QStringLiteral("Bold Italic")});
  const bool bold = font.style.Contains(settings::fsBold);
  const bool italic = font.style.Contains(settings::fsItalic);
  StyleCbx->setCurrentIndex(bold ? (italic ? siBoldItalic : siBold)
                                 : (italic ? siItalic : siRegular));

  SizeCbx = new QComboBox(this);
  SizeCbx->setObjectName(QStringLiteral("SizeCbx"));
  SizeCbx->setEditable(true);
  for (const int size : kSizes) SizeCbx->addItem(QString::number(size));
  SizeCbx->setValidator(new QIntValidator(1, 1638, SizeCbx));
  SizeCbx->setCurrentText(QString::number(font.size));

  StrikeOutChk = new QCheckBox(QStringLiteral("Stri&keout"), this);
  StrikeOutChk->setObjectName(QStringLiteral("StrikeOutChk"));
  StrikeOutChk->setChecked(font.style.Contains(settings::fsStrikeOut));
  UnderlineChk = new QCheckBox(QStringLiteral("&Underline"), this);
  UnderlineChk->setObjectName(QStringLiteral("UnderlineChk"));
  UnderlineChk->setChecked(font.style.Contains(settings::fsUnderline));

  ColorCbx = new QComboBox(this);
  ColorCbx->setObjectName(QStringLiteral("ColorCbx"));
  for (const TColorChoice& choice : kColorChoices) {
    ColorCbx->addItem(Swatch(choice.color), QString::fromLatin1(choice.caption),
                      QVariant::fromValue<qint64>(choice.color));
  }
  ColorCbx->addItem(QStringLiteral("Other..."));
  SelectColor(font.color);

  SampleLbl = new QLabel(QStringLiteral("AaBbYyZz"), this);
  SampleLbl->setObjectName(QStringLiteral("SampleLbl"));
  SampleLbl->setAlignment(Qt::AlignCenter);
  SampleLbl->setMinimumSize(140, 60);

  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  // Layout: face, style and size side by side; effects and colour below the
  // face, the sample beside them; the buttons at the bottom.
  auto* grid = new QGridLayout;
  const auto label = [this](const QString& caption, QWidget* buddy) {
    auto* l = new QLabel(caption, this);
    l->setBuddy(buddy);
    return l;
  };
  grid->addWidget(label(QStringLiteral("&Font:"), FamilyCbx), 0, 0);
  grid->addWidget(label(QStringLiteral("Font st&yle:"), StyleCbx), 0, 1);
  grid->addWidget(label(QStringLiteral("&Size:"), SizeCbx), 0, 2);
  grid->addWidget(FamilyCbx, 1, 0);
  grid->addWidget(StyleCbx, 1, 1);
  grid->addWidget(SizeCbx, 1, 2);
  grid->setColumnStretch(0, 3);

  auto* effects = new QGroupBox(QStringLiteral("Effects"), this);
  auto* effectsLayout = new QGridLayout(effects);
  effectsLayout->addWidget(StrikeOutChk, 0, 0, 1, 2);
  effectsLayout->addWidget(UnderlineChk, 1, 0, 1, 2);
  effectsLayout->addWidget(label(QStringLiteral("&Color:"), ColorCbx), 2, 0);
  effectsLayout->addWidget(ColorCbx, 2, 1);
  auto* sample = new QGroupBox(QStringLiteral("Sample"), this);
  auto* sampleLayout = new QVBoxLayout(sample);
  sampleLayout->addWidget(SampleLbl);
  grid->addWidget(effects, 2, 0);
  grid->addWidget(sample, 2, 1, 1, 2);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(Buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // a dialog of one size, as ever

  for (QComboBox* box : {FamilyCbx, StyleCbx}) {
    connect(box, &QComboBox::currentIndexChanged, this, [this] { UpdateSample(); });
  }
  connect(SizeCbx, &QComboBox::currentTextChanged, this, [this] { SizeEdited(); });
  for (QCheckBox* box : {StrikeOutChk, UnderlineChk}) {
    connect(box, &QCheckBox::toggled, this, [this] { UpdateSample(); });
  }
  connect(ColorCbx, &QComboBox::activated, this, [this](int index) { ColorChosen(index); });
  UpdateSample();
}

void TFontDlg::AddColor(TColor color) {
  // Before "Other...", after the named colours and any added before.
  ColorCbx->insertItem(ColorCbx->count() - 1, Swatch(color), ColorCaption(color),
                       QVariant::fromValue<qint64>(color));
}

void TFontDlg::SelectColor(TColor color) {
  int index = ColorCbx->findData(QVariant::fromValue<qint64>(color));
  if (index < 0) {
    AddColor(color);
    index = ColorCbx->count() - 2;
  }
  ColorCbx->setCurrentIndex(index);
  FColorBefore = color;
}

void TFontDlg::ColorChosen(int index) {
  if (index != ColorCbx->count() - 1) {
    FColorBefore = static_cast<TColor>(ColorCbx->itemData(index).value<qint64>());
    UpdateSample();
    return;
  }
  // "Other...": any colour, from the colour dialog; cancelled, the choice stays.
  const QColor chosen = ChooseColor(
      this, qtbridge::ResolveColor(FColorBefore, QApplication::palette()), QStringLiteral("Color"));
  SelectColor(chosen.isValid() ? qtbridge::ToTColor(chosen) : FColorBefore);
  UpdateSample();
}

void TFontDlg::SizeEdited() {
  // OK only with a size to give.
  QString text = SizeCbx->currentText();
  int pos = 0;
  const bool valid =
      SizeCbx->validator()->validate(text, pos) == QValidator::Acceptable && text.toInt() > 0;
  Buttons->button(QDialogButtonBox::Ok)->setEnabled(valid);
  if (valid) UpdateSample();
}

TFont TFontDlg::Font() const {
  TFont font;
  // The face as given unless another was chosen: the given name is kept even
  // where this desktop shows another face for it.
  font.name = FamilyCbx->currentIndex() == FGivenFamily
                  ? FGiven.name
                  : qtbridge::ToAnsi(FamilyCbx->currentText());
  bool ok = false;
  const int size = SizeCbx->currentText().toInt(&ok);
  font.size = ok && size > 0 ? size : FGiven.size;
  const int colorItem = ColorCbx->currentIndex();
  font.color = colorItem >= 0 && colorItem < ColorCbx->count() - 1
                   ? static_cast<TColor>(ColorCbx->itemData(colorItem).value<qint64>())
                   : FColorBefore;
  font.style.Clear();
  const int style = StyleCbx->currentIndex();
  if (style == siBold || style == siBoldItalic) font.style.Include(settings::fsBold);
  if (style == siItalic || style == siBoldItalic) font.style.Include(settings::fsItalic);
  if (StrikeOutChk->isChecked()) font.style.Include(settings::fsStrikeOut);
  if (UnderlineChk->isChecked()) font.style.Include(settings::fsUnderline);
  return font;
}

void TFontDlg::UpdateSample() {
  const TFont font = Font();
  SampleLbl->setFont(qtbridge::ToQFont(font));
  QPalette palette = SampleLbl->palette();
  palette.setColor(QPalette::WindowText,
                   qtbridge::ResolveColor(font.color, QApplication::palette(SampleLbl)));
  SampleLbl->setPalette(palette);
}

bool TFontDlg::Execute(QWidget* parent, TFont& font) {
  TFontDlg dialog(font, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  font = dialog.Font();
  return true;
}

}  // namespace pling::app
