#pragma once

// TCollapsePanel: a panel with a caption bar and a button at its side that collapses
// it to the caption bar and expands it again.

#include <QWidget>

class QLabel;
class QToolButton;
class QVBoxLayout;

class TCollapsePanel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kCaptionHeight = 20;

  TCollapsePanel(const QString& caption, int bodyHeight, QWidget* parent = nullptr);

  // The widget shown below the caption bar while expanded.
  void SetBody(QWidget* body);
  bool Expanded() const { return expanded_; }
  void SetExpanded(bool expanded);
  // Caption bar and body: the height the panel asks for when expanded.
  int ExpandedHeight() const { return kCaptionHeight + bodyHeight_; }

  QLabel* Caption() const { return caption_; }
  QToolButton* Button() const { return button_; }

 signals:
  void ExpandedChanged(bool expanded);

 private:
  QLabel* caption_;
  QToolButton* button_;
  QVBoxLayout* layout_;
  QWidget* body_ = nullptr;
  int bodyHeight_;
  bool expanded_ = true;
};
