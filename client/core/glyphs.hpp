// glyphs.hpp - the pictures of the client's buttons and of its query and
// sex pictures, drawn in code (internal).
//
// The bitmap buttons carry no caption a person could read, so each glyph
// must say by itself what its button does.
#pragma once

#include <QPixmap>
#include <QSize>

namespace lobby {

enum class Glyph {
  Ok,         // confirm / register and connect
  Cancel,     // withdraw, close a dialog without saving
  Exit,       // leave the program
  Help,       // about box and help
  Server,     // choose a server
  Refresh,    // query the server again
  Offer,      // offer a game to the selected player
  Accept,     // accept an offer
  Refuse,     // refuse an offer
  MusicOn,    // music is off: press to play
  MusicOff,   // music is on: press to stop
  Search,     // show or hide the "Look For" fields
};

// The four states of a speed button's glyph.
enum class GlyphState { Up, Disabled, Down, StaysDown };

QPixmap DrawGlyph(Glyph glyph, QSize size, GlyphState state = GlyphState::Up);

// Shown instead of the player list while a query runs.
QPixmap DrawQueryPicture(QSize size);
QPixmap DrawMalePicture(QSize size);
QPixmap DrawFemalePicture(QSize size);

}  // namespace lobby
