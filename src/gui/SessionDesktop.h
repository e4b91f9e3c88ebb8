// The session window's desktop seen by service: the window of a launcher service is named by its
// key ("srvc" and the service's key), so raising it again finds it and a saved session reopens
// it. Kept apart from the descriptor model's headers, whose object provider shares its name with
// the window manager's.
#pragma once

#include "miw/Settings.h"
#include "util/Base.h"

#include <QIcon>
#include <QPointer>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>

class QMenu;
class QWidget;

namespace kestel::gui {

class Desktop;

inline constexpr const char* kServiceWindowType = "srvc";

class SessionDesktop {
public:
  // Makes the content of the window of the service with `key` and its title; null: none.
  using Maker = std::function<QWidget*(const std::string& key, QString& title)>;

  SessionDesktop(QWidget* parent, QMenu* windowsMenu, std::function<QIcon(unsigned)> icons,
                 Maker maker, SettingsRegistry& settings);
  ~SessionDesktop();
  SessionDesktop(const SessionDesktop&) = delete;
  SessionDesktop& operator=(const SessionDesktop&) = delete;

  Desktop& desktop() const;
  // The desktop as the widget that goes into the window's layout.
  QWidget* widget() const;
  // The content widget of the window of `key`: raised when open, else made and opened. Null
  // when the maker made none.
  QWidget* open(const std::string& key);
  // Takes a ready content widget into a frame of its own (not kept in session files).
  void openPlain(QWidget* content, const QString& title);
  size_t windowCount() const;
  // Each open window's content widget, topmost first.
  std::vector<QWidget*> contents() const;

  // The window manager's "open" and "wm-id"; restoring reopens the windows listed.
  void save(StringMap& session);
  void restore(const StringMap& session);
  void closeAll();

private:
  class Producer;
  class Provider;
  Producer* producer(const std::string& key);

  QPointer<Desktop> desktop_;
  Maker maker_;
  std::map<std::string, Reference<Producer>> producers_;
  std::unique_ptr<Provider> provider_;
};

} // namespace kestel::gui
