#include "gui/TransferWindow.h"

#include "gui/Toolkit.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestel::gui {

TransferWindow::TransferWindow(FileTransfer& transfer, QWidget* parent)
    : QWidget(parent, Qt::Tool), transfer_(transfer) {
  setObjectName(transfer.direction() == FileTransfer::Direction::Upload ? "nimbalux_upload"
                                                                        : "nimbalux_download");
  setWindowTitle(tr(transfer.title()));
  label_ = new QLabel(this);
  label_->setMinimumWidth(360);
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 1000);
  bar_->setTextVisible(false);
  cancel_ = new QPushButton(tr("Cancel"), this);
  connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label_);
  layout->addWidget(bar_);
  layout->addWidget(cancel_, 0, Qt::AlignRight);
}

void TransferWindow::refresh() {
  label_->setText(qs(transfer_.status()));
  uint64_t total = transfer_.bytesTotal();
  bar_->setValue(total ? int(std::min<uint64_t>(transfer_.bytesDone() * 1000 / total, 1000))
                       : (transfer_.running() ? 0 : 1000));
  if (!transfer_.running())
    hide();
}

void TransferWindow::closeEvent(QCloseEvent* event) {
  transfer_.cancel();
  event->accept();
}

} // namespace kestel::gui
