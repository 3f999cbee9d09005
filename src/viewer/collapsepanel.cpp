#include "viewer/collapsepanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

TCollapsePanel::TCollapsePanel(const QString& caption, int bodyHeight, QWidget* parent)
    : QWidget(parent), bodyHeight_(bodyHeight) {
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::white);
  setPalette(p);

  auto* bar = new QWidget(this);
  bar->setFixedHeight(kCaptionHeight);
  bar->setAutoFillBackground(true);
  QPalette barPalette = bar->palette();
  barPalette.setColor(QPalette::Window, QColor(0xE4, 0xE8, 0xEE));
  bar->setPalette(barPalette);
  auto* barLayout = new QHBoxLayout(bar);
  barLayout->setContentsMargins(0, 0, 2, 0);
  barLayout->setSpacing(0);
  caption_ = new QLabel(caption, bar);
  button_ = new QToolButton(bar);
  button_->setAutoRaise(true);
  button_->setFixedSize(kCaptionHeight - 2, kCaptionHeight - 2);
  button_->setFocusPolicy(Qt::NoFocus);
  barLayout->addWidget(caption_, 1);
  barLayout->addWidget(button_);

  layout_ = new QVBoxLayout(this);
  layout_->setContentsMargins(0, 0, 0, 0);
  layout_->setSpacing(0);
  layout_->addWidget(bar);
  connect(button_, &QToolButton::clicked, this, [this] { SetExpanded(!expanded_); });
  SetExpanded(false);
}

void TCollapsePanel::SetBody(QWidget* body) {
  body_ = body;
  layout_->addWidget(body, 1);
  body->setVisible(expanded_);
}

void TCollapsePanel::SetExpanded(bool expanded) {
  const bool changed = expanded != expanded_;
  expanded_ = expanded;
  if (body_) body_->setVisible(expanded);
  if (expanded) {
    setMinimumHeight(kCaptionHeight);
    setMaximumHeight(QWIDGETSIZE_MAX);
  } else {
    setFixedHeight(kCaptionHeight);
  }
  button_->setArrowType(expanded ? Qt::DownArrow : Qt::UpArrow);
  button_->setToolTip(expanded ? tr("Collapse the grid") : tr("Expand the grid"));
  if (changed) emit ExpandedChanged(expanded);
}
