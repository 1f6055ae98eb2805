// The parameter table in the editor's controls, and the profile file of the
// window.
#include "app/Unit1.h"
#include "profile/ProfileFile.h"

void TForm1::ResetPara() {
  vlx::ApplyFactoryValues(ParaTable);
  RegainData();
}

void TForm1::RegainData() {
  const vlx::TParaRecord& r = ParaTable[CurrentControl];
  BtnParaName->setText(QString::fromLatin1(r.Name.str()));
  EdtNameEditor->setText(QString::fromLatin1(r.NameEditorText.str()));
  CmbDataType->SetItemIndex(r.DataType);
  CmbControlMode->SetItemIndex(r.ControlMode);
  CmbChannel->SetItemIndex(r.Channel);
  EdtValue->setText(QString::number(r.Value));
  const auto globals = GlobalCombos();
  for (int i = 0; i < 8; ++i) globals[i]->SetItemIndex(ParaTable.GlobalBlock()[i]);
}

void TForm1::LoadParaFromFile(const std::string& path) { vlx::LoadProfileFile(path, ParaTable); }

void TForm1::SaveParaToFile() { vlx::WriteProfileFile(ProfilePath, ParaTable); }
