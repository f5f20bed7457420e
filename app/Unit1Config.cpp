// TForm1: the configuration file and the controls that show it.

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include "app/Dialogs.h"
#include "config/IniFile.h"
#include "config/IniText.h"
#include "app/Texts.h"
#include "app/Unit1.h"
#include "link/CommPort.h"
#include "link/Settings.h"

void TForm1::LoadConfig() {
  const QString iniPath = QFile::decodeName(ini_.Read.c_str());
  config_ = DecodeIni(ReadIniValues(iniPath));
  for (const BoundedValue& value : BoundStoredConfig(config_)) loadNotes_.push_back(BoundedValueMessage(value));
  for (std::string& note : BoundFileNames(config_.Block)) loadNotes_.push_back(std::move(note));
  Write_error_repeat->setChecked(config_.WriteErrorRepeat);
  DeriveSettings(config_, Settings());
  // A missing COM key keeps the standard /dev/ttyS device; an empty one
  // means no device for that COM port.
  const PortValues ports = ReadPortValues(iniPath);
  for (int i = 0; i < kPortCount; ++i) {
    if (ports[i]) SetComDevicePath(i, *ports[i]);
  }
}

void TForm1::ShowConfig() {
  const ConfigControls shown = ControlsFromConfig(config_.Block);
  const QSignalBlocker blockDelay(Delay_add);
  const QSignalBlocker blockEdit2(Edit2);
  const QSignalBlocker blockEdit3(Edit3);
  Delay_add->clear();
  for (int k = 0; k < kDelayAddItemCount; ++k) Delay_add->addItem(QString::number(DelayAddItemValue(k)));
  ClearCounterPanels(*this);
  for (int i = 0; i < kTerminalCount; ++i) {
    AddressEdits()[i]->setText(QString::fromStdString(shown.Address[i]));
    PortBoxes()[i]->setCurrentIndex(shown.PortItem[i]);
    ConnectedBoxes()[i]->setChecked(shown.Connected[i]);
  }
  K_Baud1->setCurrentIndex(shown.BaudItem);
  Mark1->setChecked(config_.ParityMark);
  CCode1->setChecked(shown.MealCoding);
  DT_use1->setChecked(shown.UseDT);
  Kredit1->setChecked(shown.CreditOn);
  Radku1->setText(QString::fromStdString(shown.Capacity));
  MxSn1->setText(QString::fromStdString(shown.BreakfastCount));
  MxVec1->setText(QString::fromStdString(shown.DinnerCount));
  InSoubor->setText(ShownText(shown.RequestFileName));
  OutSoubor->setText(ShownText(shown.OutputFileName));
  Rep_write->setCurrentIndex(shown.RepeatItem);
  Delay_add->setCurrentIndex(shown.TimeoutItem);
  Edit2->setText(QString::number(Settings().TxTurnaroundUs));
  Edit3->setText(QString::number(Settings().RxTurnaroundUs));
  Settings().LinkTimeout = LinkTimeoutForItem(Delay_add->currentIndex());
  Priority_set->setChecked(shown.HighPriority);
  Label26->setText(QStringLiteral("Datum vytvoření programu: May 30 2006"));
}

void TForm1::Delay_addChange() { Settings().LinkTimeout = LinkTimeoutForItem(Delay_add->currentIndex()); }

// Every change of Edit2 or Edit3: the transmit setting from Edit2, then the
// receive setting from Edit3. The first box that holds no number its setting
// can take stops there: a bad Edit2 leaves both settings as they were, a bad
// Edit3 only its own. The text is reported when editing ends (Edit2Exit), not
// at each keystroke.
void TForm1::Edit2Change() {
  for (const TurnaroundControl& control : TurnaroundControls()) {
    int64_t us = 0;
    if (ReadNumber(control.Edit->text().toStdString(), control.Field, us)) return;
    *control.Setting = static_cast<uint32_t>(us);
  }
}

// Enter in the box or the focus leaving it. A refused text is reported once:
// the box's own message takes the focus away again, and that is no new end.
void TForm1::Edit2Exit(int which) {
  const TurnaroundControl control = TurnaroundControls()[which];
  int64_t us = 0;
  const auto refused = ReadNumber(control.Edit->text().toStdString(), control.Field, us);
  if (!refused || turnaroundReported_[which]) return;
  turnaroundReported_[which] = true;
  ShowErrorMessage(this, QString::fromStdString(*refused));
}

std::array<TForm1::TurnaroundControl, 2> TForm1::TurnaroundControls() const {
  return {TurnaroundControl{Edit2, TxTurnaroundField(), &Settings().TxTurnaroundUs},
          TurnaroundControl{Edit3, RxTurnaroundField(), &Settings().RxTurnaroundUs}};
}

ConfigControls TForm1::ReadConfigControls() const {
  ConfigControls controls;
  for (int i = 0; i < kTerminalCount; ++i) {
    controls.Address[i] = AddressEdits()[i]->text().toStdString();
    controls.PortItem[i] = PortBoxes()[i]->currentIndex();
    controls.Connected[i] = ConnectedBoxes()[i]->isChecked();
  }
  controls.BaudItem = K_Baud1->currentIndex();
  controls.MealCoding = CCode1->isChecked();
  controls.UseDT = DT_use1->isChecked();
  controls.CreditOn = Kredit1->isChecked();
  controls.Capacity = Radku1->text().toStdString();
  controls.BreakfastCount = MxSn1->text().toStdString();
  controls.DinnerCount = MxVec1->text().toStdString();
  controls.RequestFileName = Cp1250Of(InSoubor->text());
  controls.OutputFileName = Cp1250Of(OutSoubor->text());
  controls.RepeatItem = Rep_write->currentIndex();
  controls.TimeoutItem = Delay_add->currentIndex();
  controls.HighPriority = Priority_set->isChecked();
  return controls;
}

void TForm1::BitBtn1Click() {
  ConfigBlock block;
  if (const auto refused = BuildConfigBlock(ReadConfigControls(), config_.Block, block)) {
    ShowErrorMessage(this, QString::fromStdString(*refused));
    return;
  }
  Settings().ParityMark = Mark1->isChecked();
  const StoredConfig stored{block, TurnaroundBlock{Settings().TxTurnaroundUs, Settings().RxTurnaroundUs},
                            Settings().ParityMark, Write_error_repeat->isChecked()};
  // A user's file that is not there yet starts as a copy of the site file;
  // the keys' values are replaced, every other line of the file stays.
  std::string error;
  if (!SaveConfig(ini_, stored, {}, error)) {
    ShowErrorMessage(this, QStringLiteral("Unable to write to %1").arg(QFile::decodeName(ini_.Save.c_str())));
    return;
  }
  // Yes is the default, as in the closing question: the answer that carries
  // out what the operator began; ending still takes the closing question's Yes.
  const BoxAnswer restart = ShowMessageBox(BoxRequest{
      this, BoxIcon::Warning, BoxButtons::YesNo, QStringLiteral("Varování"),
      QStringLiteral("Nastavená konfigurace bude použita až po restartu programu!\nProvést restart programu ihned?"),
      BoxAnswer::Yes});
  if (restart == BoxAnswer::Yes) close();
}
