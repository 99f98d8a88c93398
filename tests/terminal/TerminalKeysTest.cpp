// Keys on the real view: QKeyEvents sent to the focused widget go through the application-wide
// key filter, the key mapping and the function-key tables, and come out as sequences
// (OnKeyBuffer) or typed bytes (OnKeyPress).
#include "TerminalTestUtil.h"

#include "support/Modal.h"
#include "terminal/FunctionKeys.h"
#include "terminal/KeyMap.h"
#include "terminal/TerminalView.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTest>
#include <QVBoxLayout>

#include <string>

using namespace termtest;

namespace {

class TerminalKeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        TCustomEmulVT::KeyCaptureArmed = false;
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        edit = new QLineEdit(window.get());
        go = new QPushButton(QStringLiteral("&Go"), window.get());
        view = new TEmulVT(window.get());
        view->setMinimumSize(400, 300);
        layout->addWidget(edit);
        layout->addWidget(go);
        layout->addWidget(view);
        QObject::connect(go, &QPushButton::clicked, [this] { ++goClicks; });
        for (const QKeySequence& seq : {QKeySequence(Qt::CTRL | Qt::Key_C),
                                        QKeySequence(Qt::Key_F10), QKeySequence(Qt::Key_F5)}) {
            auto* sc = new QShortcut(seq, window.get());
            QObject::connect(sc, &QShortcut::activated, [this] { ++shortcuts; });
        }
        view->OnKeyBuffer = [this](QObject*, const char* b, std::int32_t n) {
            sequences.emplace_back(b, static_cast<std::size_t>(n));
        };
        view->OnKeyPress = [this](QObject*, char& k) { typed.push_back(k); };
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        view->setFocus();
        ASSERT_TRUE(ProcessEventsUntil([&] { return view->hasFocus(); }, 2000));
    }

    void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(view, key, mods);
    }
    // A key press carrying the text the platform gives it.
    void Press(int key, Qt::KeyboardModifiers mods, const QString& text)
    {
        QKeyEvent press(QEvent::KeyPress, key, mods, text);
        QApplication::sendEvent(view, &press);
        QKeyEvent release(QEvent::KeyRelease, key, mods, text);
        QApplication::sendEvent(view, &release);
    }
    std::string Sequences() const
    {
        std::string all;
        for (const auto& s : sequences)
            all += s + "|";
        return all;
    }

    std::unique_ptr<QWidget> window;
    QLineEdit* edit = nullptr;
    QPushButton* go = nullptr;
    TEmulVT* view = nullptr;
    std::vector<std::string> sequences;
    std::string typed;
    int goClicks = 0;
    int shortcuts = 0;
};

TEST_F(TerminalKeys, FunctionKeysFollowTheSelectedTable)
{
    view->SetFKeys(1);
    Key(Qt::Key_F1);
    Key(Qt::Key_Up);
    Key(Qt::Key_F12);
    view->SetFKeys(0);
    Key(Qt::Key_F1);
    Key(Qt::Key_F1, Qt::ShiftModifier);
    Key(Qt::Key_F5);  // a window shortcut too: the terminal has it first
    view->SetFKeys(2);
    Key(Qt::Key_F1);
    Key(Qt::Key_Home, Qt::ControlModifier);
    view->SetFKeys(7);
    Key(Qt::Key_F1);
    Key(Qt::Key_F11);
    EXPECT_EQ(Sequences(),
              "\x1bOP|\x1b[A|\x1b[29~|\x1b[M|\x1b[V|\x1b[Q|\x1bOP|\x1b"
              "C|\x1bOP|\x1b[28~|");
    EXPECT_TRUE(typed.empty());
    EXPECT_EQ(shortcuts, 0);
    EXPECT_TRUE(view->hasFocus());
}

TEST_F(TerminalKeys, TabInScoAndF10InA11StayInTheTerminal)
{
    view->SetFKeys(0);
    Key(Qt::Key_Tab);
    EXPECT_EQ(Sequences(), "\x1b[Z|");
    EXPECT_TRUE(view->hasFocus());  // Tab did not move the focus

    sequences.clear();
    view->SetFKeys(2);
    Key(Qt::Key_F10);
    ASSERT_EQ(sequences.size(), 1u);
    EXPECT_EQ(sequences[0], "");  // taken, nothing to send
    EXPECT_TRUE(typed.empty());
    EXPECT_EQ(shortcuts, 0);

    // In VT100 Tab has no entry and types 9; F10 has none either and goes its ordinary way.
    sequences.clear();
    view->SetFKeys(1);
    Key(Qt::Key_Tab);
    Key(Qt::Key_F10);
    EXPECT_TRUE(sequences.empty());
    EXPECT_EQ(typed, "\t");
    EXPECT_EQ(shortcuts, 1);
}

TEST_F(TerminalKeys, LettersControlKeysAndCapsLock)
{
    view->SetXlat(false);  // typed characters as they are, without SendMap
    Key(Qt::Key_C, Qt::ControlModifier);
    Press(Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));     // Caps Lock off
    Press(Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A"));  // Shift
    Press(Qt::Key_A, Qt::NoModifier, QStringLiteral("A"));     // Caps Lock on
    Press(Qt::Key_A, Qt::ShiftModifier, QStringLiteral("a"));  // Caps Lock and Shift
    Key(Qt::Key_Return);
    Key(Qt::Key_Backspace);
    Key(Qt::Key_Escape);
    Press(Qt::Key_5, Qt::NoModifier, QStringLiteral("5"));
    Press(Qt::Key_BracketRight, Qt::NoModifier, QStringLiteral("]"));  // not a dead key here
    Press(Qt::Key_unknown, Qt::NoModifier, QStringLiteral("\u00E9\u20AC"));
    EXPECT_EQ(typed, std::string("\x03"
                                 "aAAA\r\b\x1b"
                                 "5]\xE9?"));
    EXPECT_EQ(shortcuts, 0);  // Ctrl+C went to the host, not to the window's shortcut

    // Alt with a letter is a mnemonic, not typing.
    typed.clear();
    Key(Qt::Key_G, Qt::AltModifier);
    EXPECT_TRUE(ProcessEventsUntil([&] { return goClicks == 1; }, 2000));  // an animated click
    EXPECT_TRUE(typed.empty());

    // With Xlat on (the host uses the PC character set) typed characters go through SendMap.
    view->SetXlat(true);
    Press(Qt::Key_unknown, Qt::NoModifier, QStringLiteral("\u00E9"));
    EXPECT_EQ(typed, "\x82");
}

TEST_F(TerminalKeys, DeadKeysAccentTheNextVowel)
{
    view->SetXlat(false);
    Press(Qt::Key_Dead_Circumflex, Qt::NoModifier, QString());
    EXPECT_TRUE(view->CircumflexPending());
    Press(Qt::Key_E, Qt::NoModifier, QStringLiteral("e"));
    Press(Qt::Key_Dead_Diaeresis, Qt::ShiftModifier, QString());
    Press(Qt::Key_U, Qt::NoModifier, QStringLiteral("u"));
    Press(Qt::Key_Dead_Circumflex, Qt::NoModifier, QString());
    Press(Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
    EXPECT_FALSE(view->CircumflexPending());
    Press(Qt::Key_O, Qt::NoModifier, QStringLiteral("o"));
    EXPECT_EQ(typed,
              "\xEA\xFC"
              "bo");
}

TEST_F(TerminalKeys, KeypadCursorKeysWithNumLockOffMatchTheCursorBlock)
{
    view->SetFKeys(2);
    Key(Qt::Key_Home, Qt::KeypadModifier);
    Key(Qt::Key_PageUp, Qt::KeypadModifier);
    view->SetFKeys(0);
    Key(Qt::Key_End, Qt::KeypadModifier);
    EXPECT_EQ(Sequences(), "\x1bH|\x1b-|\x1b[F|");
    // The keypad's Delete is not in the cursor block: nothing.
    Key(Qt::Key_Delete, Qt::KeypadModifier);
    EXPECT_EQ(sequences.size(), 3u);
    EXPECT_TRUE(typed.empty());
}

TEST_F(TerminalKeys, KeyCaptureShowsTheDefinitionAndPutsItOnTheClipboard)
{
    testsupport::ModalAnswerer answerer;
    answerer.Expect(testsupport::ClickButton(QMessageBox::Ok));
    view->SetFKeys(1);
    Key(Qt::Key_Asterisk, Qt::ControlModifier | Qt::AltModifier | Qt::KeypadModifier);
    EXPECT_TRUE(TCustomEmulVT::KeyCaptureArmed);
    Key(Qt::Key_Control, Qt::ControlModifier);  // a modifier alone leaves it armed
    EXPECT_TRUE(TCustomEmulVT::KeyCaptureArmed);
    Key(Qt::Key_F1);
    EXPECT_FALSE(TCustomEmulVT::KeyCaptureArmed);
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].title, QStringLiteral("Key definition from keydfs1.cfg"));
    EXPECT_EQ(answerer.Seen()[0].text, QStringLiteral("3B, ssNormal, FALSE, '\\x1BOP'"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("3B, ssNormal, FALSE, '\\x1BOP'"));
    EXPECT_TRUE(sequences.empty());
    EXPECT_TRUE(typed.empty());
}

TEST_F(TerminalKeys, TheFilterIsTheViewsOnlyWhileItHasTheFocus)
{
    int seen = 0;
    // The view installed its filter when it got the focus; ours goes under it.
    view->clearFocus();
    ASSERT_FALSE(ApplicationKeyFilter());
    SetApplicationKeyFilter([&](const TKeyMsg& m) {
        if (!m.Query) ++seen;
        return false;
    });
    view->setFocus();
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->hasFocus(); }, 2000));
    QTest::keyClick(edit, Qt::Key_X);  // not the view's: handed down to the previous filter
    EXPECT_EQ(seen, 1);
    edit->setFocus();
    ASSERT_TRUE(ProcessEventsUntil([&] { return edit->hasFocus(); }, 2000));
    QTest::keyClick(edit, Qt::Key_Y);
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(edit->text(), QStringLiteral("xy"));

    // A view destroyed while it has the focus puts the previous filter back.
    view->setFocus();
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->hasFocus(); }, 2000));
    delete view;
    view = nullptr;
    QTest::keyClick(edit, Qt::Key_Z);
    EXPECT_EQ(seen, 3);
    SetApplicationKeyFilter(nullptr);
}

TEST_F(TerminalKeys, LocalEchoShowsTypedCharacters)
{
    view->SetLocalEcho(true);
    view->SetXlat(false);
    Press(Qt::Key_H, Qt::NoModifier, QStringLiteral("h"));
    Press(Qt::Key_I, Qt::NoModifier, QStringLiteral("i"));
    EXPECT_EQ(LineText(view->Screen(), 1), "hi");
    // Without OnKeyBuffer, a function-key sequence goes through KeyPress byte by byte.
    view->OnKeyBuffer = nullptr;
    view->SetFKeys(1);
    Key(Qt::Key_F1);
    EXPECT_EQ(typed, "hi\x1bOP");
}

TEST(KeyMap, PcKeyDownDataOfQtKeys)
{
    using terminal::MapQtKey;
    const auto k = [](int key, Qt::KeyboardModifiers m = Qt::NoModifier) {
        return MapQtKey(key, m);
    };
    EXPECT_EQ(k(Qt::Key_F1).ScanCode, 0x3B);
    EXPECT_EQ(k(Qt::Key_F11).ScanCode, 0x57);
    EXPECT_EQ(k(Qt::Key_Up).ScanCode, 0x48);
    EXPECT_TRUE(k(Qt::Key_Up).Extended);
    EXPECT_FALSE(k(Qt::Key_Up, Qt::KeypadModifier).Extended);
    EXPECT_EQ(k(Qt::Key_Asterisk, Qt::KeypadModifier).ScanCode, 0x37);
    EXPECT_FALSE(k(Qt::Key_Asterisk, Qt::KeypadModifier).Extended);
    EXPECT_TRUE(k(Qt::Key_Print).Extended);  // also 0x37, but extended
    EXPECT_EQ(k(Qt::Key_Q).ScanCode, 0x10);
    EXPECT_EQ(k(Qt::Key_Q).VirtualKey, 'Q');
    EXPECT_EQ(k(Qt::Key_A, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier).ShiftState,
              7);
    // The French dead key: diaeresis with Shift, circumflex without; ']' is no dead key.
    EXPECT_EQ(k(Qt::Key_Dead_Diaeresis).ShiftState, terminal::kShiftShift);
    EXPECT_EQ(k(Qt::Key_Dead_Circumflex, Qt::ShiftModifier).ShiftState, 0);
    EXPECT_EQ(k(Qt::Key_Dead_Circumflex).VirtualKey, terminal::kVkDeadAccent);
    EXPECT_EQ(k(Qt::Key_BracketRight).VirtualKey, 0);
}

}  // namespace
