// The launcher's search box: a line edit with the hits listed under it as the user types
// (app/LauncherSearch ranks them). Up and Down move through the list, Return (or a click)
// activates the current hit, Escape clears the box. Activation hands the hit to the callback: a
// launcher entry to open, a menu and field to show, or a table's row to select.
#pragma once

// The core's headers before Qt's: ObjectMap declares emit(), which Qt's keyword of that name
// breaks.
#include "app/LauncherSearch.h"

#include <QWidget>

#include <functional>
#include <memory>

class QLineEdit;
class QListWidget;

namespace kestel::gui {

class LauncherSearchBox final : public QWidget {
public:
  using Activated = std::function<void(const SearchHit&)>;
  LauncherSearchBox(std::unique_ptr<LauncherSearch> search, Activated activated,
                    QWidget* parent = nullptr);
  ~LauncherSearchBox() override;

  QLineEdit* edit() const { return edit_; }
  QListWidget* results() const { return results_; }
  const std::vector<SearchHit>& hits() const { return hits_; }
  // The open tables changed (the session window tells): searched again in full.
  void tablesChanged();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void find(const QString& text);
  void activate(int row);

  std::unique_ptr<LauncherSearch> search_;
  Activated activated_;
  std::vector<SearchHit> hits_;
  QLineEdit* edit_ = nullptr;
  QListWidget* results_ = nullptr;
};

} // namespace kestel::gui
