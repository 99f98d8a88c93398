// TFrmAbout: the about window, a free-standing window owned by the frame, hidden (not destroyed)
// when closed, so "About" shows the same window again.
#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class TFrmAbout : public QWidget {
    Q_OBJECT

public:
    explicit TFrmAbout(QWidget* owner = nullptr);

    // The fixed informational text of Memo1.
    static QString AboutText();

    QWidget* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;

public slots:
    void Button1Click();
};

// The program's about window; created at start-up, hidden.
inline QPointer<TFrmAbout> FrmAbout;
