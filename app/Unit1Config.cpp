// TForm1: the configuration file and the controls that show it.

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSignalBlocker>

#include "app/Dialogs.h"
#include "app/IniFile.h"
#include "app/Unit1.h"
#include "link/CommPort.h"
#include "link/Cp1250.h"
#include "link/Settings.h"

namespace {

const QString kSection = QString::fromLatin1(IniSection);
const QString kPortSection = QStringLiteral("Porty");
const QString kCfgBinary = QString::fromLatin1(IniCfgBinary);
const QString kTestBinary = QString::fromLatin1(IniTestBinary);
const QString kParita = QString::fromLatin1(IniParita);
const QString kNeuspechKonec = QString::fromLatin1(IniNeuspechKonec);

// Section "Porty": COM1 ... COM8 name the devices; a missing key keeps the
// standard /dev/ttyS device.
void ReadPortPaths(QSettings& ini) {
  ini.beginGroup(kPortSection);
  for (int i = 0; i < PortCount; ++i) {
    const QString path = ini.value(QStringLiteral("COM%1").arg(i + 1)).toString();
    if (!path.isEmpty()) SetComDevicePath(i, QFile::encodeName(path).toStdString());
  }
  ini.endGroup();
}

QString TextOf(const std::string& cp1250) { return QString::fromStdString(Utf8FromCp1250(cp1250)); }
std::string BytesOf(const QLineEdit* edit) { return Cp1250FromUtf8(edit->text().toStdString()); }

}  // namespace

void TForm1::LoadConfig() {
  config_ = DecodeIni(ReadIniValues(iniPath_));
  Write_error_repeat->setChecked(config_.WriteErrorRepeat);
  DeriveSettings(config_, Settings());
  QSettings ini(iniPath_, QSettings::IniFormat);
  ReadPortPaths(ini);
}

void TForm1::ShowConfig() {
  const ConfigBlock& block = config_.Block;
  const QSignalBlocker blockDelay(Delay_add);
  const QSignalBlocker blockEdit2(Edit2);
  const QSignalBlocker blockEdit3(Edit3);
  Delay_add->clear();
  for (int k = 0; k < DelayAddItemCount; ++k) Delay_add->addItem(QString::number(DelayAddItemValue(k)));
  ClearCounterPanels();
  for (int i = 0; i < TerminalCount; ++i) {
    const TerminalEntry& entry = block.Terminals[i];
    AddressEdits()[i]->setText(QString::number(entry.Address));
    PortBoxes()[i]->setCurrentIndex(ItemIndexOrDefault(entry.PortIndex, PortCount, DefaultPortIndex));
    ConnectedBoxes()[i]->setChecked(entry.Connected);
  }
  K_Baud1->setCurrentIndex(ItemIndexOrDefault(block.BaudIndex, BaudItemCount, DefaultBaudIndex));
  Mark1->setChecked(config_.ParityMark);
  CCode1->setChecked(block.MealCoding);
  DT_use1->setChecked(block.UseDT);
  Kredit1->setChecked(block.CreditOn);
  Radku1->setText(QString::number(block.Capacity));
  MxSn1->setText(QString::number(block.BreakfastCount));
  MxVec1->setText(QString::number(block.DinnerCount));
  InSoubor->setText(TextOf(block.RequestFileName));
  OutSoubor->setText(TextOf(block.OutputFileName));
  Rep_write->setCurrentIndex(ItemIndexOrDefault(block.RepeatIndex, RepeatItemCount, DefaultRepeatIndex));
  Delay_add->setCurrentIndex(ItemIndexOrDefault(block.TimeoutIndex, DelayAddItemCount, DefaultTimeoutIndex));
  Edit2->setText(QString::number(Settings().TxTurnaroundUs));
  Edit3->setText(QString::number(Settings().RxTurnaroundUs));
  Settings().LinkTimeout = LinkTimeoutForItem(Delay_add->currentIndex());
  Priority_set->setChecked(block.HighPriority);
  Label26->setText(QStringLiteral("Datum vytvoření programu: May 30 2006"));
}

void TForm1::Delay_addChange() { Settings().LinkTimeout = LinkTimeoutForItem(Delay_add->currentIndex()); }

void TForm1::Edit2Change() {
  uint32_t tx = 0;
  if (!ParseMicroseconds(Edit2->text().toStdString(), tx)) {
    ShowConversionError(Edit2->text());
    return;
  }
  Settings().TxTurnaroundUs = tx;
  uint32_t rx = 0;
  if (!ParseMicroseconds(Edit3->text().toStdString(), rx)) {
    ShowConversionError(Edit3->text());
    return;
  }
  Settings().RxTurnaroundUs = rx;
}

ConfigControls TForm1::ReadConfigControls() const {
  ConfigControls controls;
  for (int i = 0; i < TerminalCount; ++i) {
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
  controls.RequestFileName = BytesOf(InSoubor);
  controls.OutputFileName = BytesOf(OutSoubor);
  controls.RepeatItem = Rep_write->currentIndex();
  controls.TimeoutItem = Delay_add->currentIndex();
  controls.HighPriority = Priority_set->isChecked();
  return controls;
}

void TForm1::BitBtn1Click() {
  ConfigBlock block;
  if (const auto refused = BuildConfigBlock(ReadConfigControls(), block)) {
    ShowConversionError(QString::fromStdString(*refused));
    return;
  }
  Settings().ParityMark = Mark1->isChecked();
  const StoredConfig stored{block, TurnaroundBlock{Settings().TxTurnaroundUs, Settings().RxTurnaroundUs},
                            Settings().ParityMark, Write_error_repeat->isChecked()};
  if (!WriteIni(EncodeIni(stored))) {
    ShowErrorMessage(this, QStringLiteral("Unable to write to %1").arg(iniPath_));
    return;
  }
  const BoxAnswer restart = ShowMessageBox(BoxRequest{
      this, BoxIcon::Warning, BoxButtons::YesNo, QStringLiteral("Varování"),
      QStringLiteral("Nastavená konfigurace bude použita až po restartu programu!\nProvést restart programu ihned?"),
      BoxAnswer::No});
  if (restart == BoxAnswer::Yes) close();
}

bool TForm1::WriteIni(const IniValues& values) {
  QSettings ini(iniPath_, QSettings::IniFormat);
  // Where the folder forbids a temporary file, the file itself is rewritten.
  ini.setAtomicSyncRequired(false);
  ini.beginGroup(kSection);
  const std::pair<const QString*, const std::optional<std::string>*> keys[] = {
      {&kCfgBinary, &values.CfgBinary}, {&kTestBinary, &values.TestBinary},
      {&kParita, &values.Parita}, {&kNeuspechKonec, &values.NeuspechKonec}};
  for (const auto& [key, value] : keys) ini.setValue(*key, QString::fromStdString(value->value_or("")));
  ini.endGroup();
  ini.sync();
  return ini.status() == QSettings::NoError;
}

void TForm1::ShowConversionError(const QString& text) {
  ShowErrorMessage(this, QString::fromStdString(ConversionMessage(text.toStdString())));
}
