// The editor window driven through its real controls, menus and dialogs (offscreen).
#include "editor/EditorWindow.h"

#include "editor/EditorDocumentLayout.h"
#include "editor/LineCounter.h"
#include "editor/TextConvert.h"
#include "support/Modal.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextList>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include <gtest/gtest.h>

using testsupport::ModalAnswerer;

namespace {

class EditorWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        form_ = new TmyForm1;
        form_->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        if (form_) {
            form_->SetModified(false);
            delete form_.data();
        }
        TmyForm1::SetImportPumpInterval(50);
    }

    QString Path(const QString& name) const { return dir_.filePath(name); }
    void WriteFile(const QString& name, const QByteArray& data) const
    {
        QFile f(Path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QByteArray ReadFile(const QString& name) const
    {
        QFile f(Path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QString Text() const { return form_->MEMO1->toPlainText(); }
    // Selects [from, to) of the document.
    void Select(int from, int to)
    {
        QTextCursor c(form_->MEMO1->document());
        c.setPosition(from);
        c.setPosition(to, QTextCursor::KeepAnchor);
        form_->MEMO1->setTextCursor(c);
    }
    // Types into the size box as a user does: select its text, then type.
    void TypeIntoSizeBox(const QString& keys)
    {
        QLineEdit* edit = form_->fontsize->lineEdit();
        edit->selectAll();
        QTest::keyClicks(edit, keys);
    }
    // Waits (bounded) until the answerer used all its handlers.
    static void WaitAnswered(const ModalAnswerer& answerer)
    {
        for (int i = 0; i < 300 && answerer.Pending() > 0; ++i)
            QTest::qWait(10);
    }

    QPointer<TmyForm1> form_;
    QTemporaryDir dir_;
};

TEST_F(EditorWindow, NewWindowIsUntitledEmptyAndWrapped)
{
    EXPECT_EQ(form_->Caption(), QStringLiteral("Untitled"));
    EXPECT_TRUE(Text().isEmpty());
    EXPECT_TRUE(form_->WordWrap1->isChecked());
    EXPECT_EQ(form_->MEMO1->lineWrapMode(), QTextEdit::WidgetWidth);
    EXPECT_FALSE(form_->Modified());
    EXPECT_EQ(form_->MEMO1->LeftMargin(), 6);
    EXPECT_EQ(form_->MEMO1->RightMargin(), 6);
    EXPECT_EQ(form_->StatusPanel->width(), 300);

    // Font names: installed families and "Default", in alphabetical order.
    QStringList names;
    for (int i = 0; i < form_->Fontname->count(); ++i)
        names.append(form_->Fontname->itemText(i));
    EXPECT_TRUE(names.contains("Default"));
    EXPECT_TRUE(names.contains("DejaVu Sans"));
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    EXPECT_EQ(names, sorted);
    EXPECT_EQ(form_->fontsize->count(), 25);
    EXPECT_EQ(form_->fontsize->itemText(15), QStringLiteral("24"));

    EXPECT_EQ(form_->BoldButton->toolTip(), QStringLiteral("Bold"));
    EXPECT_EQ(form_->Bulletsbutton->toolTip(), QStringLiteral("Bullets"));
    EXPECT_EQ(form_->Fontname->toolTip(), QStringLiteral("Font Names"));
    EXPECT_EQ(form_->centeralign->toolTip(), QStringLiteral("Turn on Word Wrap to use"));

    QStringList menus;
    for (QMenu* m : form_->MergedMenus())
        menus.append(m->title());
    EXPECT_EQ(menus, (QStringList{"&File", "View", "Format", "Internet"}));
    // Without a frame that offers them, the Internet entries are disabled.
    EXPECT_FALSE(form_->Telnet1->isEnabled());
    EXPECT_FALSE(form_->StartFTP1->isEnabled());

    // A horizontal scroll bar only where a line is wider than the control: never with word wrap
    // (a word wider than the control is broken), always the vertical one.
    EXPECT_FALSE(form_->MEMO1->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(form_->MEMO1->verticalScrollBar()->isVisible());
    form_->MEMO1->setPlainText(QString(400, u'x') + QStringLiteral(" short words after it"));
    QApplication::processEvents();
    EXPECT_FALSE(form_->MEMO1->horizontalScrollBar()->isVisible());
    form_->WordWrap1->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(form_->MEMO1->horizontalScrollBar()->isVisible());
}

// A long document in the shown window: a key typed at the top lays out only its paragraph, the
// end is reached with Ctrl+End with the caret on the screen, and a click puts the caret on the
// clicked character.
TEST_F(EditorWindow, LongDocumentTypesScrollsAndTakesClicks)
{
    QString text;
    for (int i = 0; i < 30000; ++i)
        text += QStringLiteral("paragraph %1 of a long document\n").arg(i, 5, 10, QLatin1Char('0'));
    form_->MEMO1->setPlainText(text);
    QApplication::processEvents();
    auto* layout =
        qobject_cast<editor::TEditorDocumentLayout*>(form_->MEMO1->document()->documentLayout());
    ASSERT_NE(layout, nullptr);
    layout->LayOutAll();
    QTextEdit* memo = form_->MEMO1;
    memo->moveCursor(QTextCursor::Start);
    const long long before = layout->BlocksLaidOut();
    QTest::keyClicks(memo, QStringLiteral("ab"));
    QTest::keyClick(memo, Qt::Key_Return);
    EXPECT_LE(layout->BlocksLaidOut() - before, 8);
    EXPECT_EQ(form_->StatusText(), QStringLiteral("Number of Lines = 30001"));

    QTest::keyClick(memo, Qt::Key_End, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(memo->textCursor().position(), memo->document()->characterCount() - 1);
    EXPECT_TRUE(memo->viewport()->rect().contains(memo->cursorRect()));
    EXPECT_EQ(memo->verticalScrollBar()->value(), memo->verticalScrollBar()->maximum());

    // A click on the last line of text.
    const QTextBlock target = memo->document()->lastBlock().previous();
    QTextCursor at(target);
    at.setPosition(target.position() + 10);
    const QRect r = memo->cursorRect(at);
    QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(r.left() + 1, r.center().y()));
    EXPECT_EQ(memo->textCursor().position(), target.position() + 10);
    EXPECT_EQ(target.text(), QStringLiteral("paragraph 29999 of a long document"));
}

TEST_F(EditorWindow, TabInsertsNineSpacesAndLeavesTheClipboardAlone)
{
    QApplication::clipboard()->setText(QStringLiteral("the user's data"));
    QTest::keyClick(form_->MEMO1, Qt::Key_Tab);
    EXPECT_EQ(Text(), QString(9, u' '));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("the user's data"));
    EXPECT_TRUE(form_->Modified());

    // A selection is replaced.
    form_->MEMO1->setPlainText("abcdef");
    Select(1, 3);
    QTest::keyClick(form_->MEMO1, Qt::Key_Tab);
    EXPECT_EQ(Text(), QStringLiteral("a") + QString(9, u' ') + QStringLiteral("def"));
    EXPECT_FALSE(Text().contains(u'\t'));
}

TEST_F(EditorWindow, TypingCountsLinesAndSetsTheFlag)
{
    QTest::keyClicks(form_->MEMO1, "a");
    QTest::keyClick(form_->MEMO1, Qt::Key_Return);
    QTest::keyClicks(form_->MEMO1, "b");
    EXPECT_EQ(Text(), QStringLiteral("a\nb"));
    EXPECT_EQ(form_->StatusText(), QStringLiteral("Number of Lines = 2"));
    EXPECT_TRUE(form_->Modified());
}

// The status count is kept from the document's changes, not counted anew: after every kind of
// edit (typing, line breaks and separators, merges, deletes across paragraphs, pastes, undo and
// redo, reloads) and every change of the layout (word wrap, width), it equals a full count.
TEST_F(EditorWindow, LineCountStaysExactThroughEditsAndLayoutChanges)
{
    form_->resize(260, 240);
    QApplication::processEvents();
    QTextEdit* memo = form_->MEMO1;
    memo->setFocus();
    const auto check = [&](int step) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form_->LineCounter->Recounting(); }, 5000));
        const bool wrapped = form_->WordWrap1->isChecked();
        const auto full = editor::DocumentLineCount(*memo->document(), wrapped);
        ASSERT_EQ(form_->StatusText(), QStringLiteral("Number of Lines = %1").arg(full))
            << "after step " << step << " (wrapped " << wrapped << ")";
    };
    std::uint32_t seed = 12345;
    const auto next = [&](std::uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int step = 0; step < 240; ++step) {
        QTextCursor c = memo->textCursor();
        const int length = memo->document()->characterCount() - 1;
        switch (next(12)) {
        case 0:
        case 1:
            QTest::keyClicks(memo, QStringLiteral("word%1 and some more words ").arg(step));
            break;
        case 2:
            QTest::keyClick(memo, Qt::Key_Return);
            break;
        case 3:  // a line separator inside the paragraph
            QTest::keyClick(memo, Qt::Key_Return, Qt::ShiftModifier);
            break;
        case 4:  // merge with the paragraph before
            c.movePosition(QTextCursor::StartOfBlock);
            memo->setTextCursor(c);
            QTest::keyClick(memo, Qt::Key_Backspace);
            break;
        case 5: {  // delete a range that may span paragraphs
            const int a = int(next(std::uint32_t(length + 1)));
            const int b = int(next(std::uint32_t(length + 1)));
            c.setPosition(std::min(a, b));
            c.setPosition(std::max(a, b), QTextCursor::KeepAnchor);
            memo->setTextCursor(c);
            QTest::keyClick(memo, Qt::Key_Delete);
            break;
        }
        case 6:  // paste several paragraphs somewhere
            c.setPosition(int(next(std::uint32_t(length + 1))));
            memo->setTextCursor(c);
            c.insertText(QStringLiteral("pasted one\npasted two\u2028second half\n"));
            break;
        case 7:
            QTest::keyClick(memo, Qt::Key_Z, Qt::ControlModifier);
            break;
        case 8:
            QTest::keyClick(memo, Qt::Key_Y, Qt::ControlModifier);
            break;
        case 9:
            form_->WordWrap1->trigger();
            break;
        case 10:
            form_->resize(180 + int(next(200)), 240);
            break;
        case 11:
            if (next(4) == 0) memo->setPlainText(QStringLiteral("a\nb\n\nc\n"));
            break;
        }
        check(step);
        if (HasFatalFailure()) return;
    }
    memo->clear();
    check(-1);
    EXPECT_EQ(form_->StatusText(), QStringLiteral("Number of Lines = 0"));
}

TEST_F(EditorWindow, ToolbarFollowsTheSelectionWithoutChangingText)
{
    form_->MEMO1->setPlainText("bold plain");
    QTextCursor c(form_->MEMO1->document());
    c.setPosition(0);
    c.setPosition(4, QTextCursor::KeepAnchor);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    bold.setFontPointSize(20);
    bold.setFontFamilies({QStringLiteral("DejaVu Serif")});
    c.mergeCharFormat(bold);
    form_->SetModified(false);
    const QString html = form_->MEMO1->toHtml();

    Select(0, 4);
    EXPECT_TRUE(form_->BoldButton->isChecked());
    EXPECT_EQ(form_->fontsize->currentText(), QStringLiteral("20"));
    EXPECT_EQ(form_->Fontname->currentText(), QStringLiteral("DejaVu Serif"));
    Select(5, 10);
    EXPECT_FALSE(form_->BoldButton->isChecked());
    EXPECT_NE(form_->fontsize->currentText(), QStringLiteral("20"));
    EXPECT_NE(form_->Fontname->currentText(), QStringLiteral("DejaVu Serif"));
    EXPECT_FALSE(form_->Updating());

    EXPECT_EQ(form_->MEMO1->toHtml(), html) << "synchronising the toolbar changed the text";
    EXPECT_FALSE(form_->Modified());
}

TEST_F(EditorWindow, FontSizeBoxRejectsTextThatIsNotAWholeNumber)
{
    form_->MEMO1->setPlainText("some text");
    Select(0, 4);
    const qreal before = form_->MEMO1->textCursor().charFormat().font().pointSizeF();
    ModalAnswerer answerer;
    answerer.Expect(testsupport::ClickButton(QMessageBox::Ok));
    TypeIntoSizeBox("a");
    WaitAnswered(answerer);
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].text, QStringLiteral("'a' is not a valid integer value"));
    EXPECT_EQ(form_->MEMO1->textCursor().charFormat().font().pointSizeF(), before);

    // Typing "12" sets size 1, then 12, to the selection only.
    TypeIntoSizeBox("12");
    EXPECT_EQ(answerer.Unexpected(), 0);
    QTextCursor probe(form_->MEMO1->document());
    probe.setPosition(2);
    EXPECT_EQ(probe.charFormat().fontPointSize(), 12);
    probe.setPosition(7);
    EXPECT_NE(probe.charFormat().fontPointSize(), 12);

    // Sizes no character can have are not applied.
    TypeIntoSizeBox("0");
    probe.setPosition(2);
    EXPECT_EQ(probe.charFormat().fontPointSize(), 12);
}

TEST_F(EditorWindow, FormattingAppliesToSelectionOrToDefaultAttributes)
{
    form_->MEMO1->setPlainText("abc def");
    Select(0, 3);
    QTest::mouseClick(form_->BoldButton, Qt::LeftButton);
    QTest::mouseClick(form_->ItalicButton, Qt::LeftButton);
    QTextCursor probe(form_->MEMO1->document());
    probe.setPosition(2);
    EXPECT_EQ(probe.charFormat().fontWeight(), QFont::Bold);
    EXPECT_TRUE(probe.charFormat().fontItalic());
    probe.setPosition(6);
    EXPECT_NE(probe.charFormat().fontWeight(), QFont::Bold);
    EXPECT_FALSE(form_->MEMO1->document()->defaultFont().bold());

    // Releasing Bold removes only bold.
    Select(0, 3);
    QTest::mouseClick(form_->BoldButton, Qt::LeftButton);
    probe.setPosition(2);
    EXPECT_NE(probe.charFormat().fontWeight(), QFont::Bold);
    EXPECT_TRUE(probe.charFormat().fontItalic());

    // With no selection the document's default attributes change.
    Select(5, 5);
    QTest::mouseClick(form_->UnderlineButton, Qt::LeftButton);
    EXPECT_TRUE(form_->MEMO1->document()->defaultFont().underline());
    const int index = form_->Fontname->findText("DejaVu Sans Mono");
    ASSERT_GE(index, 0);
    form_->Fontname->setCurrentIndex(index);
    EXPECT_EQ(form_->MEMO1->document()->defaultFont().family(), QStringLiteral("DejaVu Sans Mono"));

    // A name typed by hand (no list entry chosen) changes nothing.
    form_->Fontname->lineEdit()->selectAll();
    QTest::keyClicks(form_->Fontname->lineEdit(), "DejaVu Ser");
    EXPECT_EQ(form_->MEMO1->document()->defaultFont().family(), QStringLiteral("DejaVu Sans Mono"));
}

TEST_F(EditorWindow, BulletsAndAlignmentApplyToTheSelectedParagraphs)
{
    form_->MEMO1->setPlainText("one\ntwo\nthree");
    QTextDocument* doc = form_->MEMO1->document();
    Select(1, 5);  // "one" and "two"
    QTest::mouseClick(form_->Bulletsbutton, Qt::LeftButton);
    ASSERT_NE(doc->findBlockByNumber(0).textList(), nullptr);
    EXPECT_EQ(doc->findBlockByNumber(0).textList()->format().style(), QTextListFormat::ListDisc);
    EXPECT_EQ(doc->findBlockByNumber(1).textList(), doc->findBlockByNumber(0).textList());
    EXPECT_EQ(doc->findBlockByNumber(2).textList(), nullptr);

    QTest::mouseClick(form_->centeralign, Qt::LeftButton);
    EXPECT_EQ(doc->findBlockByNumber(0).blockFormat().alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignHCenter);
    EXPECT_NE(doc->findBlockByNumber(2).blockFormat().alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignHCenter);

    // The toolbar follows: a plain left paragraph, then back to a centred bulleted one.
    Select(10, 10);
    EXPECT_FALSE(form_->Bulletsbutton->isChecked());
    EXPECT_TRUE(form_->Leftalign->isChecked());
    EXPECT_FALSE(form_->centeralign->isChecked());
    Select(5, 5);
    EXPECT_TRUE(form_->Bulletsbutton->isChecked());
    EXPECT_TRUE(form_->centeralign->isChecked());
    EXPECT_FALSE(form_->Leftalign->isChecked());

    QTest::mouseClick(form_->rightalign, Qt::LeftButton);
    EXPECT_EQ(doc->findBlockByNumber(1).blockFormat().alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignRight);
    QTest::mouseClick(form_->Bulletsbutton, Qt::LeftButton);  // released: bullets go
    EXPECT_EQ(doc->findBlockByNumber(1).textList(), nullptr);
    EXPECT_NE(doc->findBlockByNumber(0).textList(), nullptr);
    EXPECT_EQ(Text(), QStringLiteral("one\ntwo\nthree"));
}

TEST_F(EditorWindow, PopupEntriesUseTheClipboardExceptDelete)
{
    form_->MEMO1->setPlainText("hello world");
    QApplication::clipboard()->setText("before");
    Select(0, 6);
    form_->Delete1->trigger();
    EXPECT_EQ(Text(), QStringLiteral("world"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
    Select(0, 3);
    form_->Copy1->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("wor"));
    Select(3, 5);
    form_->Cut1->trigger();
    EXPECT_EQ(Text(), QStringLiteral("wor"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("ld"));
    Select(0, 0);
    form_->Paste1->trigger();
    EXPECT_EQ(Text(), QStringLiteral("ldwor"));
}

TEST_F(EditorWindow, FontDialogAppliesTheChosenFont)
{
    form_->MEMO1->setPlainText("abc def");
    Select(0, 3);
    ModalAnswerer answerer;
    answerer.Expect([](QWidget* modal, testsupport::ModalSeen&) {
        auto* dlg = qobject_cast<QFontDialog*>(modal);
        ASSERT_NE(dlg, nullptr);
        QFont f(QStringLiteral("DejaVu Serif"));
        f.setPointSize(22);
        f.setItalic(true);
        dlg->setCurrentFont(f);
        dlg->accept();
    });
    form_->Font1->trigger();
    EXPECT_EQ(answerer.Pending(), 0);
    QTextCursor probe(form_->MEMO1->document());
    probe.setPosition(2);
    EXPECT_EQ(probe.charFormat().font().pointSize(), 22);
    EXPECT_TRUE(probe.charFormat().fontItalic());
    EXPECT_EQ(probe.charFormat().font().family(), QStringLiteral("DejaVu Serif"));
    probe.setPosition(6);
    EXPECT_NE(probe.charFormat().font().pointSize(), 22);

    // Cancelling changes nothing.
    Select(4, 7);
    answerer.Expect(testsupport::Cancel());
    form_->Font1->trigger();
    probe.setPosition(6);
    EXPECT_NE(probe.charFormat().font().pointSize(), 22);
}

// ---- File operations ----------------------------------------------------------------------------

TEST_F(EditorWindow, SaveAsDosThroughTheDialog)
{
    form_->MEMO1->setPlainText("a\nb");
    ASSERT_TRUE(form_->Modified());
    ModalAnswerer answerer;
    answerer.Expect(testsupport::ChooseFile(Path("notes")));
    form_->SaveasDos1->trigger();
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_TRUE(answerer.Seen()[0].nameFilter.startsWith("Dos ( *.TXT )"));
    EXPECT_EQ(answerer.Seen()[0].proposedName, QStringLiteral("Untitled"));
    EXPECT_EQ(answerer.Seen()[0].nameFilters.size(), 4);
    EXPECT_EQ(ReadFile("notes.txt"), QByteArray("a\r\nb"));
    EXPECT_EQ(form_->Caption(), Path("notes.txt"));
    EXPECT_FALSE(form_->Modified());

    // An empty document gives an empty file, as DOS and as Unix text.
    form_->MEMO1->clear();
    ASSERT_TRUE(form_->SaveAsPlain(Path("empty.txt"), true));
    ASSERT_TRUE(form_->SaveAsPlain(Path("empty.unx"), false));
    EXPECT_EQ(ReadFile("empty.txt"), QByteArray(""));
    EXPECT_EQ(ReadFile("empty.unx"), QByteArray(""));
}

TEST_F(EditorWindow, ReplacingAFileAsksAboutTheNameFinallyWritten)
{
    WriteFile("notes.unx", "old");
    form_->MEMO1->setPlainText("new");
    ModalAnswerer answerer;
    answerer.Expect(testsupport::ChooseFile(Path("notes")));
    answerer.Expect(testsupport::ClickButton(QMessageBox::No));
    form_->SaveasUnix1->trigger();
    WaitAnswered(answerer);
    ASSERT_EQ(answerer.Seen().size(), 2u);
    EXPECT_TRUE(answerer.Seen()[0].nameFilter.startsWith("Unix ( *.UNI )"));
    EXPECT_TRUE(answerer.Seen()[1].text.startsWith("notes.unx already exists"));
    EXPECT_EQ(ReadFile("notes.unx"), QByteArray("old"));
    EXPECT_TRUE(form_->Modified());
    EXPECT_EQ(form_->Caption(), QStringLiteral("Untitled"));

    answerer.Expect(testsupport::ChooseFile(Path("notes")));
    answerer.Expect(testsupport::ClickButton(QMessageBox::Yes));
    form_->SaveasUnix1->trigger();
    WaitAnswered(answerer);
    EXPECT_EQ(ReadFile("notes.unx"), QByteArray("new"));
    EXPECT_FALSE(form_->Modified());
    EXPECT_EQ(answerer.Unexpected(), 0);

    // A name with a full stop at its end gets no extension.
    EXPECT_TRUE(form_->SaveAsPlain(Path("plain."), false));
    EXPECT_EQ(ReadFile("plain."), QByteArray("new"));
}

TEST_F(EditorWindow, SavingWithWordWrapWritesTheScreenLines)
{
    form_->resize(220, 200);
    QApplication::processEvents();
    QString para;
    for (int i = 0; i < 60; ++i)
        para += QStringLiteral("word%1 ").arg(i);
    para += QStringLiteral("end");
    form_->MEMO1->setPlainText(para);
    ASSERT_TRUE(form_->SaveAsPlain(Path("wrapped"), true));
    const QList<QByteArray> lines = ReadFile("wrapped.txt").split('\n');
    EXPECT_GE(lines.size(), 3);
    QByteArray joined;
    for (QByteArray l : lines)
        joined += l.replace("\r", "");
    EXPECT_EQ(joined, para.toUtf8());
    EXPECT_EQ(form_->StatusText(), QStringLiteral("Number of Lines = %1").arg(lines.size()))
        << "the line count follows the same line model";

    form_->WordWrap1->trigger();
    EXPECT_FALSE(form_->WordWrap1->isChecked());
    ASSERT_TRUE(form_->SaveAsPlain(Path("unwrapped"), true));
    EXPECT_EQ(ReadFile("unwrapped.txt"), para.toUtf8());
}

TEST_F(EditorWindow, SaveRtfClearsTheFlagOnlyWhenWritten)
{
    QTest::keyClicks(form_->MEMO1, "rich");
    ASSERT_TRUE(form_->Modified());
    ModalAnswerer answerer;
    answerer.Expect(testsupport::ChooseFile(Path("doc")));
    form_->SaveRTFtext1->trigger();
    EXPECT_TRUE(answerer.Seen()[0].nameFilter.startsWith("Rich Text ( *.RTF )"));
    EXPECT_TRUE(ReadFile("doc.rtf").startsWith("{\\rtf"));
    EXPECT_FALSE(form_->Modified());

    // A failed save keeps the flag and reports the file that could not be created.
    QTest::keyClicks(form_->MEMO1, "x");
    answerer.Expect(testsupport::ClickButton(QMessageBox::Ok));
    EXPECT_FALSE(form_->SaveAsRtf(Path("no/such/dir/doc")));
    EXPECT_EQ(answerer.Seen().back().text,
              QStringLiteral("Cannot create file %1").arg(Path("no/such/dir/doc.rtf")));
    EXPECT_TRUE(form_->Modified());
    answerer.Expect(testsupport::ClickButton(QMessageBox::Ok));
    EXPECT_FALSE(form_->SaveAsPlain(Path("no/such/dir/doc"), false));
    EXPECT_EQ(answerer.Seen().back().text, QStringLiteral("File not found"));
    EXPECT_TRUE(form_->Modified());
    // A file that is created but cannot be written: a link to the full device.
    if (QFile::link("/dev/full", Path("full.rtf"))) {
        answerer.Expect(testsupport::ClickButton(QMessageBox::Yes));  // replace full.rtf
        answerer.Expect(testsupport::ClickButton(QMessageBox::Ok));
        EXPECT_FALSE(form_->SaveAsRtf(Path("full.rtf")));
        EXPECT_EQ(answerer.Seen().back().text, QStringLiteral("Failed to Save Stream"));
        EXPECT_TRUE(form_->Modified());
    }
}

TEST_F(EditorWindow, OpenUnixTextThroughTheDialog)
{
    WriteFile("data.unx", "a\r\nb\t\xe9x\n");
    form_->MEMO1->setPlainText("old");
    ModalAnswerer answerer;
    answerer.Expect(testsupport::ChooseFile(Path("data.unx")));
    form_->Open1->trigger();
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_TRUE(answerer.Seen()[0].nameFilter.startsWith("All Files ( *.* ) (for unix types)"));
    EXPECT_EQ(answerer.Seen()[0].nameFilters.size(), 5);
    EXPECT_EQ(Text(), QStringLiteral("a\nbx\n\n"));
    EXPECT_EQ(form_->StatusText(), QStringLiteral("3 Lines read"));
    EXPECT_EQ(form_->Caption(), Path("data.unx"));
    EXPECT_EQ(form_->CurrentFileName(), Path("data.unx"));
    EXPECT_FALSE(form_->Modified());
    EXPECT_TRUE(form_->MEMO1->isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // Saved as Unix it gives the cleaned file back, final line feed included.
    ASSERT_TRUE(form_->SaveAsPlain(Path("back.unx"), false));
    EXPECT_EQ(ReadFile("back.unx"), QByteArray("a\nbx\n"));
}

TEST_F(EditorWindow, ImportProcessesEventsAndShowsProgress)
{
    QByteArray big;
    for (int i = 0; i < 200000; ++i)
        big += "line number " + QByteArray::number(i) + "\n";
    WriteFile("big.unx", big);  // several read blocks
    TmyForm1::SetImportPumpInterval(0);
    QStringList statuses;
    bool hiddenWhileReading = false;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (!form_ || !form_->Importing()) return;
        if (statuses.isEmpty() || statuses.last() != form_->StatusText())
            statuses.append(form_->StatusText());
        if (!form_->MEMO1->isVisible()) hiddenWhileReading = true;
    });
    probe.start();
    ASSERT_TRUE(ImportUnixText(form_, Path("big.unx"), false));
    probe.stop();
    EXPECT_TRUE(hiddenWhileReading);
    ASSERT_GE(statuses.size(), 2);
    EXPECT_TRUE(statuses.first().endsWith(" Lines read"));
    EXPECT_EQ(statuses.last(), QStringLiteral("Inserting text into edit window...."));
    EXPECT_EQ(form_->StatusText(), QStringLiteral("200001 Lines read"));
    EXPECT_TRUE(form_->CurrentFileName().isEmpty()) << "the path was not to be recorded";
    EXPECT_EQ(form_->MEMO1->document()->blockCount(), 200002);
}

TEST_F(EditorWindow, ClosingTheWindowDuringAnImportStopsIt)
{
    QByteArray big;
    for (int i = 0; i < 100000; ++i)
        big += "some line of text " + QByteArray::number(i) + "\n";
    WriteFile("big.unx", big);
    TmyForm1::SetImportPumpInterval(0);
    QTimer::singleShot(0, form_, [this] { form_->close(); });
    EXPECT_FALSE(ImportUnixText(form_, Path("big.unx"), true));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form_.isNull());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(EditorWindow, FailedLoadsKeepTheDocument)
{
    form_->MEMO1->setPlainText("precious");
    form_->SetModified(true);
    ModalAnswerer answerer;
    auto expectError = [&](const std::function<bool()>& load, const QString& text) {
        answerer.Expect(testsupport::ClickButton(QMessageBox::Ok));
        EXPECT_FALSE(load());
        ASSERT_FALSE(answerer.Seen().empty());
        EXPECT_EQ(answerer.Seen().back().text, text);
        EXPECT_EQ(Text(), QStringLiteral("precious"));
        EXPECT_TRUE(form_->MEMO1->isVisible());
        EXPECT_TRUE(form_->ToolBar1->isEnabled());
        EXPECT_TRUE(form_->Modified());
    };
    expectError([&] { return ImportUnixText(form_, Path("missing.unx"), true); },
                QStringLiteral("File not found"));
    expectError([&] { return ImportUnixText(form_, Path("no/dir/x.unx"), true); },
                QStringLiteral("File not found"));
    expectError([&] { return ImportUnixText(form_, dir_.path(), true); },
                QStringLiteral("File access denied"));
    expectError([&] { return form_->LoadDosOrRtf(Path("missing.txt")); },
                QStringLiteral("Cannot open file %1").arg(Path("missing.txt")));
    expectError([&] { return form_->LoadDosOrRtf(dir_.path()); },
                QStringLiteral("Cannot open file %1").arg(dir_.path()));

    // A 1 GB file is refused before anything is read.
    const QByteArray big = QFile::encodeName(Path("huge.bin"));
    const int fd = ::open(big.constData(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t(1) << 30), 0);
    ::close(fd);
    const QString tooLarge = editor::FileErrorMessage(editor::kFileTooLarge);
    expectError([&] { return ImportUnixText(form_, Path("huge.bin"), true); }, tooLarge);
    expectError([&] { return form_->LoadDosOrRtf(Path("huge.bin")); }, tooLarge);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(answerer.Unexpected(), 0);
}

TEST_F(EditorWindow, BinaryEmptyAndNulFilesLoadBestEffort)
{
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(char(i * 31 + 7));
    WriteFile("binary.bin", binary);
    ASSERT_TRUE(ImportUnixText(form_, Path("binary.bin"), true));
    for (const QChar c : Text())
        EXPECT_TRUE(c == u'\n' || (c.unicode() >= 32 && c.unicode() <= 126));
    EXPECT_EQ(form_->StatusText(), QStringLiteral("%1 Lines read").arg(binary.count('\n') + 1));

    ASSERT_TRUE(form_->LoadDosOrRtf(Path("binary.bin")));
    EXPECT_FALSE(Text().isEmpty());
    EXPECT_EQ(form_->Caption(), Path("binary.bin"));

    WriteFile("empty", QByteArray());
    ASSERT_TRUE(ImportUnixText(form_, Path("empty"), true));
    EXPECT_EQ(form_->StatusText(), QStringLiteral("1 Lines read"));
    ASSERT_TRUE(form_->LoadDosOrRtf(Path("empty")));
    EXPECT_TRUE(Text().isEmpty());

    WriteFile("nul.txt", QByteArray("a\0b\r\nc", 6));
    ASSERT_TRUE(form_->LoadDosOrRtf(Path("nul.txt")));
    EXPECT_EQ(Text(), QStringLiteral("a\ufffdb\nc"));
    EXPECT_FALSE(form_->Modified());
    ASSERT_TRUE(ImportUnixText(form_, Path("nul.txt"), true));
    EXPECT_EQ(Text(), QStringLiteral("ab\nc\n"));
}

TEST_F(EditorWindow, OpenDosTextThroughTheDialog)
{
    WriteFile("dos.txt", "first\r\nsecond\r\n");
    ModalAnswerer answerer;
    answerer.Expect(testsupport::ChooseFile(Path("dos.txt")));
    form_->OpenDosText1->trigger();
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_TRUE(answerer.Seen()[0].nameFilter.startsWith("Dos or Rich Text (*.TXT or *.RTF)"));
    EXPECT_EQ(Text(), QStringLiteral("first\nsecond\n"));
    EXPECT_EQ(form_->Caption(), Path("dos.txt"));
    EXPECT_TRUE(form_->CurrentFileName().isEmpty());
    EXPECT_FALSE(form_->Modified());
    ASSERT_TRUE(form_->SaveAsPlain(Path("again.txt"), true));
    EXPECT_EQ(ReadFile("again.txt"), QByteArray("first\r\nsecond"));

    // Cancelling the dialog changes nothing.
    answerer.Expect(testsupport::Cancel());
    form_->OpenDosText1->trigger();
    EXPECT_EQ(Text(), QStringLiteral("first\nsecond\n"));
}

TEST_F(EditorWindow, OpensRichTextWithItsFormatting)
{
    ModalAnswerer answerer;
    const QString sample = QDir::cleanPath(QStringLiteral(ZARVOS_TEST_DATA_DIR "/rtf/wordpad.rtf"));
    answerer.Expect(testsupport::ChooseFile(sample));
    form_->OpenDosText1->trigger();
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(form_->Caption(), sample);
    EXPECT_FALSE(form_->Modified());
    QTextDocument* doc = form_->MEMO1->document();
    const QTextBlock title = doc->begin();
    EXPECT_EQ(title.text(), QStringLiteral("Shopping list"));
    EXPECT_EQ(title.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QTextBlock apples;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        if (b.text() == QLatin1String("Apples")) apples = b;
    ASSERT_TRUE(apples.isValid());
    ASSERT_NE(apples.textList(), nullptr);
    EXPECT_EQ(apples.textList()->format().style(), QTextListFormat::ListDisc);

    // The toolbar shows the title's formatting.
    Select(1, 1);
    EXPECT_TRUE(form_->BoldButton->isChecked());
    EXPECT_TRUE(form_->centeralign->isChecked());
    EXPECT_EQ(form_->fontsize->currentText(), QStringLiteral("16"));
}

TEST_F(EditorWindow, RichTextSavedByTheWindowReadsBackTheSame)
{
    form_->MEMO1->setPlainText("plain bold\nitem one\nitem two\ncentred");
    Select(6, 10);
    QTest::mouseClick(form_->BoldButton, Qt::LeftButton);
    Select(12, 20);
    QTest::mouseClick(form_->Bulletsbutton, Qt::LeftButton);
    Select(30, 30);
    QTest::mouseClick(form_->centeralign, Qt::LeftButton);
    ASSERT_TRUE(form_->SaveAsRtf(Path("round")));
    EXPECT_FALSE(form_->Modified());

    TmyForm1 other;
    ASSERT_TRUE(other.LoadDosOrRtf(Path("round.rtf")));
    QTextDocument* doc = other.MEMO1->document();
    EXPECT_EQ(doc->toPlainText(), QStringLiteral("plain bold\nitem one\nitem two\ncentred"));
    QTextCursor probe(doc);
    probe.setPosition(8);
    EXPECT_EQ(probe.charFormat().fontWeight(), QFont::Bold);
    probe.setPosition(3);
    EXPECT_NE(probe.charFormat().fontWeight(), QFont::Bold);
    ASSERT_NE(doc->findBlockByNumber(1).textList(), nullptr);
    EXPECT_EQ(doc->findBlockByNumber(1).textList()->format().style(), QTextListFormat::ListDisc);
    EXPECT_NE(doc->findBlockByNumber(2).textList(), nullptr);
    EXPECT_EQ(doc->findBlockByNumber(0).textList(), nullptr);
    EXPECT_EQ(doc->findBlockByNumber(3).blockFormat().alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignHCenter);
}

TEST_F(EditorWindow, DefaultAttributesAreSavedAsRichText)
{
    form_->MEMO1->setPlainText("all of it");
    Select(0, 0);
    QTest::mouseClick(form_->BoldButton, Qt::LeftButton);  // no selection: the default
    const int index = form_->Fontname->findText("DejaVu Serif");
    ASSERT_GE(index, 0);
    form_->Fontname->setCurrentIndex(index);
    form_->fontsize->lineEdit()->selectAll();
    QTest::keyClicks(form_->fontsize->lineEdit(), "18");
    ASSERT_TRUE(form_->SaveAsRtf(Path("default")));

    TmyForm1 other;
    ASSERT_TRUE(other.LoadDosOrRtf(Path("default.rtf")));
    QTextCursor probe(other.MEMO1->document());
    probe.setPosition(3);
    const QFont shown = probe.charFormat().font().resolve(other.MEMO1->document()->defaultFont());
    EXPECT_TRUE(shown.bold());
    EXPECT_EQ(shown.family(), QStringLiteral("DejaVu Serif"));
    EXPECT_EQ(shown.pointSize(), 18);
}

TEST_F(EditorWindow, MalformedRichTextLoadsBestEffort)
{
    QByteArray nested = "{\\rtf1 ";
    for (int i = 0; i < 10000; ++i)
        nested += '{';
    nested += "deep";
    WriteFile("nested.rtf", nested);
    ASSERT_TRUE(form_->LoadDosOrRtf(Path("nested.rtf")));
    EXPECT_TRUE(Text().contains("deep"));

    WriteFile("bin.rtf", "{\\rtf1 before\\bin999999 x");
    ASSERT_TRUE(form_->LoadDosOrRtf(Path("bin.rtf")));
    EXPECT_TRUE(Text().startsWith("before"));

    WriteFile("escape.rtf", "{\\rtf1 text\\u99999999999 more\\'");
    ASSERT_TRUE(form_->LoadDosOrRtf(Path("escape.rtf")));
    EXPECT_TRUE(Text().startsWith("text"));
    EXPECT_FALSE(form_->Modified());

    // Not rich text after all: read as plain text.
    WriteFile("fake.rtf", "{\\rtx not really}");
    ASSERT_TRUE(form_->LoadDosOrRtf(Path("fake.rtf")));
    EXPECT_EQ(Text(), QStringLiteral("{\\rtx not really}"));
}

TEST_F(EditorWindow, PrintsToAPdfFileWithTheFileNameAsTitle)
{
    QByteArray text;
    for (int i = 0; i < 400; ++i)
        text += "printed line " + QByteArray::number(i) + "\n";
    WriteFile("report.unx", text);
    ASSERT_TRUE(ImportUnixText(form_, Path("report.unx"), true));
    QPrinter* printer = form_->Printer();
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(Path("out.pdf"));
    ModalAnswerer answerer;
    answerer.Expect(testsupport::Accept());
    form_->Print1->trigger();
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Unexpected(), 0);
    const QByteArray pdf = ReadFile("out.pdf");
    ASSERT_TRUE(pdf.startsWith("%PDF")) << pdf.left(20).constData();
    EXPECT_EQ(printer->docName(), Path("report.unx"));
    // The title is in the document information, as UTF-16 with a byte order mark.
    QByteArray title = "\xfe\xff";
    for (QChar c : Path("report.unx")) {
        title.append(char(c.unicode() >> 8));
        title.append(char(c.unicode() & 0xff));
    }
    const bool plainTitle = pdf.contains(Path("report.unx").toUtf8());
    EXPECT_TRUE(pdf.contains(title) || plainTitle);
    // 401 lines do not fit on one page.
    EXPECT_GE(pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r") + pdf.count("/Type /Page "),
              2);

    // Cancelling the print dialog prints nothing.
    QFile::remove(Path("out.pdf"));
    answerer.Expect(testsupport::Cancel());
    form_->Print1->trigger();
    EXPECT_FALSE(QFile::exists(Path("out.pdf")));
}

}  // namespace
