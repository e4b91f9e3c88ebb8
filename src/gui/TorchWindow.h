// The "Torch" window of the session's "Tools" menu: the filter fields above the table of flows the
// router saw in the last second, busiest first, refreshed once a second while it runs. A wrong
// filter or the router's refusal shows in the status line.
#pragma once

#include "app/Torch.h"

#include <QWidget>

#include <array>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace kestel::gui {

inline constexpr const char* kTorchWindowName = "nimbalux_torch";

class TorchWindow final : public QWidget {
  Q_OBJECT
public:
  explicit TorchWindow(Reactor& reactor, QWidget* parent = nullptr);
  ~TorchWindow() override;

  // Starts with the filter as typed, or stops; as the Start and Stop buttons do.
  void start();
  void stop();

  QLineEdit* field(size_t index) const { return fields_[index]; }
  QTableWidget* table() const { return table_; }
  QLabel* status() const { return status_; }

private:
  void refresh();

  std::unique_ptr<TorchMonitor> monitor_;
  std::array<QLineEdit*, kTorchFilterFields.size()> fields_{};
  QPushButton* startButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* status_ = nullptr;
};

} // namespace kestel::gui
