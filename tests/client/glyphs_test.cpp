// The button faces and pictures: every face tells itself apart from the
// others and from its own other states, and the buttons show them.
#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <vector>

#include "core/bitmap_button.hpp"
#include "core/glyphs.hpp"

namespace {

using lobby::Glyph;
using lobby::GlyphState;

const Glyph kAll[] = {Glyph::Ok,      Glyph::Cancel, Glyph::Exit,   Glyph::Help,    Glyph::Server,   Glyph::Refresh,
                      Glyph::Offer,   Glyph::Accept, Glyph::Refuse, Glyph::MusicOn, Glyph::MusicOff, Glyph::Search};
const GlyphState kStates[] = {GlyphState::Up, GlyphState::Disabled, GlyphState::Down, GlyphState::StaysDown};

QImage Face(Glyph glyph, GlyphState state, QSize size = {85, 41}) {
  return lobby::DrawGlyph(glyph, size, state).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Mean saturation (0..1) of the pixels that are mostly opaque.
double Saturation(const QImage& image) {
  double sum = 0;
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.alpha() < 200) continue;
      sum += c.hsvSaturationF();
      ++n;
    }
  return n == 0 ? 0 : sum / n;
}

TEST(Glyphs, EveryFaceDiffersFromEveryOtherAndFromItsOtherStates) {
  for (QSize size : {QSize(85, 41), QSize(74, 36), QSize(65, 65)}) {
    std::vector<QImage> faces;
    for (Glyph g : kAll)
      for (GlyphState s : kStates) faces.push_back(Face(g, s, size));
    for (std::size_t i = 0; i < faces.size(); ++i) {
      EXPECT_EQ(faces[i].size(), size);
      for (std::size_t j = i + 1; j < faces.size(); ++j)
        EXPECT_NE(faces[i], faces[j]) << "faces " << i << " and " << j << " at " << size.width() << "x" << size.height();
    }
  }
}

TEST(Glyphs, AFaceFillsItsButtonWithRoundedCorners) {
  for (Glyph g : kAll) {
    const QImage face = Face(g, GlyphState::Up);
    EXPECT_EQ(face.pixelColor(42, 20).alpha(), 255) << static_cast<int>(g);
    EXPECT_EQ(face.pixelColor(0, 0).alpha(), 0) << static_cast<int>(g);
    EXPECT_EQ(face.pixelColor(84, 40).alpha(), 0) << static_cast<int>(g);
  }
}

TEST(Glyphs, ADisabledFaceIsGreyAndOthersAreInColour) {
  for (Glyph g : kAll) {
    EXPECT_LT(Saturation(Face(g, GlyphState::Disabled)), 0.1) << static_cast<int>(g);
    EXPECT_GT(Saturation(Face(g, GlyphState::Up)), 0.3) << static_cast<int>(g);
  }
}

TEST(Glyphs, PicturesFillTheirPlaces) {
  const QImage male = lobby::DrawMalePicture(QSize(32, 32)).toImage();
  const QImage female = lobby::DrawFemalePicture(QSize(32, 32)).toImage();
  EXPECT_EQ(male.size(), QSize(32, 32));
  EXPECT_NE(male, female);
  EXPECT_EQ(male.pixelColor(16, 16).alpha(), 255);
  EXPECT_EQ(female.pixelColor(16, 16).alpha(), 255);
  const QImage query = lobby::DrawQueryPicture(QSize(137, 169)).toImage();
  EXPECT_EQ(query.size(), QSize(137, 169));
  for (QPoint p : {QPoint(0, 0), QPoint(136, 168), QPoint(68, 84)}) EXPECT_EQ(query.pixelColor(p).alpha(), 255);
}

TEST(Buttons, ShowTheirFaceForTheirState) {
  QWidget window;
  window.resize(200, 100);
  lobby::BitmapButton button(Glyph::Refresh, "Refresh", &window);
  button.setGeometry(0, 0, 81, 41);
  lobby::SpeedButton search(Glyph::Search, "Look For", &window);
  search.setGeometry(100, 0, 65, 65);

  const QImage up = button.grab().toImage();
  button.setEnabled(false);
  const QImage disabled = button.grab().toImage();
  EXPECT_NE(up, disabled);
  button.setEnabled(true);
  button.setGlyph(Glyph::Offer);
  EXPECT_NE(button.grab().toImage(), up);

  const QImage searchUp = search.grab().toImage();
  search.setDown(true);
  EXPECT_TRUE(search.isStayingDown());
  const QImage searchDown = search.grab().toImage();
  EXPECT_NE(searchUp, searchDown);
  search.setDown(false);
  EXPECT_EQ(search.grab().toImage(), searchUp);
  EXPECT_EQ(search.focusPolicy(), Qt::NoFocus);
}

}  // namespace
