// SPDX-License-Identifier: GPL-3.0-or-later
// Saving the panes to text files and loading a file into the send pane.
#include <sys/stat.h>

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app_fixture.h"
#include "files.h"

namespace pling::testing {
namespace {

class FilesTest : public AppTest {
 protected:
  std::filesystem::path File(const char* name) const {
    return std::filesystem::path(Root()) / name;
  }
  static void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  void Choose(app::TPlingFrm& w, const std::filesystem::path& path) {
    const QString chosen = QString::fromStdString(path.string());
    w.SaveDialog = [chosen](QWidget*) { return chosen; };
    w.OpenDialog = [chosen](QWidget*) { return chosen; };
  }
  // Runs a menu command as a click does: through the event loop, whose handler
  // shows what the command raises.
  static void Click(QAction* action) {
    QMetaObject::invokeMethod(action, "trigger", Qt::QueuedConnection);
    QTest::qWait(20);
  }
};

TEST_F(FilesTest, SavedPanesAreAnsiTextWithCrLfAndWrappingIsNotSaved) {
  app::TPlingFrm& w = Start();
  Choose(w, File("received.txt"));
  Action(w, "Saveas1")->trigger();
  EXPECT_EQ(FileText(File("received.txt")), "") << "an empty pane saves an empty file";

  Action(w, "RecvLinewrap")->trigger();
  const std::string longLine(300, 'x');
  Widget<app::TMemo>(w, "ReceivedMmo")->appendPlainText(QString::fromStdString(longLine));
  Widget<app::TMemo>(w, "ReceivedMmo")->appendPlainText(QStringLiteral("caf\u00E9 no\u00A0break"));
  Action(w, "Saveas3")->trigger();
  EXPECT_EQ(FileText(File("received.txt")), longLine +
                                                "\r\ncaf\xE9 no\xA0"
                                                "break\r\n")
      << "every character as it came, the no-break space too";

  // Loading: CR alone, LF alone and LF CR are line breaks; the pane is replaced.
  Write(File("in.txt"), "one\ntwo\rthree\n\rfour\r\nfive");
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("old text"));
  Choose(w, File("in.txt"));
  Action(w, "Open2")->trigger();
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(),
            QStringLiteral("one\ntwo\nthree\nfour\nfive"));
  Choose(w, File("send.txt"));
  Action(w, "Saveas2")->trigger();
  EXPECT_EQ(FileText(File("send.txt")), "one\r\ntwo\r\nthree\r\nfour\r\nfive");
  EXPECT_TRUE(FMessages.isEmpty());
}

TEST_F(FilesTest, TheOpenDialogStartsWhereTheLastOpenEnded) {
  app::TPlingFrm& w = Start();
  std::filesystem::create_directories(File("opened"));
  std::filesystem::create_directories(File("saved"));
  Write(File("opened") / "in.txt", "loaded");
  // Answers the next file dialog (the program's own), noting where it started.
  QStringList startedIn;
  const auto answer = [&startedIn](const std::filesystem::path& file) {
    QTimer::singleShot(0, [&startedIn, file] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return ADD_FAILURE() << "no file dialog";
      startedIn << QDir(dialog->directory()).canonicalPath();
      if (file.empty()) return dialog->reject();
      dialog->selectFile(QString::fromStdString(file.string()));
      static_cast<QDialog*>(dialog)->accept();
    });
  };
  answer(File("opened") / "in.txt");
  Action(w, "Open1")->trigger();
  ASSERT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(), QStringLiteral("loaded"));
  // A save elsewhere in between does not move the open dialog.
  answer(File("saved") / "out.txt");
  Action(w, "Saveas2")->trigger();
  ASSERT_EQ(FileText(File("saved") / "out.txt"), "loaded");
  answer({});
  Action(w, "Open2")->trigger();
  ASSERT_EQ(startedIn.size(), 3);
  EXPECT_EQ(startedIn[2], QDir(QString::fromStdString(File("opened").string())).canonicalPath());
  EXPECT_TRUE(FMessages.isEmpty()) << FMessages.join('\n').toStdString();
}

TEST_F(FilesTest, FilesThatCannotBeWrittenOrReadAreReportedAndThePaneKeepsItsText) {
  app::TPlingFrm& w = Start();
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("keep me"));
  const auto folder = File("folder");
  std::filesystem::create_directory(folder);
  Choose(w, folder);  // a folder can be neither written nor read as a file
  Click(Action(w, "Saveas2"));
  Click(Action(w, "Open1"));
  ASSERT_EQ(FMessages.size(), 2);
  EXPECT_EQ(FMessages[0], QStringLiteral("Cannot save ") + QString::fromStdString(folder.string()) +
                              QStringLiteral(": is a folder, not a file"));
  EXPECT_EQ(FMessages[1],
            QStringLiteral("Cannot open file ") + QString::fromStdString(folder.string()));
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(), QStringLiteral("keep me"));
  // A pipe is not opened at all: it would keep the window waiting for a writer.
  const auto pipe = File("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  Choose(w, pipe);
  Click(Action(w, "Open1"));
  ASSERT_EQ(FMessages.size(), 3);
  EXPECT_EQ(FMessages[2],
            QStringLiteral("Cannot open file ") + QString::fromStdString(pipe.string()));
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(), QStringLiteral("keep me"));
  // A cancelled dialog changes nothing.
  w.OpenDialog = [](QWidget*) { return QString(); };
  Action(w, "Open1")->trigger();
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(), QStringLiteral("keep me"));
}

TEST_F(FilesTest, ASaveThatCannotBeWrittenWholeLeavesTheFileAsItWasAndSaysWhy) {
  // The size limit holds for the whole process: the message history's writer,
  // opening its file meanwhile, would fail and say so too. This is about Save as.
  Store()->WriteText("Settings", "History", "0");
  app::TPlingFrm& w = Start();
  const auto notes = File("notes.txt");
  const std::string old = "thirty-two bytes of older notes\n";
  Write(notes, old);
  Widget<app::TMemo>(w, "ReceivedMmo")->setPlainText(QString(300, QLatin1Char('x')));
  Choose(w, notes);
  {
    TFileSizeLimit full(16);  // as a disk that fills up while the file is written
    Click(Action(w, "Saveas1"));
  }
  ASSERT_EQ(FMessages.size(), 1);
  EXPECT_EQ(FMessages[0],
            QStringLiteral("Cannot save ") + QString::fromStdString(notes.string()) +
                QStringLiteral(": File too large\nThe file there was left as it was."));
  EXPECT_EQ(FileText(notes), old);
  for (const auto& entry : std::filesystem::directory_iterator(Root()))
    EXPECT_TRUE(entry.path() == notes || entry.is_directory()) << entry.path() << " was left";
}

TEST_F(FilesTest, TextBeyondTheSendPanesCapacityIsRefusedAndThePaneKeepsItsText) {
  app::TPlingFrm& w = Start();
  Widget<app::TMemo>(w, "SendMmo")->setPlainText(QStringLiteral("keep me"));
  // A file one byte past the capacity (sparse: nothing is written to disk).
  const auto big = File("big.txt");
  std::filesystem::resize_file(
      (Write(big, ""), big),
      static_cast<std::uintmax_t>(Widget<app::TMemo>(w, "SendMmo")->Capacity()) + 1);
  Choose(w, big);
  Click(Action(w, "Open1"));
  ASSERT_EQ(FMessages.size(), 1);
  EXPECT_EQ(FMessages[0], QStringLiteral("Text exceeds memo capacity"));
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(), QStringLiteral("keep me"));

  // A paste may fill the pane up to its capacity, not past it; what it replaces
  // counts as room.
  Widget<app::TMemo>(w, "SendMmo")->SetCapacity(10);
  QGuiApplication::clipboard()->setText(QStringLiteral("abc"));
  Widget<app::TMemo>(w, "SendMmo")->moveCursor(QTextCursor::End);
  Widget<app::TMemo>(w, "SendMmo")->paste();
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(), QStringLiteral("keep meabc"));
  Widget<app::TMemo>(w, "SendMmo")->paste();
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(), QStringLiteral("keep meabc"));
  EXPECT_EQ(FMessages.size(), 2);
  Widget<app::TMemo>(w, "SendMmo")->selectAll();
  Widget<app::TMemo>(w, "SendMmo")->paste();
  EXPECT_EQ(Widget<app::TMemo>(w, "SendMmo")->toPlainText(), QStringLiteral("abc"));
}

}  // namespace
}  // namespace pling::testing
