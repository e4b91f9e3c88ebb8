// A window of table panes: one pane fills it; several are tabs, the current tab being the active
// pane. Its record keeps the panes' own records ("panes", in order) and the active one
// ("active"); each pane keeps its selection ("sel") in its record.
#pragma once

#include "gui/TablePane.h"
#include "miw/Settings.h"

#include <QWidget>

#include <string>
#include <vector>

class QTabWidget;

namespace kestel::gui {

inline constexpr const char* kTableWindowName = "nimbalux_tablewindow";

class TableWindow final : public QWidget, public IPersistent {
  Q_OBJECT
public:
  explicit TableWindow(const std::string& title, SettingsRegistry& settings = settingsRegistry(),
                       QWidget* parent = nullptr);

  // The window takes the pane (which gets the window's inline-comments preference); the tab bar
  // shows once there are two.
  void addPane(TablePane* pane, const std::string& title);
  // The session-wide inline-comments preference, for every pane now and later.
  void setInlineComments(bool on);
  int paneCount() const;
  TablePane* pane(int index) const;
  TablePane* activePane() const;
  void setActivePane(int index);

  void saveState(StringMap& settings, uint32_t flags) override;
  // Hands each pane the record saved for the pane at its place; records of panes the window no
  // longer has are left alone.
  void loadState(const StringMap& settings) override;

private:
  SettingsRegistry& settings_;
  QTabWidget* tabs_;
  std::vector<uint32_t> records_; // each pane's record id, kNoSettingsId until first saved
  bool inlineComments_ = false;
};

} // namespace kestel::gui
