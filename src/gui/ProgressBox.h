// The progress box: a modal box with a text, a progress bar and a Cancel button, for work that
// runs on the event loop (uploads, downloads, long queries). The owner moves the bar and calls
// finish() when the work is over; the listener gets exactly one answer: Ok from finish(), Cancel
// when the user cancels (the button, Escape or closing the box).
#pragma once

#include "gui/Toolkit.h"

#include <QDialog>

#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kestel::gui {

class ProgressBox final : public QDialog {
public:
  ProgressBox(QWidget* parent, const std::string& title, const std::string& text,
              EventListener* listener);

  void setText(const std::string& text);
  // `done` of `total`; a total of 0 (not known yet) shows a busy bar. Done beyond the total
  // shows a full bar.
  void setProgress(uint64_t done, uint64_t total);
  // The work is over: answers Ok and closes the box.
  void finish();

  QLabel* label() const { return label_; }
  QProgressBar* bar() const { return bar_; }
  QPushButton* cancelButton() const { return cancel_; }

protected:
  void done(int result) override;

private:
  void answer(Answer a);

  QLabel* label_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  Reference<EventListener> listener_;
  bool answered_ = false;
};

// Makes and opens a progress box (deleted when closed); `parent` may be null (application-modal).
ProgressBox* showProgressBox(QWidget* parent, const std::string& title, const std::string& text,
                             EventListener* listener);

} // namespace kestel::gui
