// TForm1: the controls of the form, their texts and hints, and their wiring.

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/Unit1.h"

namespace {

constexpr int kClientWidth = 600;
constexpr int kClientHeight = 400;
constexpr int kTabHeight = 35;
constexpr int kTabIconSize = 20;

// ImageList1: the tray icons 0 (idle) and 1 (a request is being taken in),
// the program's own icon 2 (the window's), then the tab images 3 to 7.
const char* const kImageList1[] = {
    ":/images/tray-idle.svg",   ":/images/tray-busy.svg",   ":/images/tarvion.svg",
    ":/images/tab-control.svg", ":/images/tab-about.svg",   ":/images/tab-config.svg",
    ":/images/tab-service.svg", ":/images/tab-errorlog.svg"};
constexpr int kWindowIcon = 2;
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64};

struct PanelLayout {
  const char* text;    // the label, or the value shown at start
  const char* widest;  // the widest text the panel is made for; null: its text
  Qt::Alignment alignment;
  bool bevel;
};

// StatusBar1: labels in the even panels, values in the odd ones. The widest
// values: a job's pair, an answer of the largest capacity (3,801,088 bytes),
// the attempts of the list (1-9) and their receive tries, a job's progress.
const PanelLayout kPanels[kPanelCount] = {
    {"Status:", nullptr, Qt::AlignRight, false},
    {"", "9999,99999", Qt::AlignHCenter, true},
    {"Načteno:", nullptr, Qt::AlignRight, false},
    {"", "9999999", Qt::AlignHCenter, true},
    {"Opakování vysílání:", nullptr, Qt::AlignRight, false},
    {"", "9", Qt::AlignHCenter, true},
    {"Opakování příjmu:", nullptr, Qt::AlignRight, false},
    {"", "99", Qt::AlignHCenter, true},
    {"Příkazy", nullptr, Qt::AlignRight, false},
    {"0/0", "9999/9999", Qt::AlignHCenter, true},
    {"", "", Qt::AlignLeft, false},  // takes what is left of the bar
};
// Room inside a panel beside its text, between panels, and what the status
// bar keeps for itself at its ends.
constexpr int kPanelMargin = 2;
constexpr int kPanelSpacing = 2;
constexpr int kStatusBarEnds = 8;
constexpr qreal kSmallestPanelPoints = 6;

QPixmap Rendered(const QString& svg, QSize size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  QSvgRenderer(svg).render(&painter);
  return pixmap;
}

QIcon SvgIcon(const QString& svg) {
  QIcon icon;
  for (int side : kIconSizes) icon.addPixmap(Rendered(svg, QSize(side, side)));
  return icon;
}

// One of the pages' pictures, at the size it is drawn for.
QLabel* Picture(const char* svg, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QStringLiteral("Picture"));
  const QString path = QString::fromLatin1(svg);
  label->setPixmap(Rendered(path, QSvgRenderer(path).defaultSize()));
  return label;
}

int PanelWidth(const QFontMetrics& metrics, const PanelLayout& layout) {
  const char* widest = layout.widest != nullptr ? layout.widest : layout.text;
  const int frame = layout.bevel ? 2 : 0;
  return metrics.horizontalAdvance(QString::fromUtf8(widest)) + 2 * kPanelMargin + frame + 1;
}

// Enter on a focused button presses it, as Space does (outside a dialog Qt's
// buttons leave Enter to the window).
QPushButton* PictureButton(const QString& text, const QIcon& icon, const char* name, QWidget* parent) {
  auto* button = new QPushButton(icon, text, parent);
  button->setObjectName(QLatin1String(name));
  button->setAutoDefault(true);
  QFont bold = button->font();
  bold.setBold(true);
  button->setFont(bold);
  return button;
}

QComboBox* PickList(const QStringList& items, const char* name, QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QLatin1String(name));
  box->setEditable(false);
  box->addItems(items);
  return box;
}

QLineEdit* Edit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  return edit;
}

QCheckBox* Check(const QString& text, const char* name, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(QLatin1String(name));
  return box;
}

QFont CourierNew(int points) {
  QFont font(QStringLiteral("Courier New"), points);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  return font;
}

}  // namespace

QIcon TForm1::Image(int index) const { return imageList1_.at(static_cast<size_t>(index)); }

void TForm1::CreateControls() {
  setWindowTitle(QStringLiteral("Tarvion - komunikační program pro terminál ORVETA"));
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  for (const char* image : kImageList1) imageList1_.push_back(SvgIcon(QString::fromLatin1(image)));
  setWindowIcon(Image(kWindowIcon));

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setStyleSheet(QStringLiteral("QTabBar::tab { height: %1px; }").arg(kTabHeight));
  PageControl1->setIconSize(QSize(kTabIconSize, kTabIconSize));
  TabSheet1 = CreateControlPage();
  TabSheet2 = CreateConfigPage();
  TabSheet3 = CreateServicePage();
  TabSheet4 = CreateAboutPage();
  TabSheet5 = CreateErrorLogPage();
  PageControl1->addTab(TabSheet1, Image(3), QStringLiteral("Ovládání terminálu"));
  PageControl1->addTab(TabSheet2, Image(5), QStringLiteral("Konfigurace terminálů"));
  PageControl1->addTab(TabSheet3, Image(6), QStringLiteral("Servisní nastavení"));
  PageControl1->addTab(TabSheet4, Image(4), QStringLiteral("O programu"));
  PageControl1->addTab(TabSheet5, Image(7), QStringLiteral("Chybová hlášení"));
  PageControl1->setTabVisible(PageControl1->indexOf(TabSheet5), false);
  setCentralWidget(PageControl1);

  CreateStatusBar();
  CreateTray();

  ConnectControls();
  // A fixed-size dialog frame: title, close box and context-help button, no
  // maximise. Without a notification area "Schovat program" minimises the
  // window, so it then gets a minimise button too, which every window manager
  // honours.
  Qt::WindowFlags frame = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint;
  if (!trayAvailable_) frame |= Qt::WindowMinimizeButtonHint;
  setWindowFlags(frame);
  setFixedSize(kClientWidth, kClientHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

QWidget* TForm1::CreateControlPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet1"));

  Terminaly1 = new QWidget(page);
  Terminaly1->setObjectName(QStringLiteral("Terminaly1"));
  Terminaly1->setGeometry(8, 4, 240, 76);

  Selekt = new QGroupBox(QStringLiteral("Terminál"), page);
  Selekt->setObjectName(QStringLiteral("Selekt"));
  Selekt->setToolTip(QStringLiteral("Volba terminálu pro komunikaci"));
  Selekt->setStyleSheet(QStringLiteral("QGroupBox { font-weight: bold; } QGroupBox::title { color: navy; }"));
  Selekt->setGeometry(8, 4, 240, 38);
  SelektItems = new QButtonGroup(Selekt);
  for (int i = 0; i < kTerminalCount; ++i) {
    auto* item = new QRadioButton(QStringLiteral("T%1").arg(i + 1), Selekt);
    item->setStyleSheet(QStringLiteral("font-weight: normal;"));
    item->setGeometry(10 + 55 * i, 16, 50, 18);
    SelektItems->addButton(item, i);
  }
  SelektItems->button(0)->setChecked(true);

  Label29 = new QLabel(QStringLiteral("Řádkový příkaz pro terminál:"), page);
  Label29->setGeometry(260, 4, 320, 18);
  Edit1 = Edit("Edit1", page);
  Edit1->setGeometry(260, 22, 320, 22);
  Button1 = PictureButton(QStringLiteral("Odeslat příkaz"), style()->standardIcon(QStyle::SP_ArrowRight), "Button1", page);
  // Its default state is Edit1Change's alone: an auto-default button loses it
  // whenever the focus leaves it.
  Button1->setAutoDefault(false);
  Button1->setGeometry(260, 50, 158, 26);
  Button3 = PictureButton(QStringLiteral("Příkazy ze souboru"), style()->standardIcon(QStyle::SP_DialogOpenButton),
                          "Button3", page);
  Button3->setGeometry(422, 50, 158, 26);
  FButton2 = PictureButton(QStringLiteral("Schovat program   "), style()->standardIcon(QStyle::SP_TitleBarMinButton),
                           "FButton2", page);
  FButton2->setGeometry(260, 80, 158, 26);
  JvXPButton1 = PictureButton(QStringLiteral("Ukončení programu"), style()->standardIcon(QStyle::SP_DialogCloseButton),
                              "JvXPButton1", page);
  JvXPButton1->setGeometry(422, 80, 158, 26);

  Label17 = new QLabel(QStringLiteral("Výsledek operace s navoleným terminálem:"), page);
  Label17->setGeometry(8, 110, 572, 18);
  Memo1 = new QListWidget(page);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setFont(CourierNew(9));
  Memo1->setGeometry(8, 128, 572, 180);
  return page;
}

QWidget* TForm1::CreateConfigPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet2"));
  auto* columns = new QHBoxLayout(page);
  auto* places = new QVBoxLayout;
  QStringList ports;
  for (int i = 1; i <= kPortCount; ++i) ports << QStringLiteral("COM%1").arg(i);
  QLineEdit** addresses[] = {&Adr1, &Adr2, &Adr3, &Adr4};
  QComboBox** portBoxes[] = {&Port1, &Port2, &Port3, &Port4};
  QCheckBox** connected[] = {&Pripojen1, &Pripojen2, &Pripojen3, &Pripojen4};
  for (int i = 0; i < kTerminalCount; ++i) {
    auto* group = new QGroupBox(QStringLiteral("Terminál %1").arg(i + 1), page);
    auto* row = new QHBoxLayout(group);
    row->setContentsMargins(6, 2, 6, 2);
    const QByteArray n = QByteArray::number(i + 1);
    *addresses[i] = Edit(("Adr" + n).constData(), group);
    (*addresses[i])->setFixedWidth(40);
    *portBoxes[i] = PickList(ports, ("Port" + n).constData(), group);
    *connected[i] = Check(QStringLiteral("Připojen"), ("Pripojen" + n).constData(), group);
    row->addWidget(new QLabel(QStringLiteral("Adresa"), group));
    row->addWidget(*addresses[i]);
    row->addWidget(new QLabel(QStringLiteral("Port"), group));
    row->addWidget(*portBoxes[i]);
    row->addWidget(*connected[i]);
    places->addWidget(group);
  }
  Adr1->setToolTip(QStringLiteral("Fyzická adresa terminálu (např. 1,2,15...)"));
  Port1->setToolTip(QStringLiteral("Komunikační port RS232 na počítači (COM1, COM2...)"));
  Pripojen1->setToolTip(
      QStringLiteral("Povolení komunikace s tímto terminálem, pokud není zatržen, tak nebude komunikovat."));
  places->addStretch();
  columns->addLayout(places, 3);

  auto* parameters = new QFrame(page);
  parameters->setFrameStyle(QFrame::Panel | QFrame::Raised);
  auto* form = new QFormLayout(parameters);
  K_Baud1 = PickList({"1200", "2400", "4800", "9600", "19200"}, "K_Baud1", parameters);
  K_Baud1->setToolTip(QStringLiteral("Rychlost komunikace"));
  Radku1 = Edit("Radku1", parameters);
  Radku1->setToolTip(QStringLiteral("Maximální počet lidí pro tento terminál"));
  MxSn1 = Edit("MxSn1", parameters);
  MxVec1 = Edit("MxVec1", parameters);
  Mark1 = Check(QStringLiteral("Parita MARK"), "Mark1", parameters);
  CCode1 = Check(QStringLiteral("Kódování"), "CCode1", parameters);
  DT_use1 = Check(QStringLiteral("Používat DT"), "DT_use1", parameters);
  Kredit1 = Check(QStringLiteral("Kredit"), "Kredit1", parameters);
  form->addRow(QStringLiteral("Rychlost BAUD"), K_Baud1);
  form->addRow(Mark1);
  form->addRow(CCode1);
  form->addRow(DT_use1);
  form->addRow(Kredit1);
  form->addRow(QStringLiteral("Kapacita"), Radku1);
  form->addRow(QStringLiteral("Max. p. snidaní"), MxSn1);
  form->addRow(QStringLiteral("Max. p. večeří"), MxVec1);

  auto* right = new QVBoxLayout;
  right->addWidget(parameters);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(Picture(":/images/picture-terminals.svg", page), 0, Qt::AlignLeft | Qt::AlignBottom);
  JvXPButton2 = PictureButton(QStringLiteral("Uložit CFG"), style()->standardIcon(QStyle::SP_DialogSaveButton),
                              "JvXPButton2", page);
  bottom->addWidget(JvXPButton2, 0, Qt::AlignBottom);
  right->addLayout(bottom);
  columns->addLayout(right, 2);
  return page;
}

QWidget* TForm1::CreateServicePage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet3"));
  auto* columns = new QHBoxLayout(page);
  auto* left = new QVBoxLayout;
  QStringList repeats;
  for (int i = 1; i <= kRepeatItemCount; ++i) repeats << QString::number(i);
  Rep_write = PickList(repeats, "Rep_write", page);
  Write_error_repeat = Check(QStringLiteral("Při neúspěšném opakování ukončit úlohu"), "Write_error_repeat", page);
  Write_error_repeat->setChecked(true);
  Delay_add = PickList({}, "Delay_add", page);
  Priority_set = Check(QStringLiteral("Priorita komunikace HIGH_PRIORITY"), "Priority_set", page);
  Priority_set->setChecked(true);
  InSoubor = Edit("InSoubor", page);
  OutSoubor = Edit("OutSoubor", page);
  left->addWidget(new QLabel(QStringLiteral("Max. počet pokusů pro zápis dat do terminálu:"), page));
  left->addWidget(Rep_write, 0, Qt::AlignLeft);
  left->addWidget(Write_error_repeat);
  left->addWidget(new QLabel(QStringLiteral("Prodloužení testu MASTER o (ms)"), page));
  left->addWidget(Delay_add, 0, Qt::AlignLeft);
  left->addWidget(Priority_set);
  left->addWidget(new QLabel(QStringLiteral("Jméno souboru požadavků na terminál:"), page));
  left->addWidget(InSoubor);
  left->addWidget(new QLabel(QStringLiteral("Jméno souboru výstupu z terminálu:"), page));
  left->addWidget(OutSoubor);
  left->addStretch();
  columns->addLayout(left, 3);

  auto* right = new QVBoxLayout;
  auto* constants = new QGroupBox(QStringLiteral("Konstanty pro vysílání a příjem"), page);
  auto* constantsLayout = new QVBoxLayout(constants);
  Edit2 = Edit("Edit2", constants);
  Edit3 = Edit("Edit3", constants);
  Edit2->setText(QStringLiteral("9600"));
  Edit3->setText(QStringLiteral("9600"));
  JvXPButton3 = PictureButton(QStringLiteral("Nastavit čas"), style()->standardIcon(QStyle::SP_BrowserReload),
                              "JvXPButton3", constants);
  constantsLayout->addWidget(Edit2);
  constantsLayout->addWidget(Edit3);
  constantsLayout->addWidget(JvXPButton3);
  right->addWidget(constants);
  JvXPButton4 = PictureButton(QStringLiteral("Výpis error-log"),
                              style()->standardIcon(QStyle::SP_FileDialogContentsView), "JvXPButton4", page);
  JvXPButton7 = PictureButton(QStringLiteral("Uložit CFG    "), style()->standardIcon(QStyle::SP_DialogSaveButton),
                              "JvXPButton7", page);
  right->addWidget(JvXPButton4);
  right->addStretch();
  right->addWidget(Picture(":/images/picture-service.svg", page), 0, Qt::AlignHCenter);
  right->addStretch();
  right->addWidget(JvXPButton7);
  columns->addLayout(right, 2);
  return page;
}

QWidget* TForm1::CreateAboutPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet4"));
  auto* layout = new QGridLayout(page);
  auto* about = new QLabel(QStringLiteral("Program TARVION\n\n"
                                          "Program Tarvion je určen pro počítače s operačním systémem\n"
                                          "®Windows 95/98\n®Windows NT,\n®Windows 2k\n®Windows XP."),
                           page);
  about->setObjectName(QStringLiteral("AboutText"));
  Label26 = new QLabel(page);
  Label26->setObjectName(QStringLiteral("Label26"));
  Master1 = new Led(QColor(Qt::green), page);  // lime
  Master1->setObjectName(QStringLiteral("Master1"));
  Slave1 = new Led(QColor(Qt::red), page);
  Slave1->setObjectName(QStringLiteral("Slave1"));
  auto* leds = new QHBoxLayout;
  leds->addWidget(Master1);
  leds->addWidget(Slave1);
  leds->addStretch();
  layout->addWidget(about, 0, 0);
  layout->addWidget(Picture(":/images/picture-about.svg", page), 0, 1, 3, 1, Qt::AlignRight | Qt::AlignTop);
  layout->addWidget(Label26, 1, 0);
  layout->addLayout(leds, 2, 0);
  layout->setRowStretch(3, 1);
  return page;
}

QWidget* TForm1::CreateErrorLogPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet5"));
  auto* layout = new QVBoxLayout(page);
  Memo2 = new QPlainTextEdit(page);
  Memo2->setObjectName(QStringLiteral("Memo2"));
  Memo2->setReadOnly(true);
  Memo2->setFont(CourierNew(10));
  Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  layout->addWidget(Memo2);
  auto* buttons = new QHBoxLayout;
  BitBtn2 = PictureButton(QStringLiteral("   Zpět"), style()->standardIcon(QStyle::SP_ArrowBack), "BitBtn2", page);
  BitBtn5 = PictureButton(QStringLiteral("Vymazat obsah"), style()->standardIcon(QStyle::SP_TrashIcon), "BitBtn5", page);
  buttons->addWidget(BitBtn2);
  buttons->addWidget(BitBtn5);
  buttons->addStretch();
  layout->addLayout(buttons);
  return page;
}

void TForm1::CreateStatusBar() {
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  auto* panels = new QWidget(StatusBar1);
  auto* row = new QHBoxLayout(panels);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(kPanelSpacing);
  for (size_t i = 0; i < StatusPanels.size(); ++i) {
    const PanelLayout& layout = kPanels[i];
    auto* panel = new QLabel(QString::fromUtf8(layout.text), panels);
    panel->setAlignment(layout.alignment | Qt::AlignVCenter);
    panel->setFrameStyle(layout.bevel ? QFrame::Panel | QFrame::Sunken : QFrame::NoFrame);
    panel->setMargin(kPanelMargin);
    panel->setIndent(0);
    row->addWidget(panel, i + 1 == StatusPanels.size() ? 1 : 0);
    StatusPanels[i] = panel;
  }
  StatusBar1->addWidget(panels, 1);
  setStatusBar(StatusBar1);
  FitStatusPanels();
}

// Each panel as wide as the widest text it is made for. Where the window's
// width cannot hold them all in the window's font, the bar's font is made
// smaller until it can.
void TForm1::FitStatusPanels() {
  QFont barFont = font();
  const int room = kClientWidth - kStatusBarEnds - (kPanelCount - 1) * kPanelSpacing;
  std::array<int, kPanelCount> widths{};
  for (;;) {
    const QFontMetrics metrics(barFont);
    int total = 0;
    for (int i = 0; i < kPanelCount; ++i) total += widths[i] = PanelWidth(metrics, kPanels[i]);
    if (total <= room || barFont.pointSizeF() <= kSmallestPanelPoints) break;
    barFont.setPointSizeF(barFont.pointSizeF() - 0.5);
  }
  StatusBar1->setFont(barFont);
  for (int i = 0; i < kPanelCount; ++i) {
    if (i + 1 == kPanelCount) {
      StatusPanels[i]->setMinimumWidth(widths[i]);
    } else {
      StatusPanels[i]->setFixedWidth(widths[i]);
    }
  }
}

void TForm1::CreateTray() {
  trayAvailable_ = QSystemTrayIcon::isSystemTrayAvailable();
  Napoveda = new QAction(QStringLiteral("Nápověda"), this);
  Napoveda->setShortcut(QKeySequence(Qt::Key_F1));
  Napoveda->setShortcutContext(Qt::WindowShortcut);
  addAction(Napoveda);

  PopupMenu1 = new QMenu(this);
  Show_window = PopupMenu1->addAction(QStringLiteral("Zobrazit program"));
  QFont bold = Show_window->font();
  bold.setBold(true);
  Show_window->setFont(bold);
  PopupMenu1->setDefaultAction(Show_window);
  Hide_window = PopupMenu1->addAction(QStringLiteral("Schovat program"));
  Npovda1 = Napoveda;
  PopupMenu1->addAction(Npovda1);
  PopupMenu1->addSeparator();
  Konec = PopupMenu1->addAction(QStringLiteral("Konec"));

  StatusIcon1 = new QSystemTrayIcon(Image(0), this);
  StatusIcon1->setToolTip(QStringLiteral("Komunikátor ORVETA"));
  StatusIcon1->setContextMenu(PopupMenu1);
  if (trayAvailable_) StatusIcon1->show();
}

void TForm1::ConnectControls() {
  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button33Click);
  connect(JvXPButton3, &QPushButton::clicked, this, &TForm1::Button4Click);
  connect(FButton2, &QPushButton::clicked, this, &TForm1::Hide_windowClick);
  connect(JvXPButton1, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
  connect(Edit1, &QLineEdit::textChanged, this, &TForm1::Edit1Change);
  // Enter sends the typed line from the command line only, once Edit1Change
  // made Button1 the default button; Enter anywhere else sends nothing.
  connect(Edit1, &QLineEdit::returnPressed, this, [this] {
    if (Button1->isDefault()) Button1->click();
  });
  connect(JvXPButton2, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
  connect(JvXPButton7, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
  connect(JvXPButton4, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Delay_add, &QComboBox::currentIndexChanged, this, &TForm1::Delay_addChange);
  for (int i = 0; i < 2; ++i) {
    QLineEdit* edit = TurnaroundControls()[i].Edit;
    connect(edit, &QLineEdit::textChanged, this, [this, i] {
      turnaroundReported_[i] = false;
      Edit2Change();
    });
    connect(edit, &QLineEdit::editingFinished, this, [this, i] { Edit2Exit(i); });
  }
  connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
  connect(BitBtn5, &QPushButton::clicked, this, &TForm1::BitBtn5Click);
  connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::PageControl1Change);

  connect(Show_window, &QAction::triggered, this, &TForm1::Show_windowClick);
  connect(Hide_window, &QAction::triggered, this, &TForm1::Hide_windowClick);
  connect(Napoveda, &QAction::triggered, this, &TForm1::NapovedaExecute);
  connect(Konec, &QAction::triggered, this, &TForm1::KonecClick);
  connect(StatusIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) Show_windowClick();
  });
  for (QWidget* page : {TabSheet2, TabSheet3}) {
    page->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(page, &QWidget::customContextMenuRequested, this,
            [this, page](const QPoint& at) { PopupMenu1->popup(page->mapToGlobal(at)); });
  }
}
