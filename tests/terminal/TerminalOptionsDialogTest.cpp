// The options dialog through the telnet terminal's ShowOptionsDialog, answered on screen: presets,
// OK and Cancel, the numbers typed into its boxes, the stored position, the one dialog of the
// program and its Names and Font buttons.
#include "TerminalTestUtil.h"

#include "platform/IniFile.h"
#include "support/Modal.h"
#include "terminal/TelnetTerminal.h"
#include "terminal/TerminalOptionsDialog.h"

#include <QFontDialog>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <climits>
#include <functional>

using namespace termtest;

namespace {

const QString kHost = QStringLiteral("127.0.0.1");

class TerminalOptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        delete OptForm.data();
        TOptForm::PositionPending = true;
        QFile::remove(IsolatedDirs::ConfigDir() + QStringLiteral("/zarvos-tests/TNEMULVT.INI"));
        term = std::make_unique<TTnEmulVT>();
        term->SetHostName(kHost);
    }
    // Shows the dialog for the terminal; act runs on the dialog while it is up.
    void Show(std::function<void(TOptForm*)> act)
    {
        answerer.Expect([act](QWidget* modal, testsupport::ModalSeen&) {
            auto* dlg = qobject_cast<TOptForm*>(modal);
            ASSERT_NE(dlg, nullptr);
            act(dlg);
            if (dlg->isVisible()) dlg->reject();
        });
        term->ShowOptionsDialog();
        EXPECT_EQ(answerer.Pending(), 0);
    }
    platform::IniFile Ini() const { return platform::IniFile(QStringLiteral("TNEMULVT.INI")); }

    testsupport::ModalAnswerer answerer;
    std::unique_ptr<TTnEmulVT> term;
};

TEST(ParseLeadingNumber, SpacesThenDigits)
{
    EXPECT_EQ(ParseLeadingNumber(QStringLiteral(" 30")), 30);
    EXPECT_EQ(ParseLeadingNumber(QStringLiteral("30x")), 30);
    EXPECT_EQ(ParseLeadingNumber(QStringLiteral("x30")), 0);
    EXPECT_EQ(ParseLeadingNumber(QString()), 0);
    EXPECT_EQ(ParseLeadingNumber(QStringLiteral("-5")), 0);
    EXPECT_EQ(ParseLeadingNumber(QStringLiteral("\t5")), 0);
    EXPECT_EQ(ParseLeadingNumber(QStringLiteral("  007 8")), 7);
    EXPECT_EQ(ParseLeadingNumber(QStringLiteral("99999999999999999999")), INT_MAX);
}

TEST_F(TerminalOptionsDialogTest, LaboAndOkStoreAllFourteenKeysInOrder)
{
    Show([&](TOptForm* dlg) {
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Options for 127.0.0.1"));
        EXPECT_EQ(dlg->objectName(), QStringLiteral("OptForm"));
        EXPECT_EQ(dlg->size(), QSize(201, 371));
        EXPECT_EQ(dlg->pos(), QPoint(600, 196));
        EXPECT_FALSE(dlg->NamesButton->isVisible());
        // Filled from the settings re-read for the host (none stored: the defaults).
        EXPECT_EQ(dlg->RowsEdit->text(), QStringLiteral("25"));
        EXPECT_EQ(dlg->LineHeightEdit->text(), QStringLiteral("12"));
        EXPECT_TRUE(dlg->FKeys1RadioButton->isChecked());
        dlg->LaboButton->click();
        dlg->OkButton->click();
    });
    EXPECT_EQ(term->Rows(), 24);
    EXPECT_EQ(term->Cols(), 80);
    EXPECT_TRUE(term->AutoCR());
    EXPECT_TRUE(term->MonoChrome());
    EXPECT_FALSE(term->AutoLF() || term->LocalEcho() || term->UpperLock() || term->Xlat());
    EXPECT_EQ(term->FKeys(), 1);
    // The setting is stored as it is; the cell grows to the font's glyphs.
    EXPECT_EQ(term->LineHeightSetting(), 12);
    EXPECT_EQ(term->LineHeight(), std::max(12, term->FontHeight()));
    EXPECT_EQ(term->Font().family(), FixedPitchFamily());

    const platform::IniFile ini = Ini();
    QStringList keys;
    for (const char* k : TTnEmulVT::SettingKeys)
        keys << QLatin1String(k);
    EXPECT_EQ(ini.ReadSection(kHost), keys);
    QStringList values;
    for (const QString& k : keys)
        values << ini.ReadString(kHost, k, QStringLiteral("?"));
    EXPECT_EQ(values,
              (QStringList{FixedPitchFamily(), QString::number(QGuiApplication::font().pointSize()),
                           "2", "0", "12", "24", "80", "1", "0", "0", "1", "0", "0", "1"}));
    EXPECT_TRUE(ini.ValueExists(QStringLiteral("Windows"), QStringLiteral("Options")));
}

TEST_F(TerminalOptionsDialogTest, CancelKeepsTheReReadSettingsButStoresThePosition)
{
    Ini().WriteInteger(kHost, QStringLiteral("Rows"), 30);
    Ini().WriteInteger(kHost, QStringLiteral("FKeys"), 2);
    term->SetRows(40);
    term->SetMonoChrome(true);
    Show([](TOptForm* dlg) {
        EXPECT_EQ(dlg->RowsEdit->text(), QStringLiteral("30"));
        EXPECT_TRUE(dlg->FKeys3RadioButton->isChecked());
        dlg->USUSButton->click();
        dlg->CancelButton->click();
    });
    EXPECT_EQ(term->Rows(), 30);
    EXPECT_FALSE(term->MonoChrome());
    EXPECT_EQ(term->FKeys(), 2);
    EXPECT_EQ(Ini().ReadSection(kHost), (QStringList{"Rows", "FKeys"}));
    EXPECT_EQ(Ini().ReadString(QStringLiteral("Windows"), QStringLiteral("Options"), {}),
              QStringLiteral("600, 196, 371, 201, 0"));
}

TEST_F(TerminalOptionsDialogTest, TypedNumbersAreReadByTheirLeadingDigitsAndLimitedByTheTerminal)
{
    Show([](TOptForm* dlg) {
        dlg->RowsEdit->setText(QStringLiteral(" 30"));
        dlg->ColsEdit->setText(QStringLiteral("30x"));
        dlg->LineHeightEdit->clear();
        dlg->FKeys1RadioButton->setChecked(true);
        dlg->OkButton->click();
    });
    EXPECT_EQ(term->Rows(), 30);
    EXPECT_EQ(term->Cols(), 30);
    // An empty line-height box means the height of the font's cell.
    EXPECT_EQ(term->LineHeightSetting(), QFontMetrics(OptForm->CurrentFont()).height());
    EXPECT_EQ(term->FKeys(), 0);
    EXPECT_EQ(Ini().ReadInteger(kHost, QStringLiteral("FKeys"), -1), 0);

    Show([](TOptForm* dlg) {
        dlg->RowsEdit->setText(QStringLiteral("x30"));
        dlg->ColsEdit->setText(QStringLiteral("999"));
        dlg->OkButton->click();
    });
    EXPECT_EQ(term->Rows(), 1);
    EXPECT_EQ(term->Cols(), 132);
    EXPECT_EQ(Ini().ReadInteger(kHost, QStringLiteral("Rows"), -1), 1);
    EXPECT_EQ(Ini().ReadInteger(kHost, QStringLiteral("Cols"), -1), 132);
}

TEST_F(TerminalOptionsDialogTest, PositionIsStoredMaximisedAndRestoredAtTheNextRun)
{
    Show([](TOptForm* dlg) {
        dlg->move(620, 210);
        dlg->showMaximized();
        ASSERT_TRUE(ProcessEventsUntil([&] { return dlg->isMaximized(); }, 2000));
        dlg->OkButton->click();
    });
    EXPECT_EQ(Ini().ReadString(QStringLiteral("Windows"), QStringLiteral("Options"), {}),
              QStringLiteral("620, 210, 371, 201, 2"));

    // The next run of the program: a new dialog, the position read at its first showing.
    delete OptForm.data();
    TOptForm::PositionPending = true;
    Show([](TOptForm* dlg) { EXPECT_TRUE(dlg->isMaximized()); });
    Show([](TOptForm* dlg) { EXPECT_FALSE(dlg->isMaximized()); });  // read once per run

    // A field that is no number leaves that value alone; the dialog still opens.
    Ini().WriteString(QStringLiteral("Windows"), QStringLiteral("Options"),
                      QStringLiteral("x, 50, 0, 220, 0, 9"));
    delete OptForm.data();
    TOptForm::PositionPending = true;
    Show([](TOptForm* dlg) {
        EXPECT_EQ(dlg->pos(), QPoint(600, 50));
        EXPECT_EQ(dlg->size(), QSize(220, 371));
    });
}

TEST_F(TerminalOptionsDialogTest, OneDialogServesEveryTerminalAndOutlivesThem)
{
    Show([](TOptForm*) {});
    QPointer<TOptForm> first = OptForm;
    ASSERT_FALSE(first.isNull());
    term.reset();
    EXPECT_FALSE(first.isNull());
    EXPECT_EQ(TOptForm::Instance(), first.data());

    // The Names button shows only with a handler, and calls it with the dialog.
    term = std::make_unique<TTnEmulVT>();
    term->SetHostName(QStringLiteral("other"));
    QObject* namesSender = nullptr;
    term->OnNamesClick = [&](QObject* s) { namesSender = s; };
    // A stored value outside 0..2 leaves the dialog's selection (A11 from an earlier use), and the
    // dialog hands that selection back.
    OptForm->FKeys3RadioButton->setChecked(true);
    Ini().WriteInteger(QStringLiteral("other"), QStringLiteral("FKeys"), 7);
    answerer.Expect([&](QWidget* modal, testsupport::ModalSeen&) {
        auto* dlg = qobject_cast<TOptForm*>(modal);
        ASSERT_EQ(dlg, first.data());
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Options for other"));
        EXPECT_TRUE(dlg->NamesButton->isVisible());
        dlg->NamesButton->click();
        // The Font button replaces the current font when the chooser is confirmed. (Clicked
        // once this handler has returned, so the answerer can answer the chooser.)
        QTimer::singleShot(0, dlg, [dlg] {
            dlg->FontButton->click();
            EXPECT_EQ(dlg->CurrentFont().pointSize(), 17);
            dlg->OkButton->click();
        });
    });
    answerer.Expect([](QWidget* modal, testsupport::ModalSeen&) {
        auto* fd = qobject_cast<QFontDialog*>(modal);
        ASSERT_NE(fd, nullptr);
        fd->setCurrentFont(QFont(QStringLiteral("DejaVu Sans Mono"), 17));
        fd->accept();
    });
    term->ShowOptionsDialog();
    EXPECT_EQ(answerer.Pending(), 0);
    EXPECT_EQ(namesSender, first.data());
    EXPECT_EQ(term->Font().pointSize(), 17);
    EXPECT_EQ(term->FKeys(), 2);
    EXPECT_EQ(Ini().ReadInteger(QStringLiteral("other"), QStringLiteral("FKeys"), -1), 2);
    EXPECT_EQ(Ini().ReadInteger(QStringLiteral("other"), QStringLiteral("FontSize"), 0), 17);

    // With no host name the dialog does not come up.
    term->SetHostName(QString());
    term->ShowOptionsDialog();
    ProcessEventsFor(60);
    EXPECT_EQ(answerer.Unexpected(), 0);
}

}  // namespace
