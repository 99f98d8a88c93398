#include "terminal/TerminalOptionsDialog.h"

#include "platform/IniFile.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFontDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMoveEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>

#include <climits>

QPointer<TOptForm> OptForm;
bool TOptForm::PositionPending = true;

int ParseLeadingNumber(const QString& Text)
{
    qsizetype i = 0;
    while (i < Text.size() && Text.at(i) == u' ')
        ++i;
    long long value = 0;
    for (; i < Text.size(); ++i) {
        const char16_t c = Text.at(i).unicode();
        if (c < u'0' || c > u'9') break;
        value = value * 10 + (c - u'0');
        if (value > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(value);
}

namespace {

QCheckBox* CheckBox(QWidget* parent, const char* name, const QString& text, int y)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QLatin1String(name));
    // The text stands at the left of the box.
    box->setLayoutDirection(Qt::RightToLeft);
    box->setGeometry(8, y, 105, 20);
    return box;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& text, int y)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(124, y, 69, 25);
    b->setAutoDefault(false);
    return b;
}

QLineEdit* NumberBox(QWidget* parent, const char* name, const char* labelName, const QString& label,
                     int y, QLabel*& labelOut)
{
    labelOut = new QLabel(label, parent);
    labelOut->setObjectName(QLatin1String(labelName));
    labelOut->setGeometry(8, y + 3, 52, 16);
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setGeometry(64, y, 49, 22);
    labelOut->setBuddy(edit);
    return edit;
}

}  // namespace

TOptForm::TOptForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("OptForm"));
    setWindowTitle(QStringLiteral("Options"));
    setFont(QFont(QStringLiteral("System")));
    resize(201, 371);
    move(DefaultLeft, DefaultTop);

    RowsEdit = NumberBox(this, "RowsEdit", "RowsLabel", QStringLiteral("Rows"), 8, RowsLabel);
    ColsEdit = NumberBox(this, "ColsEdit", "ColsLabel", QStringLiteral("Cols"), 36, ColsLabel);
    LineHeightEdit = NumberBox(this, "LineHeightEdit", "LineHeightLabel", QStringLiteral("LHeight"),
                               64, LineHeightLabel);

    AutoCRCheckBox = CheckBox(this, "AutoCRCheckBox", QStringLiteral("AutoCR"), 96);
    AutoLFCheckBox = CheckBox(this, "AutoLFCheckBox", QStringLiteral("AutoLF"), 118);
    LocalEchoCheckBox = CheckBox(this, "LocalEchoCheckBox", QStringLiteral("Local Echo"), 140);
    MonoChromeCheckBox = CheckBox(this, "MonoChromeCheckBox", QStringLiteral("Monochrome"), 162);
    XlatCheckBox = CheckBox(this, "XlatCheckBox", QStringLiteral("OEM charset"), 184);
    UpperLockCheckBox = CheckBox(this, "UpperLockCheckBox", QStringLiteral("Upper Case"), 206);

    GroupBox1 = new QGroupBox(QStringLiteral("Function &Keys"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 236, 105, 92);
    FKeys1RadioButton = new QRadioButton(QStringLiteral("SCO"), GroupBox1);
    FKeys1RadioButton->setObjectName(QStringLiteral("FKeys1RadioButton"));
    FKeys1RadioButton->setGeometry(8, 20, 90, 20);
    FKeys2RadioButton = new QRadioButton(QStringLiteral("VT100"), GroupBox1);
    FKeys2RadioButton->setObjectName(QStringLiteral("FKeys2RadioButton"));
    FKeys2RadioButton->setGeometry(8, 43, 90, 20);
    FKeys3RadioButton = new QRadioButton(QStringLiteral("A11"), GroupBox1);
    FKeys3RadioButton->setObjectName(QStringLiteral("FKeys3RadioButton"));
    FKeys3RadioButton->setGeometry(8, 66, 90, 20);
    FKeys1RadioButton->setChecked(true);

    OkButton = Button(this, "OkButton", QStringLiteral("&Ok"), 8);
    OkButton->setDefault(true);
    CancelButton = Button(this, "CancelButton", QStringLiteral("&Cancel"), 38);
    FontButton = Button(this, "FontButton", QStringLiteral("&Font"), 68);
    NamesButton = Button(this, "NamesButton", QStringLiteral("&Names"), 98);
    A11Button = Button(this, "A11Button", QStringLiteral("&A11"), 236);
    LaboButton = Button(this, "LaboButton", QStringLiteral("&Labo"), 266);
    RDVButton = Button(this, "RDVButton", QStringLiteral("&RDV"), 296);
    USUSButton = Button(this, "USUSButton", QStringLiteral("&USUS"), 326);

    FontDialog1 = new QFontDialog(QFont(QStringLiteral("System")), this);
    FontDialog1->setObjectName(QStringLiteral("FontDialog1"));

    connect(OkButton, &QPushButton::clicked, this, &TOptForm::OkButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TOptForm::CancelButtonClick);
    connect(FontButton, &QPushButton::clicked, this, &TOptForm::FontButtonClick);
    connect(NamesButton, &QPushButton::clicked, this, &TOptForm::NamesButtonClick);
    connect(A11Button, &QPushButton::clicked, this, &TOptForm::A11ButtonClick);
    connect(LaboButton, &QPushButton::clicked, this, &TOptForm::LaboButtonClick);
    connect(RDVButton, &QPushButton::clicked, this, &TOptForm::RDVButtonClick);
    connect(USUSButton, &QPushButton::clicked, this, &TOptForm::USUSButtonClick);
    NoteNormalGeometry();
}

TOptForm::~TOptForm() = default;

TOptForm* TOptForm::Instance()
{
    if (!OptForm) {
        OptForm = new TOptForm;
        // Kept until the program ends, whichever terminal window goes first.
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, [] { delete OptForm.data(); });
    }
    return OptForm;
}

// ---- Values ----------------------------------------------------------------------------------

void TOptForm::SetHostName(const QString& Value)
{
    hostName_ = Value;
    setWindowTitle(QStringLiteral("Options for ") + Value);
}

int TOptForm::Rows() const
{
    return ParseLeadingNumber(RowsEdit->text());
}

void TOptForm::SetRows(int Value)
{
    RowsEdit->setText(QString::number(Value));
}

int TOptForm::Cols() const
{
    return ParseLeadingNumber(ColsEdit->text());
}

void TOptForm::SetCols(int Value)
{
    ColsEdit->setText(QString::number(Value));
}

int TOptForm::LineHeight() const
{
    const int n = ParseLeadingNumber(LineHeightEdit->text());
    if (n != 0) return n;
    return QFontMetrics(currentFont_).height();
}

void TOptForm::SetLineHeight(int Value)
{
    LineHeightEdit->setText(QString::number(Value));
}

bool TOptForm::AutoCR() const
{
    return AutoCRCheckBox->isChecked();
}
void TOptForm::SetAutoCR(bool Value)
{
    AutoCRCheckBox->setChecked(Value);
}
bool TOptForm::AutoLF() const
{
    return AutoLFCheckBox->isChecked();
}
void TOptForm::SetAutoLF(bool Value)
{
    AutoLFCheckBox->setChecked(Value);
}
bool TOptForm::LocalEcho() const
{
    return LocalEchoCheckBox->isChecked();
}
void TOptForm::SetLocalEcho(bool Value)
{
    LocalEchoCheckBox->setChecked(Value);
}
bool TOptForm::MonoChrome() const
{
    return MonoChromeCheckBox->isChecked();
}
void TOptForm::SetMonoChrome(bool Value)
{
    MonoChromeCheckBox->setChecked(Value);
}
bool TOptForm::UpperLock() const
{
    return UpperLockCheckBox->isChecked();
}
void TOptForm::SetUpperLock(bool Value)
{
    UpperLockCheckBox->setChecked(Value);
}
bool TOptForm::Xlat() const
{
    return XlatCheckBox->isChecked();
}
void TOptForm::SetXlat(bool Value)
{
    XlatCheckBox->setChecked(Value);
}

int TOptForm::FKeys() const
{
    if (FKeys1RadioButton->isChecked()) return 0;
    if (FKeys2RadioButton->isChecked()) return 1;
    return 2;
}

void TOptForm::SetFKeys(int Value)
{
    switch (Value) {
    case 0:
        FKeys1RadioButton->setChecked(true);
        break;
    case 1:
        FKeys2RadioButton->setChecked(true);
        break;
    case 2:
        FKeys3RadioButton->setChecked(true);
        break;
    default:
        break;
    }
}

// ---- Buttons ---------------------------------------------------------------------------------

void TOptForm::OkButtonClick()
{
    accept();
}

void TOptForm::CancelButtonClick()
{
    reject();
}

void TOptForm::FontButtonClick()
{
    FontDialog1->setCurrentFont(currentFont_);
    if (FontDialog1->exec() == QDialog::Accepted) currentFont_ = FontDialog1->selectedFont();
}

void TOptForm::NamesButtonClick()
{
    if (namesHandler_) namesHandler_(this);
}

void TOptForm::Preset(int rows, bool autoCR, bool autoLF, bool localEcho, bool mono, bool upper,
                      bool xlat, int fkeys)
{
    SetRows(rows);
    SetCols(80);
    SetAutoCR(autoCR);
    SetAutoLF(autoLF);
    SetLocalEcho(localEcho);
    SetMonoChrome(mono);
    SetUpperLock(upper);
    SetXlat(xlat);
    SetFKeys(fkeys);
}

void TOptForm::A11ButtonClick()
{
    Preset(25, false, false, false, true, true, false, 2);
}

void TOptForm::LaboButtonClick()
{
    Preset(24, true, false, false, true, false, false, 1);
}

void TOptForm::RDVButtonClick()
{
    Preset(25, false, false, false, false, false, true, 0);
}

void TOptForm::USUSButtonClick()
{
    Preset(25, false, false, false, false, false, true, 1);
}

// ---- Showing and closing ---------------------------------------------------------------------

void TOptForm::setVisible(bool visible)
{
    if (visible && !isVisible()) FormShow();
    QDialog::setVisible(visible);
}

void TOptForm::done(int result)
{
    if (isVisible()) FormClose();
    QDialog::done(result);
}

void TOptForm::FormShow()
{
    if (PositionPending) {
        PositionPending = false;
        if (!iniFilename_.isEmpty()) ReadPosition();
    }
    NamesButton->setVisible(bool(namesHandler_));
}

void TOptForm::ReadPosition()
{
    const platform::IniFile ini(iniFilename_);
    const QString present = QStringLiteral("%1, %2, %3, %4, 0")
                                .arg(normalPos_.x())
                                .arg(normalPos_.y())
                                .arg(normalSize_.height())
                                .arg(normalSize_.width());
    const QString value =
        ini.ReadString(QLatin1String(PositionSection), QLatin1String(PositionKey), present);
    // left, top, height, width, state
    int fields[5] = {normalPos_.x(), normalPos_.y(), normalSize_.height(), normalSize_.width(), 0};
    const QStringList parts = value.split(u',');
    for (int i = 0; i < 5 && i < parts.size(); ++i) {
        bool ok = false;
        const int n = parts[i].trimmed().toInt(&ok, 10);
        if (!ok) continue;
        if ((i == 2 || i == 3) && n < 1) continue;
        fields[i] = n;
    }
    setWindowState(Qt::WindowNoState);
    move(fields[0], fields[1]);
    resize(fields[3], fields[2]);
    if (fields[4] == 2)
        setWindowState(Qt::WindowMaximized);
    else if (fields[4] == 1)
        setWindowState(Qt::WindowMinimized);
}

void TOptForm::FormClose()
{
    if (iniFilename_.isEmpty()) return;
    const Qt::WindowStates state = windowState();
    int stateNumber = 0;
    if (state.testFlag(Qt::WindowMaximized) || state.testFlag(Qt::WindowFullScreen))
        stateNumber = 2;
    else if (state.testFlag(Qt::WindowMinimized))
        stateNumber = 1;
    // The bounds of the normal state, the last ones the window had while it was normal.
    const QPoint pos = normalPos_;
    const QSize size = normalSize_;
    if (stateNumber != 0) setWindowState(Qt::WindowNoState);
    platform::IniFile ini(iniFilename_);
    ini.WriteString(QLatin1String(PositionSection), QLatin1String(PositionKey),
                    QStringLiteral("%1, %2, %3, %4, %5")
                        .arg(pos.x())
                        .arg(pos.y())
                        .arg(size.height())
                        .arg(size.width())
                        .arg(stateNumber));
}

void TOptForm::NoteNormalGeometry()
{
    if (windowState() != Qt::WindowNoState) return;
    normalPos_ = pos();
    normalSize_ = size();
}

void TOptForm::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    NoteNormalGeometry();
}

void TOptForm::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    NoteNormalGeometry();
}
