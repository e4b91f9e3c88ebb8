// Following the desktop's light or dark colour scheme while the program runs. Qt 6.4 takes the
// desktop's palette at start-up from a platform theme, but tells nothing when the user switches
// the scheme later (and Debian's Qt installs no platform theme plugin); the desktop announces the
// switch through the settings portal on the session bus ("org.freedesktop.appearance",
// "color-scheme": 1 prefers dark, 2 prefers light, 0 no preference). The follower reads the
// setting at start and on every change: a dark preference over a light palette installs the
// program's own dark palette; a light or no preference restores the desktop's palette when the
// follower had replaced it. Every window then follows through Qt's palette-change events (see
// gui/Art.h and gui/Views.h for the art and editors that redraw themselves).
#pragma once

#include <QObject>
#include <QPalette>

class QDBusVariant;

namespace kestel::gui {

enum class ColourScheme { NoPreference, Dark, Light };

// The portal's value (a number; anything else counts as no preference).
ColourScheme colourSchemeOf(uint32_t portalValue);

// The program's dark palette: dark window and base colours, light texts, for every colour group.
QPalette darkPalette();

class ColourSchemeFollower final : public QObject {
  Q_OBJECT
public:
  // Connects to the session bus when there is one; without one the palette stays as it is.
  explicit ColourSchemeFollower(QObject* parent = nullptr);
  // What a portal announcement does (public for tests, which have no portal).
  void follow(ColourScheme scheme);
  bool replacedPalette() const { return replaced_; }

private slots:
  void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
  bool replaced_ = false;
};

} // namespace kestel::gui
