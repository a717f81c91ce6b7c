// SPDX-License-Identifier: GPL-3.0-or-later
// The program's pictures: each one is compiled in, is drawn by Qt's SVG support at
// the sizes the window and the notification area ask for, and is not blank.
#include <QtCore/QByteArray>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QImage>
#include <QtGui/QImageReader>
#include <QtGui/QPixmap>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pling_resources.h"

namespace {

class Pictures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "pling_resources_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QGuiApplication>(argc, argv);
  }
  static void TearDownTestSuite() { app_.reset(); }

  // Draws the picture as the icon would be drawn at that size and counts the pixels
  // that are not fully transparent.
  static QImage draw(const QString& path, int size) {
    return QIcon(path).pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
  }
  static int opaquePixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) n += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    return n;
  }

  static std::unique_ptr<QGuiApplication> app_;
};
std::unique_ptr<QGuiApplication> Pictures::app_;

TEST_F(Pictures, EveryPictureIsCompiledInAndDrawsAtItsSizes) {
  ASSERT_TRUE(QImageReader::supportedImageFormats().contains("svg"))
      << "Qt's SVG image-format plugin is missing (Debian package libqt6svg6)";
  const struct {
    const char* path;
    int size;
  } pictures[] = {{":/pling/start.svg", 16},      {":/pling/logo.svg", 32},
                  {":/pling/tray-quiet.svg", 16}, {":/pling/tray-incoming.svg", 16},
                  {":/pling/pling.svg", 48},      {":/pling/pling.svg", 256}};
  for (const auto& p : pictures) {
    SCOPED_TRACE(std::string(p.path) + " at " + std::to_string(p.size));
    ASSERT_TRUE(QFile::exists(QString::fromLatin1(p.path)));
    const QImage image = draw(QString::fromLatin1(p.path), p.size);
    ASSERT_EQ(image.size(), QSize(p.size, p.size));
    // A drawn picture covers a fair part of its square and leaves some of it clear.
    const int opaque = opaquePixels(image);
    EXPECT_GT(opaque, p.size * p.size / 4);
    EXPECT_LE(opaque, p.size * p.size);
  }
}

TEST_F(Pictures, TheTwoTrayPicturesTellApart) {
  const QImage quiet = draw(QStringLiteral(":/pling/tray-quiet.svg"), 16);
  const QImage incoming = draw(QStringLiteral(":/pling/tray-incoming.svg"), 16);
  ASSERT_FALSE(quiet.isNull());
  ASSERT_FALSE(incoming.isNull());
  int differing = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) differing += quiet.pixel(x, y) != incoming.pixel(x, y) ? 1 : 0;
  EXPECT_GT(differing, 64) << "an incoming message must be visible at a glance";
}

TEST_F(Pictures, ExplicitRegistrationIsHarmless) {
  pling::initResources();
  pling::initResources();
  EXPECT_EQ(QDir(QStringLiteral(":/pling")).entryList().size(), 5);
  EXPECT_FALSE(draw(QStringLiteral(":/pling/start.svg"), 16).isNull());
}

}  // namespace
