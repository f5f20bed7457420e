// TForm1: the configuration file and the controls that show it.

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSignalBlocker>

#include <algorithm>

#include "app/Dialogs.h"
#include "app/IniFile.h"
#include "app/Texts.h"
#include "app/Unit1.h"
#include "link/CommPort.h"
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

// QSettings keeps a format error met while reading (a line it cannot parse)
// as its status for good, and a failed write after it would go unseen: the
// file itself says whether it now holds every value saved.
bool FileHolds(const QString& path, const QList<QPair<QString, QString>>& lines) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QString text = QString::fromUtf8(file.readAll());
  return std::all_of(lines.begin(), lines.end(), [&](const auto& line) {
    return text.contains(QStringLiteral("\n%1=%2\n").arg(line.first, line.second));
  });
}

}  // namespace

void TForm1::LoadConfig() {
  const QString iniPath = QFile::decodeName(ini_.Read.c_str());
  config_ = DecodeIni(ReadIniValues(iniPath));
  for (const BoundedValue& value : BoundStoredConfig(config_)) loadNotes_.push_back(BoundedValueMessage(value));
  for (std::string& note : BoundFileNames(config_.Block)) loadNotes_.push_back(std::move(note));
  Write_error_repeat->setChecked(config_.WriteErrorRepeat);
  DeriveSettings(config_, Settings());
  QSettings ini(iniPath, QSettings::IniFormat);
  ReadPortPaths(ini);
}

void TForm1::ShowConfig() {
  const ConfigBlock& block = config_.Block;
  const QSignalBlocker blockDelay(Delay_add);
  const QSignalBlocker blockEdit2(Edit2);
  const QSignalBlocker blockEdit3(Edit3);
  Delay_add->clear();
  for (int k = 0; k < DelayAddItemCount; ++k) Delay_add->addItem(QString::number(DelayAddItemValue(k)));
  ClearCounterPanels(*this);
  for (int i = 0; i < TerminalCount; ++i) {
    const TerminalEntry& entry = block.Terminals[i];
    AddressEdits()[i]->setText(QString::number(entry.Address));
    PortBoxes()[i]->setCurrentIndex(ItemIndexInList(entry.PortIndex, PortCount));
    ConnectedBoxes()[i]->setChecked(entry.Connected);
  }
  K_Baud1->setCurrentIndex(ItemIndexInList(block.BaudIndex, BaudItemCount));
  Mark1->setChecked(config_.ParityMark);
  CCode1->setChecked(block.MealCoding);
  DT_use1->setChecked(block.UseDT);
  Kredit1->setChecked(block.CreditOn);
  Radku1->setText(QString::number(block.Capacity));
  MxSn1->setText(QString::number(block.BreakfastCount));
  MxVec1->setText(QString::number(block.DinnerCount));
  InSoubor->setText(ShownText(block.RequestFileName));
  OutSoubor->setText(ShownText(block.OutputFileName));
  Rep_write->setCurrentIndex(ItemIndexInList(block.RepeatIndex, RepeatItemCount));
  Delay_add->setCurrentIndex(ItemIndexInList(block.TimeoutIndex, DelayAddItemCount));
  Edit2->setText(QString::number(Settings().TxTurnaroundUs));
  Edit3->setText(QString::number(Settings().RxTurnaroundUs));
  Settings().LinkTimeout = LinkTimeoutForItem(Delay_add->currentIndex());
  Priority_set->setChecked(block.HighPriority);
  Label26->setText(QStringLiteral("Datum vytvoření programu: May 30 2006"));
}

void TForm1::Delay_addChange() { Settings().LinkTimeout = LinkTimeoutForItem(Delay_add->currentIndex()); }

// Every change of Edit2 or Edit3: each box holding a number its setting can
// take sets it at once; any other text leaves its setting as it was and is
// reported when editing ends (Edit2Exit).
void TForm1::Edit2Change() {
  for (const TurnaroundControl& control : TurnaroundControls()) {
    int64_t us = 0;
    if (!ReadNumber(control.Edit->text().toStdString(), control.Field, us)) *control.Setting = static_cast<uint32_t>(us);
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
  // A user's file that is not there yet starts as a copy of the site file.
  if (!PrepareIniSave(ini_) || !WriteIni(EncodeIni(stored))) {
    ShowErrorMessage(this, QStringLiteral("Unable to write to %1").arg(QFile::decodeName(ini_.Save.c_str())));
    return;
  }
  const BoxAnswer restart = ShowMessageBox(BoxRequest{
      this, BoxIcon::Warning, BoxButtons::YesNo, QStringLiteral("Varování"),
      QStringLiteral("Nastavená konfigurace bude použita až po restartu programu!\nProvést restart programu ihned?"),
      BoxAnswer::No});
  if (restart == BoxAnswer::Yes) close();
}

bool TForm1::WriteIni(const IniValues& values) {
  const QString iniPath = QFile::decodeName(ini_.Save.c_str());
  QSettings ini(iniPath, QSettings::IniFormat);
  // Where the folder forbids a temporary file, the file itself is rewritten.
  ini.setAtomicSyncRequired(false);
  ini.beginGroup(kSection);
  const std::pair<const QString*, const std::optional<std::string>*> keys[] = {
      {&kCfgBinary, &values.CfgBinary}, {&kTestBinary, &values.TestBinary},
      {&kParita, &values.Parita}, {&kNeuspechKonec, &values.NeuspechKonec}};
  QList<QPair<QString, QString>> lines;
  for (const auto& [key, value] : keys) {
    lines.append({*key, QString::fromStdString(value->value_or(""))});
    ini.setValue(*key, lines.back().second);
  }
  ini.endGroup();
  ini.sync();
  return ini.status() != QSettings::AccessError && FileHolds(iniPath, lines);
}
