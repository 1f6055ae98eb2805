// The window's control kinds: labels that can be clicked, pictures with a
// Tag, shapes, check lists. Thin Qt widgets; TForm1 lays them out.
//
// Colours live in the widgets' palettes (no style sheets), so they are the
// same under every Qt style:
//   TLabel        WindowText = text, Window = fill (drawn only when filled)
//   TComboBox     Button = face, ButtonText = text; Base/Text/Highlight/
//                 HighlightedText for the opened list
//   TShape        its own fill and pen
#pragma once

#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QWidget>

class QMouseEvent;

// Turns the mouse events of a widget into clicks: a press and a release
// inside it with the left button. Qt delivers a double-click as press,
// release, double-click, release; the double-click is not a second press when
// the first half already made a click, so a double-click is one click.
class TClickTracker {
 public:
  void Press(QMouseEvent* e);
  void DoubleClick(QMouseEvent* e);
  // True when this release ends a click.
  bool Release(QWidget* w, QMouseEvent* e);

 private:
  bool pressed_ = false;
  bool clicked_ = false;  // the last press here ended as a click
};

// A label; a click (press and release inside it with the left button) emits
// clicked(), and a double-click is one click. Used for section headers, field
// labels and label-buttons. Its text is shown as it is: never as rich text.
class TLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TLabel(QWidget* parent = nullptr);
  void SetFontColor(const QColor& c);   // text colour
  QColor FontColor() const;
  void SetFill(const QColor& c);        // background fill
  QColor Fill() const;                  // the fill colour (meaningful unless transparent)
  void SetTransparent();                // no fill
  bool IsTransparent() const { return !autoFillBackground(); }
 signals:
  void clicked();
 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
 private:
  TClickTracker click_;
};

// A picture scaled to its box, or (without a picture) an invisible click
// area. Tag tells the click areas apart. A click is a press and release
// inside it with the left button; a double-click is one click.
class TImage : public QLabel {
  Q_OBJECT
  Q_PROPERTY(int Tag READ Tag WRITE SetTag)
 public:
  explicit TImage(QWidget* parent = nullptr);
  int Tag() const { return tag_; }
  void SetTag(int t) { tag_ = t; }
  // The picture in file, read with the given image format ("BMP", ...) when
  // the image is first shown or drawn: a picture hidden at start-up costs
  // nothing until then. Until it is decoded, pixmap() is empty.
  void SetPictureFile(const QString& file, const char* format);
  void setVisible(bool visible) override;
 signals:
  void clicked();
 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
 private:
  void DecodePicture();
  int tag_ = 0;
  TClickTracker click_;
  QString pictureFile_;  // not decoded yet
  const char* pictureFormat_ = nullptr;
};

// A rectangle or rounded rectangle with a fill and an outline. The outline
// lies inside the box; a rounded rectangle's corner radius is an eighth of
// its shorter side.
class TShape : public QWidget {
  Q_OBJECT
 public:
  enum Kind { Rectangle, RoundRect };
  explicit TShape(QWidget* parent = nullptr);
  void Setup(Kind kind, const QColor& fill, const QColor& pen, int penWidth);
  Kind ShapeKind() const { return kind_; }
  QColor Fill() const { return fill_; }
  QColor Pen() const { return pen_; }
  int PenWidth() const { return penWidth_; }
 protected:
  void paintEvent(QPaintEvent*) override;
 private:
  Kind kind_ = Rectangle;
  QColor fill_, pen_;
  int penWidth_ = 1;
};

// A pick-only drop-down list (the user cannot type into it), drawn flat: a
// face in the palette's Button colour with the selected item's text and a
// small arrow. The opened list shows rows of RowHeight() pixels and scrolls
// after maxVisibleItems() rows.
class TComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit TComboBox(QWidget* parent = nullptr);
  int ItemIndex() const { return currentIndex(); }
  // Any position the list does not have shows as no selection (-1).
  void SetItemIndex(int i);
  // Face and text colours, also used (swapped for the selected row) by the
  // opened list.
  void SetColors(const QColor& face, const QColor& text);
  void SetRowHeight(int pixels);
  int RowHeight() const { return rowHeight_; }
  void showPopup() override;
 protected:
  void paintEvent(QPaintEvent*) override;
 private:
  void PreparePopup();
  int rowHeight_ = 20;
  bool popupReady_ = false;  // the opened list's rows and colours are set
};

// A list of names with a tick box each.
class TCheckListBox : public QListWidget {
  Q_OBJECT
 public:
  explicit TCheckListBox(QWidget* parent = nullptr);
  void AddItem(const QString& name);
  // Indices outside the list are ignored (SetChecked) or read as unchecked
  // and empty.
  void SetChecked(int index, bool on);
  bool Checked(int index) const;
  QString ItemText(int index) const;
  void SetRowHeight(int pixels);
  int RowHeight() const { return rowHeight_; }
 private:
  int rowHeight_ = 13;
};

// A continuous progress bar drawn flat: a one-pixel frame, a background and
// one unbroken chunk from the left, each in its own colour.
class TProgressBar : public QProgressBar {
  Q_OBJECT
 public:
  explicit TProgressBar(QWidget* parent = nullptr);
  void SetColors(const QColor& background, const QColor& frame, const QColor& chunk);
 protected:
  void paintEvent(QPaintEvent*) override;
 private:
  QColor background_, frame_, chunk_;
};
