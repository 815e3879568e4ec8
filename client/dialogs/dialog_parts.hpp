// dialog_parts.hpp - the look and the keyboard of the lobby's dialogs
// (internal to client/dialogs).
//
// Every dialog is laid out in client-area pixels, with white labels straight
// on the tiled background and navy fields, in one small sans-serif face, so
// the parts are made here and nowhere else. Enter and Esc are the forms' own
// (LobbyForm::SetDefaultButton, SetCancelButton).
#pragma once

#include <QColor>
#include <QFont>
#include <QStringList>
#include <functional>
#include <string>

#include "core/lobby_form.hpp"

class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QWidget;

namespace lobby {

inline const QColor kFieldColour(0, 0, 128);  // navy

// The dialogs' face: 11 pixels, the closest sans-serif present.
QFont DialogFont();
// Headings ("Your Partner is :", "Registered Users"): 13 pixels, italic.
QFont HeadingFont();
// A fixed-pitch face 12 pixels high, so that text columns line up: "Courier
// New" where present, else the closest monospaced face of the system.
QFont FixedPitchFont();

// A white, transparent label with its top-left corner at (left, top), sized
// to its text when first shown.
QLabel* AddLabel(QWidget* parent, const QString& text, int left, int top, const QFont& font = DialogFont());
// A white heading label in HeadingFont, sized to its text when first
// shown (its text and font never change).
void AddHeading(QWidget* parent, const QString& text, int left, int top);
// A navy label of fixed size that shows a value; tall ones wrap their words.
QLabel* AddValueLabel(QWidget* parent, int left, int top, int width, int height);
// Runs run once: at once if widget is visible, else when it is next shown
// (before it is painted). For work that measures text, which opens the face,
// on windows hidden at start-up. What is asked of one widget runs in the
// order asked.
void WhenShown(QWidget* widget, std::function<void()> run);
// A navy one-line edit field.
QLineEdit* AddEdit(QWidget* parent, int left, int top, int width, int height);
// A navy drop-down list that only offers its items.
QComboBox* AddDropDown(QWidget* parent, int left, int top, int width, const QStringList& items);
// Gives a list box the dialogs' navy colours.
void StyleList(QListWidget* list);

// Texts cross from the agent and the files as 8-bit strings the client's
// own windows wrote as UTF-8.
QString ToQt(const std::string& text);
std::string FromQt(const QString& text);


}  // namespace lobby
