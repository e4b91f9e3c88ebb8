// The query window: the query's request fields, the buttons "Start", "Stop" and "Cancel", and
// the results as a table over the query's results map, which fills while the query runs. The
// title gets " (Running)" while it runs, as the action window's does. "Cancel" closes the window;
// closing it stops a running query, so the router ends the search.
#pragma once

#include "gui/WindowContext.h"
#include "util/Base.h"

#include <QWidget>

#include <string>

class QPushButton;

namespace kestel {
class CQuery;
class CType;
class ObjectQuery;
} // namespace kestel

namespace kestel::gui {

class SlotForm;
class TablePane;

inline constexpr const char* kQueryWindowName = "nimbalux_query";

class QueryWindow final : public QWidget {
  Q_OBJECT
public:
  QueryWindow(CQuery& type, Reference<ObjectQuery> query, QWidget* parent = nullptr);
  ~QueryWindow() override;

  // Checks and applies the request fields, then starts the query (again); nothing when a field
  // is not valid.
  void start();
  void stop();

  ObjectQuery& query() const { return *query_; }
  SlotForm* request() const { return request_; }
  TablePane* results() const { return results_; }
  QPushButton* startButton() const { return start_; }
  QPushButton* stopButton() const { return stop_; }
  QPushButton* cancelButton() const { return cancel_; }

private:
  class Relay;
  void showState();

  Reference<ObjectQuery> query_;
  Reference<Relay> relay_;
  std::string name_;
  SlotForm* request_ = nullptr;
  TablePane* results_ = nullptr;
  QPushButton* start_;
  QPushButton* stop_;
  QPushButton* cancel_;
};

// The window of the query `type` describes (TypeKind::Query), with a query of its own; in a
// session it opens in a frame of the desktop. Returns the content widget; null when `type` is no
// completed query.
QWidget* createQueryWindow(CType& type, const WindowContext& context);

} // namespace kestel::gui
