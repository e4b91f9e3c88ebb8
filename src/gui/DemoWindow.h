// The demonstration window the program opens until the loader exists: a session desktop (the
// window manager's MDI area with its "Windows" menu) holding a form with every value view kind
// over sample values, the icons of the router's sprite sheets, and the toolkit's boxes and zoom.
// scripts/screenshots.sh renders it; the GUI tests use it to see the parts work together.
#pragma once

#include "gui/Desktop.h"
#include "gui/Icons.h"
#include "gui/Tooltips.h"
#include "gui/Views.h"

#include <QMainWindow>

#include <memory>
#include <vector>

namespace kestel::gui {

class DemoWindow final : public QMainWindow {
  Q_OBJECT
public:
  // `iconFolder` holds icons16/24/32.png, or the router's icons.png, icons24.png, icons32.png as
  // the descriptor cache stores them; empty: no sheets.
  explicit DemoWindow(const std::string& iconFolder, QWidget* parent = nullptr);
  ~DemoWindow() override;

  Desktop& desktop() { return *desktop_; }
  const std::vector<ValueView*>& views() const { return views_; }
  // Open the demonstration's windows (again, after they were closed); the first show opens all.
  void openViewsWindow();
  void openIconsWindow();
  void openToolkitWindow();
  // Writes PNGs of the whole window (also in the dark palette) and of each desktop window into
  // `folder` (review shots); returns the files written.
  QStringList saveScreenshots(const QString& folder);

protected:
  bool event(QEvent* event) override;

private:
  QWidget* makeViewsForm();
  QWidget* makeIconsPane();
  QWidget* makeToolkitPane();

  IconProvider icons_;
  Desktop* desktop_;
  TooltipController tooltips_;
  std::vector<std::unique_ptr<IValueCell>> cells_;
  std::vector<ValueView*> views_;
  bool firstShown_ = false;
};

} // namespace kestel::gui
