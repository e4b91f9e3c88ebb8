#include "gui/TorchWindow.h"

#include "gui/Toolkit.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kestel::gui {

TorchWindow::TorchWindow(Reactor& reactor, QWidget* parent)
    : QWidget(parent), monitor_(std::make_unique<TorchMonitor>(reactor, [this] { refresh(); })) {
  setObjectName(kTorchWindowName);
  setWindowTitle(tr("Torch"));
  auto* form = new QFormLayout;
  for (size_t i = 0; i < fields_.size(); ++i) {
    fields_[i] = new QLineEdit(this);
    form->addRow(tr(kTorchFilterFields[i]), fields_[i]);
    connect(fields_[i], &QLineEdit::returnPressed, this, &TorchWindow::start);
  }
  startButton_ = new QPushButton(tr("Start"), this);
  stopButton_ = new QPushButton(tr("Stop"), this);
  stopButton_->setEnabled(false);
  connect(startButton_, &QPushButton::clicked, this, &TorchWindow::start);
  connect(stopButton_, &QPushButton::clicked, this, &TorchWindow::stop);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(startButton_);
  buttons->addWidget(stopButton_);
  buttons->addStretch();
  auto* top = new QHBoxLayout;
  top->addLayout(form, 1);
  top->addLayout(buttons);

  table_ = new QTableWidget(0, int(kTorchColumns.size()), this);
  QStringList headers;
  for (const char* column : kTorchColumns)
    headers << tr(column);
  table_->setHorizontalHeaderLabels(headers);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->hide();
  status_ = new QLabel(this);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(table_, 1);
  layout->addWidget(status_);
}

TorchWindow::~TorchWindow() = default;

void TorchWindow::start() {
  TorchFilterText filter;
  for (size_t i = 0; i < fields_.size(); ++i)
    filter[i] = ss(fields_[i]->text().trimmed());
  if (!monitor_->start(filter)) {
    status_->setText(qs(monitor_->error()));
    return;
  }
  status_->setText(tr("running"));
  stopButton_->setEnabled(true);
}

void TorchWindow::stop() {
  monitor_->stop();
  stopButton_->setEnabled(false);
  status_->setText(tr("stopped"));
}

// Numbers and rates are right-aligned, so that their magnitudes line up.
void TorchWindow::refresh() {
  if (!monitor_->error().empty()) {
    status_->setText(qs(monitor_->error()));
    stopButton_->setEnabled(monitor_->running());
    return;
  }
  const auto& flows = monitor_->flows();
  table_->setRowCount(int(flows.size()));
  for (size_t row = 0; row < flows.size(); ++row) {
    for (size_t column = 0; column < kTorchColumns.size(); ++column) {
      auto* item = new QTableWidgetItem(qs(torchCell(flows[row], column)));
      bool number = column == 2 || column >= 4;
      item->setTextAlignment(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
      table_->setItem(int(row), int(column), item);
    }
  }
  status_->setText(tr("%n flow(s)", nullptr, int(flows.size())));
}

} // namespace kestel::gui
