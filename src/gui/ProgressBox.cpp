#include "gui/ProgressBox.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestel::gui {

namespace {
// The bar counts in thousandths, so totals beyond an int's range show alike.
constexpr int kSteps = 1000;
} // namespace

ProgressBox::ProgressBox(QWidget* parent, const std::string& title, const std::string& text,
                         EventListener* listener)
    : QDialog(parent), label_(new QLabel(qs(text), this)), bar_(new QProgressBar(this)),
      cancel_(new QPushButton(tr("Cancel"), this)), listener_(listener) {
  setObjectName(kMessageBoxName);
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(qs(title));
  setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  auto* layout = new QVBoxLayout(this);
  label_->setWordWrap(true);
  layout->addWidget(label_);
  bar_->setRange(0, 0); // busy until the first progress
  bar_->setTextVisible(false);
  layout->addWidget(bar_);
  layout->addWidget(cancel_, 0, Qt::AlignRight);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  const QFontMetrics fm(font());
  setMinimumWidth(fm.horizontalAdvance(QLatin1Char('M')) * 30);
}

void ProgressBox::setText(const std::string& text) { label_->setText(qs(text)); }

void ProgressBox::setProgress(uint64_t done, uint64_t total) {
  if (total == 0) {
    bar_->setRange(0, 0);
    return;
  }
  bar_->setRange(0, kSteps);
  const auto shown = done >= total
                         ? kSteps
                         : static_cast<int>(static_cast<unsigned __int128>(done) * kSteps / total);
  bar_->setValue(shown);
}

void ProgressBox::finish() {
  answer(Answer::Ok);
  accept();
}

void ProgressBox::done(int result) {
  answer(result == QDialog::Accepted ? Answer::Ok : Answer::Cancel);
  QDialog::done(result);
}

void ProgressBox::answer(Answer a) {
  if (answered_)
    return;
  answered_ = true;
  Reference<EventListener> keep = std::move(listener_);
  deliverAnswer(keep.get(), a);
}

ProgressBox* showProgressBox(QWidget* parent, const std::string& title, const std::string& text,
                             EventListener* listener) {
  auto* box = new ProgressBox(parent, title, text, listener);
  box->open();
  return box;
}

} // namespace kestel::gui
