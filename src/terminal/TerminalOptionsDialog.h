// TOptForm ("OptForm"): the terminal options dialog. It edits the display and keyboard settings of
// one telnet terminal for one host name (rows, columns, line height, font, AutoCR, AutoLF, local
// echo, monochrome, OEM character set, upper-case lock, function-key set) and offers four presets.
// The terminal's ShowOptionsDialog fills it, shows it modally and reads it back after OK.
//
// One dialog serves the whole program: Instance() creates it on first use, without a parent, so
// it outlives the terminal window that first asked for it; it is deleted when the application
// quits. It keeps its control values between uses, but the caller sets all of them each time.
//
// Its position and size are kept in the settings file under "Windows"/"Options" as
// "left, top, height, width, state" (state 0 normal, 1 minimised, 2 maximised; left and top are
// the window's outer position, height and width its size in the normal state). The entry is read
// at the first showing of a program run (PositionPending) and written at every close, whatever
// the result. A field that is not a whole number, and a height or width below 1, leaves that
// value as it was; fields after the fifth are ignored. An empty settings file name means the
// position is neither read nor written.
//
// Rows, columns and line height are read from their boxes with ParseLeadingNumber; the dialog
// checks no ranges (the terminal limits what it takes). A line height of 0 means the height of the
// current font's character cell.
#pragma once

#include "net/WSocket.h"

#include <QDialog>
#include <QFont>
#include <QPointer>
#include <QRect>

class QCheckBox;
class QFontDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Leading spaces (only the space character) are skipped, then decimal digits are read up to the
// first other character; 0 when no digit follows the spaces. No sign is accepted. A number too
// large for an int reads as INT_MAX.
int ParseLeadingNumber(const QString& Text);

class TOptForm : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* PositionSection = "Windows";
    static constexpr const char* PositionKey = "Options";
    static constexpr int DefaultLeft = 600;
    static constexpr int DefaultTop = 196;

    explicit TOptForm(QWidget* parent = nullptr);
    ~TOptForm() override;

    // The program's one dialog (OptForm), created on first use.
    static TOptForm* Instance();
    // True until the first showing of the program run has read the stored position.
    static bool PositionPending;

    // ---- Fields given by the caller ----
    const QString& IniFilename() const { return iniFilename_; }
    void SetIniFilename(const QString& Value) { iniFilename_ = Value; }
    void SetNamesHandler(TNotifyEvent Handler) { namesHandler_ = std::move(Handler); }
    const QString& HostName() const { return hostName_; }
    // Also sets the caption "Options for " + the name.
    void SetHostName(const QString& Value);
    const QFont& CurrentFont() const { return currentFont_; }
    void SetCurrentFont(const QFont& Value) { currentFont_ = Value; }

    // ---- Values of the controls ----
    int Rows() const;
    void SetRows(int Value);
    int Cols() const;
    void SetCols(int Value);
    int LineHeight() const;
    void SetLineHeight(int Value);
    bool AutoCR() const;
    void SetAutoCR(bool Value);
    bool AutoLF() const;
    void SetAutoLF(bool Value);
    bool LocalEcho() const;
    void SetLocalEcho(bool Value);
    bool MonoChrome() const;
    void SetMonoChrome(bool Value);
    bool UpperLock() const;
    void SetUpperLock(bool Value);
    bool Xlat() const;
    void SetXlat(bool Value);
    // 0 SCO, 1 VT100, 2 A11; the setter leaves the selection alone for any other number.
    int FKeys() const;
    void SetFKeys(int Value);

    // ---- Handlers ----
    void OkButtonClick();
    void CancelButtonClick();
    void FontButtonClick();
    void NamesButtonClick();
    void A11ButtonClick();
    void LaboButtonClick();
    void RDVButtonClick();
    void USUSButtonClick();
    void FormShow();
    void FormClose();

    // ---- Controls ----
    QLabel* RowsLabel = nullptr;
    QLineEdit* RowsEdit = nullptr;
    QLabel* ColsLabel = nullptr;
    QLineEdit* ColsEdit = nullptr;
    QLabel* LineHeightLabel = nullptr;
    QLineEdit* LineHeightEdit = nullptr;
    QCheckBox* AutoCRCheckBox = nullptr;
    QCheckBox* AutoLFCheckBox = nullptr;
    QCheckBox* LocalEchoCheckBox = nullptr;
    QCheckBox* MonoChromeCheckBox = nullptr;
    QCheckBox* XlatCheckBox = nullptr;
    QCheckBox* UpperLockCheckBox = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QRadioButton* FKeys1RadioButton = nullptr;
    QRadioButton* FKeys2RadioButton = nullptr;
    QRadioButton* FKeys3RadioButton = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* FontButton = nullptr;
    QPushButton* NamesButton = nullptr;
    QPushButton* A11Button = nullptr;
    QPushButton* LaboButton = nullptr;
    QPushButton* RDVButton = nullptr;
    QPushButton* USUSButton = nullptr;
    QFontDialog* FontDialog1 = nullptr;

public:
    void setVisible(bool visible) override;
    void done(int result) override;

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Preset(int rows, bool autoCR, bool autoLF, bool localEcho, bool mono, bool upper,
                bool xlat, int fkeys);
    void ReadPosition();
    void NoteNormalGeometry();

    QString iniFilename_;
    TNotifyEvent namesHandler_;
    QString hostName_;
    QFont currentFont_;
    QPoint normalPos_;
    QSize normalSize_;
};

// The program's options dialog (null until first used and after the program has quit).
extern QPointer<TOptForm> OptForm;
