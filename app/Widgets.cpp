#include "app/Widgets.h"

#include <QAbstractItemView>
#include <algorithm>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <QStyledItemDelegate>
#include <utility>

namespace {

// Rows of a fixed height, whatever the font asks for.
class FixedRowDelegate : public QStyledItemDelegate {
 public:
  FixedRowDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  void SetHeight(int h) { height_ = h; }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
  }

 private:
  int height_;
};

}  // namespace

// ---------------------------------------------------------------- TClickTracker

void TClickTracker::Press(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  pressed_ = true;
  clicked_ = false;
}

void TClickTracker::DoubleClick(QMouseEvent* e) {
  // The second press of a double-click whose first half was a click here
  // starts nothing; otherwise it is an ordinary press.
  if (e->button() == Qt::LeftButton && clicked_) return;
  Press(e);
}

bool TClickTracker::Release(QWidget* w, QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return false;
  const bool click = pressed_ && w->rect().contains(e->position().toPoint());
  pressed_ = false;
  clicked_ = click;
  return click;
}

// ---------------------------------------------------------------- TLabel

TLabel::TLabel(QWidget* parent) : QLabel(parent) {
  setAutoFillBackground(false);
  // Names, file names and versions come from outside: "<b>" or "&" in them
  // are characters to show, not markup.
  setTextFormat(Qt::PlainText);
}

void TLabel::SetFontColor(const QColor& c) {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, c);
  setPalette(p);
}

QColor TLabel::FontColor() const { return palette().color(QPalette::WindowText); }

void TLabel::SetFill(const QColor& c) {
  QPalette p = palette();
  p.setColor(QPalette::Window, c);
  setPalette(p);
  setAutoFillBackground(true);
}

QColor TLabel::Fill() const { return palette().color(QPalette::Window); }

void TLabel::SetTransparent() { setAutoFillBackground(false); }

void TLabel::mousePressEvent(QMouseEvent* e) {
  click_.Press(e);
  e->accept();
}

void TLabel::mouseDoubleClickEvent(QMouseEvent* e) {
  click_.DoubleClick(e);
  e->accept();
}

void TLabel::mouseReleaseEvent(QMouseEvent* e) {
  const bool click = click_.Release(this, e);
  e->accept();
  if (click) emit clicked();
}

// ---------------------------------------------------------------- TImage

TImage::TImage(QWidget* parent) : QLabel(parent) {
  setScaledContents(true);
  setAutoFillBackground(false);
}

void TImage::mousePressEvent(QMouseEvent* e) {
  click_.Press(e);
  e->accept();
}

void TImage::mouseDoubleClickEvent(QMouseEvent* e) {
  click_.DoubleClick(e);
  e->accept();
}

void TImage::mouseReleaseEvent(QMouseEvent* e) {
  const bool click = click_.Release(this, e);
  e->accept();
  if (click) emit clicked();
}

void TImage::SetPictureFile(const QString& file, const char* format) {
  pictureFile_ = file;
  pictureFormat_ = format;
  setPixmap(QPixmap());
  if (isVisible()) DecodePicture();
}

void TImage::DecodePicture() {
  if (pictureFile_.isEmpty()) return;
  const QString file = std::exchange(pictureFile_, QString());
  setPixmap(QPixmap(file, pictureFormat_));
}

void TImage::setVisible(bool visible) {
  if (visible) DecodePicture();
  QLabel::setVisible(visible);
}

void TImage::showEvent(QShowEvent* e) {
  DecodePicture();
  QLabel::showEvent(e);
}

void TImage::paintEvent(QPaintEvent* e) {
  DecodePicture();  // drawn without being shown, as by QWidget::grab
  QLabel::paintEvent(e);
}

// ---------------------------------------------------------------- TShape

TShape::TShape(QWidget* parent) : QWidget(parent), fill_(Qt::white), pen_(Qt::black) {}

void TShape::Setup(Kind kind, const QColor& fill, const QColor& pen, int penWidth) {
  kind_ = kind;
  fill_ = fill;
  pen_ = pen;
  penWidth_ = penWidth < 0 ? 0 : penWidth;
  update();
}

void TShape::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int pw = penWidth_;
  if (kind_ == Rectangle) {
    // Pixel-exact: the outline is the outer pw pixels of the box.
    p.fillRect(rect(), pw > 0 ? pen_ : fill_);
    const QRect inner = rect().adjusted(pw, pw, -pw, -pw);
    if (inner.isValid()) p.fillRect(inner, fill_);
    return;
  }
  p.setRenderHint(QPainter::Antialiasing, true);
  const qreal half = pw / 2.0;
  const QRectF box = QRectF(rect()).adjusted(half, half, -half, -half);
  const qreal radius = std::min(width(), height()) / 8.0;
  if (pw > 0) {
    QPen pen(pen_, pw);
    pen.setJoinStyle(Qt::MiterJoin);
    p.setPen(pen);
  } else {
    p.setPen(Qt::NoPen);
  }
  p.setBrush(fill_);
  p.drawRoundedRect(box, radius, radius);
}

// ---------------------------------------------------------------- TComboBox

TComboBox::TComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  setFrame(false);
  setMaxVisibleItems(8);
}

// The opened list is built when it is first opened: a window shows many
// lists and opens few of them.
void TComboBox::PreparePopup() {
  if (popupReady_) return;
  popupReady_ = true;
  // A plain list below the face rather than a menu over it, so that the
  // row limit holds under every style.
  setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
  view()->setItemDelegate(new FixedRowDelegate(rowHeight_, view()));
  view()->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  view()->setPalette(palette());
}

void TComboBox::showPopup() {
  PreparePopup();
  QComboBox::showPopup();
}

void TComboBox::SetItemIndex(int i) { setCurrentIndex(i >= 0 && i < count() ? i : -1); }

void TComboBox::SetColors(const QColor& face, const QColor& text) {
  QPalette p = palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    p.setColor(group, QPalette::Button, face);
    p.setColor(group, QPalette::Base, face);
    p.setColor(group, QPalette::Window, face);
    p.setColor(group, QPalette::ButtonText, text);
    p.setColor(group, QPalette::Text, text);
    p.setColor(group, QPalette::WindowText, text);
    p.setColor(group, QPalette::Highlight, text);
    p.setColor(group, QPalette::HighlightedText, face);
  }
  setPalette(p);
  if (popupReady_) view()->setPalette(p);
}

void TComboBox::SetRowHeight(int pixels) {
  rowHeight_ = pixels;
  if (!popupReady_) return;
  if (auto* d = dynamic_cast<FixedRowDelegate*>(view()->itemDelegate())) d->SetHeight(pixels);
  view()->doItemsLayout();
}

void TComboBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  p.fillRect(rect(), pal.color(QPalette::Button));

  // The arrow: a small filled triangle in the text colour at the right.
  const int arrowBox = std::max(12, height() * 2 / 3);
  const QRectF arrow(width() - arrowBox, 0, arrowBox, height());
  const qreal aw = std::max<qreal>(6.0, arrowBox * 0.5);
  const qreal ah = aw / 2.0;
  const QPointF c = arrow.center();
  QPolygonF tri;
  tri << QPointF(c.x() - aw / 2, c.y() - ah / 2) << QPointF(c.x() + aw / 2, c.y() - ah / 2)
      << QPointF(c.x(), c.y() + ah / 2);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(Qt::NoPen);
  p.setBrush(pal.color(QPalette::ButtonText));
  p.drawPolygon(tri);
  p.setRenderHint(QPainter::Antialiasing, false);

  const QRect textBox = rect().adjusted(4, 0, -arrowBox, 0);
  p.setFont(font());
  p.setPen(pal.color(QPalette::ButtonText));
  const QString text = p.fontMetrics().elidedText(currentText(), Qt::ElideRight, textBox.width());
  p.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, text);
}

// ---------------------------------------------------------------- TCheckListBox

TCheckListBox::TCheckListBox(QWidget* parent) : QListWidget(parent) {
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setItemDelegate(new FixedRowDelegate(rowHeight_, this));
}

void TCheckListBox::AddItem(const QString& name) {
  auto* item = new QListWidgetItem(name, this);
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setCheckState(Qt::Unchecked);
}

void TCheckListBox::SetChecked(int index, bool on) {
  if (QListWidgetItem* it = item(index)) it->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

bool TCheckListBox::Checked(int index) const {
  const QListWidgetItem* it = item(index);
  return it && it->checkState() == Qt::Checked;
}

QString TCheckListBox::ItemText(int index) const {
  const QListWidgetItem* it = item(index);
  return it ? it->text() : QString();
}

void TCheckListBox::SetRowHeight(int pixels) {
  rowHeight_ = pixels;
  if (auto* d = dynamic_cast<FixedRowDelegate*>(itemDelegate())) d->SetHeight(pixels);
  doItemsLayout();
}

// ---------------------------------------------------------------- TProgressBar

TProgressBar::TProgressBar(QWidget* parent)
    : QProgressBar(parent), background_(Qt::black), frame_(Qt::white), chunk_(Qt::white) {
  setTextVisible(false);
}

void TProgressBar::SetColors(const QColor& background, const QColor& frame, const QColor& chunk) {
  background_ = background;
  frame_ = frame;
  chunk_ = chunk;
  update();
}

void TProgressBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), frame_);
  const QRect inner = rect().adjusted(1, 1, -1, -1);
  if (!inner.isValid()) return;
  p.fillRect(inner, background_);
  const qint64 span = qint64(maximum()) - minimum();
  const qint64 done = qint64(value()) - minimum();
  if (span <= 0 || done <= 0) return;
  const int width = static_cast<int>(inner.width() * std::min(done, span) / span);
  p.fillRect(QRect(inner.left(), inner.top(), width, inner.height()), chunk_);
}
