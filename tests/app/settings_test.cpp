// SPDX-License-Identifier: GPL-3.0-or-later
// What the window keeps between runs: FormClose writes every setting, the next
// start reads it back; a broken stored value is reported, skipped and kept.
#include <QAction>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "files.h"

namespace pling::testing {
namespace {

using AppSettingsTest = AppTest;

TEST_F(AppSettingsTest, EverySettingSurvivesARestart) {
  {
    app::TPlingFrm& w = Start();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    for (const char* name : {"carol", "Bob", "dave"})
      Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QString::fromLatin1(name));
    Widget<app::TListBox>(w, "ReceiversLbx")
        ->SetSelected(1, true);  // carol (sorted: Bob, carol, dave)
    Widget<app::TListBox>(w, "ReceiversLbx")->SetSelected(2, true);
    Widget<app::TMemo>(w, "ReceivedMmo")
        ->SetCoreFont({"DejaVu Serif", 11, settings::clRed, {settings::fsBold}});
    Widget<app::TMemo>(w, "SendMmo")
        ->SetCoreFont({"DejaVu Sans Mono", 9, settings::clBtnText, {settings::fsStrikeOut}});
    Widget<app::TListBox>(w, "ReceiversLbx")->SetCoreFont({"DejaVu Sans", 10, 0x123456, {}});
    Widget<app::TMemo>(w, "ReceivedMmo")->SetColor(settings::clInfoBk);
    Widget<app::TMemo>(w, "SendMmo")->SetColor(0x00C0FFEE);
    Widget<app::TListBox>(w, "ReceiversLbx")->SetColor(settings::clAqua);
    Widget<app::TSplitter>(w, "Splitter")->MoveBy(-40);
    const int split = Widget<app::TPanel>(w, "ReceiversPnl")->width();
    ASSERT_EQ(split, qtbridge::ScaleDesignPixels(89, w) + 40);
    Action(w, "Useserver1")->setChecked(true);
    Action(w, "Automaticsend1")->trigger();
    Action(w, "servername1")->setText(QStringLiteral("PDC1"));
    Action(w, "Playincoming1")->trigger();
    Action(w, "RecvLinewrap")->trigger();
    Action(w, "SendLinewrap")->trigger();
    Action(w, "Popup1")->trigger();
    Action(w, "Seperators1")->trigger();  // not kept
    w.move(40, 30);
    w.resize(520, 430);
    QApplication::processEvents();
    Stop();
    ASSERT_TRUE(FMessages.isEmpty()) << FMessages.join('\n').toStdString();

    app::TPlingFrm& again = Start();
    EXPECT_EQ(
        Widget<app::TListBox>(again, "ReceiversLbx")->Items(),
        (QStringList{QStringLiteral("Bob"), QStringLiteral("carol"), QStringLiteral("dave")}));
    EXPECT_FALSE(Widget<app::TListBox>(again, "ReceiversLbx")->Selected(0));
    EXPECT_TRUE(Widget<app::TListBox>(again, "ReceiversLbx")->Selected(1));
    EXPECT_TRUE(Widget<app::TListBox>(again, "ReceiversLbx")->Selected(2));
    EXPECT_EQ(Widget<app::TMemo>(again, "ReceivedMmo")->CoreFont(),
              (settings::TFont{"DejaVu Serif", 11, settings::clRed, {settings::fsBold}}));
    EXPECT_EQ(
        Widget<app::TMemo>(again, "SendMmo")->CoreFont(),
        (settings::TFont{"DejaVu Sans Mono", 9, settings::clBtnText, {settings::fsStrikeOut}}));
    EXPECT_EQ(Widget<app::TListBox>(again, "ReceiversLbx")->CoreFont(),
              (settings::TFont{"DejaVu Sans", 10, 0x123456, {}}));
    EXPECT_EQ(Widget<app::TMemo>(again, "ReceivedMmo")->Color(), settings::clInfoBk);
    EXPECT_EQ(Widget<app::TMemo>(again, "SendMmo")->Color(), 0x00C0FFEE);
    EXPECT_EQ(Widget<app::TListBox>(again, "ReceiversLbx")->Color(), settings::clAqua);
    EXPECT_EQ(Widget<app::TPanel>(again, "ReceiversPnl")->width(), split);
    EXPECT_TRUE(Action(again, "Useserver1")->isChecked());
    EXPECT_FALSE(Action(again, "Automaticsend1")->isChecked());
    EXPECT_EQ(Action(again, "servername1")->text(), QStringLiteral("PDC1"));
    EXPECT_TRUE(Action(again, "Playincoming1")->isChecked());
    EXPECT_TRUE(Action(again, "RecvLinewrap")->isChecked());
    EXPECT_EQ(Widget<app::TMemo>(again, "ReceivedMmo")->lineWrapMode(),
              QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(Widget<app::TMemo>(again, "ReceivedMmo")->horizontalScrollBarPolicy(),
              Qt::ScrollBarAlwaysOff);
    EXPECT_TRUE(Action(again, "SendLinewrap")->isChecked());
    EXPECT_EQ(Widget<app::TMemo>(again, "SendMmo")->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_FALSE(Action(again, "Popup1")->isChecked());
    EXPECT_TRUE(Action(again, "Seperators1")->isChecked()) << "every run starts with separators";
    EXPECT_EQ(again.pos(), QPoint(40, 30));
    EXPECT_EQ(again.size(), QSize(520, 430));
  }
  EXPECT_TRUE(FMessages.isEmpty()) << FMessages.join('\n').toStdString();
}

// The table of stored keys tells pling-cli what the window takes while a value is
// absent: so it must be what the window keeps after a start with nothing stored.
TEST_F(AppSettingsTest, AFirstStartKeepsTheDefaultsOfTheTableOfStoredKeys) {
  Start();
  Stop();
  auto store = Store();
  int written = 0;
  for (const settings::TStoredKey* key : settings::kStoredKeys) {
    const auto stored = store->TryReadText(key->section, key->key);
    ASSERT_TRUE(stored) << stored.Error().text;
    if (!stored.Value()) continue;  // read only (the network's), or a list
    ++written;
    if (key->defaultValue == nullptr) continue;
    EXPECT_EQ(*stored.Value(), key->defaultValue) << key->section << "\\" << key->key;
  }
  // The options of the window, its place and size.
  EXPECT_EQ(written, 20);
  EXPECT_TRUE(FMessages.isEmpty()) << FMessages.join('\n').toStdString();
}

TEST_F(AppSettingsTest, StoredReceiversLoadUpToTheFirstGapWithTheirMarks) {
  {
    auto store = Store();
    // Stored in another order than the list sorts them (another locale, a hand):
    // each mark stays with its name.
    store->WriteText("Receivers", "NAME0", "Zed+");
    store->WriteText("Receivers", "NAME1", "Bob-");
    store->WriteText("Receivers", "NAME2", "Carol+");
    store->WriteText("Receivers", "NAME3", "Dave");  // no marker: the last letter goes
    store->WriteText("Receivers", "NAME4", "Dave*");
    store->WriteText("Receivers", "NAME6", "Eve+");  // after the gap
  }
  app::TPlingFrm& w = Start();
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(),
            (QStringList{QStringLiteral("Bob"), QStringLiteral("Carol"), QStringLiteral("Dav"),
                         QStringLiteral("Dave"), QStringLiteral("Zed")}));
  const bool selected[] = {false, true, false, false, true};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Selected(i), selected[i]) << i;
}

TEST_F(AppSettingsTest, ALongListKeepsEachMarkWithItsNameThroughRestarts) {
  // Stored in the reverse of the list's order, every 7th selected: each mark must
  // follow its name to where the sorting puts it, and be written back with it.
  constexpr int kCount = 10000;
  const auto name = [](int i) { return "R" + std::to_string(100000 + i); };
  {
    auto store = Store();
    store->BeginUpdate();
    for (int i = 0; i < kCount; ++i) {
      store->WriteText("Receivers", "NAME" + std::to_string(i),
                       name(kCount - 1 - i) + ((kCount - 1 - i) % 7 == 0 ? "+" : "-"));
    }
    store->EndUpdate();
  }
  for (int run = 0; run < 2; ++run) {
    {
      app::TPlingFrm& w = Start();
      auto* list = Widget<app::TListBox>(w, "ReceiversLbx");
      ASSERT_EQ(list->count(), kCount) << "run " << run;
      const std::vector<bool> flags = list->SelectedFlags();
      int wrong = 0;
      for (int i = 0; i < kCount; ++i) {
        wrong += list->item(i)->text().toStdString() != name(i) ||
                 flags[static_cast<std::size_t>(i)] != (i % 7 == 0);
      }
      EXPECT_EQ(wrong, 0) << "run " << run;
      EXPECT_EQ(list->SelCount(), (kCount + 6) / 7);
      EXPECT_TRUE(list->Selected(7));
      EXPECT_FALSE(list->Selected(8));
      EXPECT_EQ(list->SelectedTexts().value(1), QString::fromStdString(name(7)));
      Stop();
    }
    auto store = Store();
    EXPECT_EQ(store->ReadText("Receivers", "NAME7", ""), name(7) + "+");
    EXPECT_EQ(store->ReadText("Receivers", "NAME8", ""), name(8) + "-");
    EXPECT_EQ(store->ReadText("Receivers", "NAME" + std::to_string(kCount), ""), "");
  }
}

TEST(ReceiversListTest, AStoredListLoadsInTheOrderAndSelectionOfNamesAddedOneByOne) {
  // Names that collate alike (case, accents), digits, punctuation; the same name
  // with and without its mark.
  const QList<std::pair<QString, bool>> names = {
      {QStringLiteral("bob"), true},        {QStringLiteral("Bob"), false},
      {QStringLiteral("\u00C9lise"), true}, {QStringLiteral("elise"), false},
      {QStringLiteral("Elise"), true},      {QStringLiteral("Zo\u00EB"), false},
      {QStringLiteral("zoe"), true},        {QStringLiteral("a10"), true},
      {QStringLiteral("a9"), false},        {QStringLiteral("_x"), true},
      {QStringLiteral("BOB"), true},        {QStringLiteral("x-ray"), false},
      {QStringLiteral("xray"), true},       {QStringLiteral("bob"), false}};
  app::TListBox loaded;
  loaded.AddItems(names);
  app::TListBox added;
  std::vector<QListWidgetItem*> marked;
  for (const auto& [text, selected] : names) {
    QListWidgetItem* item = added.item(added.AddItem(text));
    if (selected) marked.push_back(item);
  }
  for (QListWidgetItem* item : marked) item->setSelected(true);
  EXPECT_EQ(loaded.Items(), added.Items());
  EXPECT_EQ(loaded.SelectedFlags(), added.SelectedFlags());
  // Later names still go where the sorting puts them.
  EXPECT_EQ(loaded.AddItem(QStringLiteral("Carl")), added.AddItem(QStringLiteral("Carl")));
}

TEST_F(AppSettingsTest, AShorterListDoesNotBringBackOldEntries) {
  {
    auto store = Store();
    for (int i = 0; i < 5; ++i)
      store->WriteText("Receivers", "NAME" + std::to_string(i), "R" + std::to_string(i) + "+");
  }
  {
    app::TPlingFrm& w = Start();
    ASSERT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 5);
    while (Widget<app::TListBox>(w, "ReceiversLbx")->count() > 2)
      delete Widget<app::TListBox>(w, "ReceiversLbx")->takeItem(0);
    Stop();
  }
  app::TPlingFrm& w = Start();
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(),
            (QStringList{QStringLiteral("R3"), QStringLiteral("R4")}));
  EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->SelCount(), 2);
}

// An exit does not look at each entry of a list nobody changed, yet the file
// must end up holding the window's list: with the empty entry after the last even
// where the file had none, and over what another program wrote meanwhile.
TEST_F(AppSettingsTest, AtExitTheStoredListIsTheWindowsOneWhateverTheFileHeldMeanwhile) {
  {
    auto store = Store();
    store->WriteText("Receivers", "NAME0", "Ann+");
    store->WriteText("Receivers", "NAME1", "Bob-");
  }
  const auto stored = [this](const char* key) {
    const auto read = Store()->TryReadText("Receivers", key);
    return read && read.Value() ? *read.Value() : std::string("(none)");
  };
  Start();
  Stop();
  EXPECT_EQ(stored("NAME2"), "");
  Start();
  Store()->WriteText("Receivers", "NAME0", "Zoe-");
  Stop();
  EXPECT_EQ(stored("NAME0"), "Ann+");
  EXPECT_EQ(stored("NAME1"), "Bob-");
  EXPECT_EQ(stored("NAME2"), "");
}

TEST_F(AppSettingsTest, UnreadableValuesAreReportedOnceAndKeptWhileTheRestIsRead) {
  const std::map<std::pair<std::string, std::string>, std::string> stored = {
      {{"Receivers", "NAME0"}, "Bob+"},
      {{"SendMemo", "Color"}, "notacolor"},
      {{"ReceivedMemo", "Font"}, "DejaVu Serif;big;clRed;1000"},
      {{"ReceiversList", "Color"}, "clInfoBk"},
      {{"Settings", "Split"}, "150"},
      {{"Settings", "UseServer"}, "yes"},
      {{"Settings", "ServerName"}, "HUB"},
      {{"Settings", "PlayIncoming"}, "1"},
      {{"Settings", "RecvLineWrap"}, "1"},
      {{"Settings", "Active"}, "1"},
      {{"TPlingFrm", "Width"}, "wide"},
      {{"TPlingFrm", "Height"}, "333"}};
  {
    auto store = Store();
    for (const auto& [where, value] : stored) store->WriteText(where.first, where.second, value);
  }
  {
    app::TPlingFrm& w = Start();
    // One message, a line for each value: its key, its stored text and why.
    ASSERT_EQ(FMessages.size(), 1) << FMessages.join('\n').toStdString();
    EXPECT_EQ(
        FMessages[0].split('\n'),
        (QStringList{
            "TPlingFrm\\Width \"wide\": 'wide' is not a valid integer value",
            "ReceivedMemo\\Font \"DejaVu Serif;big;clRed;1000\": 'big' is not a valid integer "
            "value",
            "SendMemo\\Color \"notacolor\": 'notacolor' is not a valid integer value",
            "Settings\\UseServer \"yes\": 'yes' is not a valid integer value"}));
    // Each of them keeps the window's value; everything else is read.
    EXPECT_EQ(Widget<app::TMemo>(w, "ReceivedMmo")->CoreFont().name, "MS Sans Serif");
    EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->Color(), settings::clWindow);
    EXPECT_FALSE(Action(w, "Useserver1")->isChecked());
    EXPECT_EQ(w.height(), 333);
    EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(),
              QStringList{QStringLiteral("Bob")});
    EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Color(), settings::clInfoBk);
    EXPECT_EQ(Widget<app::TPanel>(w, "ReceiversPnl")->width(), 150);
    EXPECT_EQ(Action(w, "servername1")->text(), QStringLiteral("HUB"));
    EXPECT_TRUE(Action(w, "Playincoming1")->isChecked());
    EXPECT_TRUE(Action(w, "RecvLinewrap")->isChecked());
    EXPECT_TRUE(w.Messenger().Active());
    // The user sets one of the unreadable ones anew.
    w.FontDialog = [](QWidget*, settings::TFont& font) {
      font = {"DejaVu Sans", 10, settings::clWindowText, {}};
      return true;
    };
    Action(w, "RecvdFont1")->trigger();
    Stop();
  }
  EXPECT_EQ(FMessages.size(), 1);
  // At exit the values it could not read keep their stored text; the one the
  // user set anew, and all the others, are written.
  auto store = Store();
  for (const auto& [where, value] : stored) {
    if (where.second == "Font" || where.second == "Width") continue;
    EXPECT_EQ(store->ReadText(where.first, where.second, "<none>"), value)
        << where.first << "\\" << where.second;
  }
  EXPECT_EQ(store->ReadText("ReceivedMemo", "Font", ""), "DejaVu Sans;10;clWindowText;0000");
}

TEST_F(AppSettingsTest, LongNamesAndTextsSurviveRestartsWholeWithEveryEntryAfterThem) {
  const std::string longName = "B" + std::string(299, 'x');     // sorts before the ghosts
  const std::string longerName = "A" + std::string(1499, 'y');  // longer than 1000
  const std::string server(400, 's');
  {
    app::TPlingFrm& w = Start();
    Action(w, "Popup1")->trigger();
    // Senders join the list as they come, whatever the length of their names.
    w.PlingMessage("ME", longName, "hi");
    w.PlingMessage("ME", longerName, "hi");
    for (int i = 0; i < 5; ++i) w.PlingMessage("ME", "Ghost" + std::to_string(i), "hi");
    Widget<app::TListBox>(w, "ReceiversLbx")
        ->SetSelected(static_cast<int>(Widget<app::TListBox>(w, "ReceiversLbx")
                                           ->Items()
                                           .indexOf(QString::fromStdString(longName))),
                      true);
    Action(w, "servername1")->setText(QString::fromStdString(server));
    ASSERT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->count(), 7);
    Stop();
  }
  const QStringList expected = {QString::fromStdString(longerName),
                                QString::fromStdString(longName),
                                "Ghost0",
                                "Ghost1",
                                "Ghost2",
                                "Ghost3",
                                "Ghost4"};
  for (int run = 0; run < 2; ++run) {
    app::TPlingFrm& w = Start();
    EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->Items(), expected) << "run " << run;
    EXPECT_TRUE(Widget<app::TListBox>(w, "ReceiversLbx")->Selected(1)) << "run " << run;
    EXPECT_EQ(Widget<app::TListBox>(w, "ReceiversLbx")->SelCount(), 1) << "run " << run;
    EXPECT_EQ(Action(w, "servername1")->text().toStdString(), server) << "run " << run;
    Stop();
  }
  EXPECT_TRUE(FMessages.isEmpty()) << FMessages.join('\n').toStdString();
}

}  // namespace
}  // namespace pling::testing

namespace pling::testing {
namespace {

TEST_F(AppSettingsTest, SettingsThatCannotBeWrittenAtCloseKeepTheFileAndAskTheUser) {
  Start();
  Stop();  // the settings file as the last run left it
  const std::string before = FileText(HivePath());
  ASSERT_FALSE(before.empty());

  // Bob added, then the disk is full: the settings file stays whole; the user
  // is told which file and why, and what is not kept; tries again (in vain),
  // then saves the settings elsewhere.
  app::TPlingFrm& w = Start();
  Widget<app::TListBox>(w, "ReceiversLbx")->AddItem(QStringLiteral("Bob"));
  Action(w, "Popup1")->trigger();
  const auto elsewhere = std::filesystem::path(Root()) / "kept.ini";
  w.SaveDialog = [&](QWidget*) { return QString::fromStdString(elsewhere.string()); };
  auto full = std::make_optional<TFileSizeLimit>(16);
  FExitAnswers = {[] { return app::TExitSaveChoice::TryAgain; },
                  [&] {
                    full.reset();
                    return app::TExitSaveChoice::SaveElsewhere;
                  }};
  w.close();
  full.reset();
  EXPECT_EQ(FileText(HivePath()), before) << "the old settings file is whole";
  ASSERT_EQ(FExitQuestions.size(), 2) << "asked again after the second failure";
  const QString& question = FExitQuestions[0];
  EXPECT_TRUE(question.contains(QString::fromStdString(HivePath().string())))
      << question.toStdString();
  EXPECT_TRUE(question.contains(QStringLiteral("File too large"))) << question.toStdString();
  EXPECT_TRUE(question.contains(QStringLiteral("Receivers added: Bob"))) << question.toStdString();
  EXPECT_TRUE(question.contains(QStringLiteral("Settings changed: Popup")))
      << question.toStdString();
  const std::string kept = FileText(elsewhere);
  EXPECT_NE(kept.find("[Receivers]\r\nNAME0=Bob-\r\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Popup=0"), std::string::npos) << kept;
  EXPECT_TRUE(FMessages.isEmpty()) << FMessages.join('\n').toStdString();
}

}  // namespace
}  // namespace pling::testing
