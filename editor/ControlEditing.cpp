// Choosing the control to edit and moving values between the editor and the
// table.
#include "app/Unit1.h"
#include "editor/ValueRule.h"

namespace {

std::string Latin1(const QString& s) { return s.toLatin1().toStdString(); }

}  // namespace

void TForm1::ClealAll() {
  for (int n = 1; n <= vlx::ControlCount; ++n)
    if (auto* picture = findChild<QWidget*>(QString("ImgData%1").arg(n))) picture->hide();
}

void TForm1::mCode1Click(QObject* sender) {
  // A hand-over that changed the record it left is one step of the history.
  UndoStep step(*this, true);
  // 1, 2. The clicked control, and its highlight.
  const int n = sender->property("Tag").toInt();
  ClealAll();
  if (auto* picture = findChild<QWidget*>(QString("ImgData%1").arg(n))) picture->show();

  // 3. The editor into the record of the control selected until now. The
  // value is read first: a text that is no number stores nothing.
  vlx::TParaRecord& old = ParaTable[CurrentControl];
  const int32_t value = vlx::ValueTextRule(EdtValue->text().toStdString());
  vlx::TParaRecord& next = ParaTable[n];  // a bad Tag changes nothing
  old.Value = value;
  old.Channel = CmbChannel->ItemIndex();
  QString text = EdtNameEditor->text();
  if (text.isEmpty()) text = vlx::NamePlaceholder;
  old.NameEditorText.assign(Latin1(text));
  if (text != vlx::NamePlaceholder) old.Name.assign(Latin1(text));
  old.DataType = CmbDataType->ItemIndex();

  // 4, 5. The new control, with the data types of its kind.
  CurrentControl = n;
  ShowKindOf(n);
  if (next.DataType > vlx::HighestDataType(n)) next.DataType = vlx::HighestDataType(n);
  CmbDataType->SetItemIndex(next.DataType);

  // 7 - 9.
  EdtValue->setText(QString::number(next.Value));
  CmbChannel->SetItemIndex(next.Channel);
  EdtNameEditor->setText(next.Name.Length == 0 ? QString(vlx::NamePlaceholder) : QString());
  BtnParaName->setText(QString::fromLatin1(next.Name.str()));
}

void TForm1::ShowKindOf(int n) {
  // 5. The data types of the control's kind.
  CmbDataType->clear();
  if (vlx::IsKnob(n)) {
    for (auto item : vlx::KnobDataTypes) CmbDataType->addItem(QString::fromLatin1(item.data(), item.size()));
  } else {
    for (auto item : vlx::PadSliderDataTypes) CmbDataType->addItem(QString::fromLatin1(item.data(), item.size()));
  }
  // 6. Type and channel belong to the slider and the knobs.
  const bool typed = n > 16;
  CmbDataType->setVisible(typed);
  LbType->setVisible(typed);
  CmbChannel->setVisible(typed);
  LbCHANNEL->setVisible(typed);
}

void TForm1::StorePendingInto(vlx::TParaTable& table) const {
  vlx::TParaRecord& r = table[CurrentControl];
  r.Value = vlx::ValueTextRule(EdtValue->text().toStdString());
  r.Channel = CmbChannel->ItemIndex();
  r.DataType = CmbDataType->ItemIndex();
  const QString name = EdtNameEditor->text();
  if (!name.isEmpty() && name != vlx::NamePlaceholder) r.Name.assign(Latin1(name));
  const auto globals = GlobalCombos();
  for (int i = 0; i < 8; ++i) table.GlobalBlock()[i] = globals[i]->ItemIndex();
}

void TForm1::SaveCurrentPara() { StorePendingInto(ParaTable); }

void TForm1::EdtValueKeyPress(QObject*, char16_t& key) {
  if (!vlx::ValueKeyPasses(key)) key = 0;
}
