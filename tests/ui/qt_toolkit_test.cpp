// What the Qt toolkit does beyond the seam's rules (those are checked on both
// backends in tests/seams): the keyboard, tab order, what is shown, the
// clipboard, the message box, and waits that sleep.

#include "ui/qt_toolkit.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "qt_test_support.h"
#include "runtime/failure.h"

namespace monvia::ui {
namespace {

using testing::application;
using testing::make_window;
using testing::probe_layout;
using testing::user_click;
using testing::wait_until;

class QtToolkitTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& c : probe_layout().controls) {
            const std::string name = c.name;
            win_->control(name).on_click([this, name] { clicks_.push_back(name); });
        }
    }

    // Shows the window and waits until Qt has put it on its (offscreen) screen.
    void show() {
        win_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(win_->widget()));
    }
    QtControl& c(const char* name) { return win_->control(name); }
    QWidget* w(const char* name) { return win_->control(name).widget(); }

    QtToolkit tk_{application()};
    std::unique_ptr<QtWindow> win_ = make_window(tk_, probe_layout());
    std::vector<std::string> clicks_;
};

// ---- Clicks -----------------------------------------------------------------

TEST_F(QtToolkitTest, KeyboardPressesButtonsWithSpaceOnlyNeverWithEnterOrEscape) {
    show();
    struct Case {
        const char* focus;
        Qt::Key key;
        std::vector<std::string> clicks;
    };
    const Case cases[] = {
        {"txtIn", Qt::Key_Return, {}},         {"txtIn", Qt::Key_Enter, {}},
        {"txtIn", Qt::Key_Escape, {}},         {"cmdQuit", Qt::Key_Return, {}},
        {"cmdQuit", Qt::Key_Escape, {}},       {"cmdQuit", Qt::Key_Space, {"cmdQuit"}},
        {"chkOut", Qt::Key_Space, {"chkOut"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.focus) + " key " + std::to_string(k.key));
        clicks_.clear();
        w(k.focus)->setFocus();
        QTest::keyClick(w(k.focus), k.key);
        EXPECT_EQ(clicks_, k.clicks);
    }
}

// ---- Option groups and frames ----------------------------------------------

TEST_F(QtToolkitTest, AnOptionGroupIsOneTabStopAtItsSelectedButton) {
    show();
    auto tab_from = [&](const char* start) {
        w(start)->setFocus();
        QTest::keyClick(w(start), Qt::Key_Tab);
        return testing::name_of(win_->widget()->focusWidget());
    };
    struct Case {
        const char* select;  // in the frame's group, where optB has the lower tab index
        int value;
        const char* after_txtIn;
        const char* after_stop;
    };
    const Case cases[] = {
        {"optB", -1, "optB", "chkIn"},
        {"optA", -1, "optA", "chkIn"},
        {"optA", 0, "optB", "chkIn"},  // none selected: the group's first button is its stop
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.select) + " = " + std::to_string(k.value));
        c(k.select).set_value(k.value);
        const std::string first = tab_from("txtIn");
        EXPECT_EQ(first, k.after_txtIn);
        EXPECT_EQ(tab_from(first.c_str()), k.after_stop);
    }
}

// ---- Texts ------------------------------------------------------------------

TEST_F(QtToolkitTest, ShownTextIsPlainText) {
    c("lblIn").set_text("<b>x</b>");
    EXPECT_EQ(static_cast<QLabel*>(w("lblIn"))->textFormat(), Qt::PlainText);
    c("txtLog").set_text("a\r\nb\nc");
    auto* log = static_cast<QPlainTextEdit*>(w("txtLog"));
    EXPECT_EQ(log->document()->blockCount(), 3);  // CR LF is one line break
    EXPECT_EQ(log->toPlainText(), QStringLiteral("a\nb\nc"));
}

TEST_F(QtToolkitTest, AppendingGrowsATranscriptPieceByPiece) {
    auto* log = static_cast<QPlainTextEdit*>(w("txtLog"));
    struct Step {
        std::string piece;
        bool replace;
        std::string text;
        int lines;
    };
    const Step steps[] = {
        {"--> C|1|100", true, "--> C|1|100", 1},
        {"\r\n<-- OK", false, "--> C|1|100\r\n<-- OK", 2},
        {"\r\n<-- \xe2\x82", false, "--> C|1|100\r\n<-- OK\r\n<-- \xe2\x82", 3},  // a character split in two
        {"\xac", false, "--> C|1|100\r\n<-- OK\r\n<-- \xe2\x82\xac", 3},
        {"\r", false, "--> C|1|100\r\n<-- OK\r\n<-- \xe2\x82\xac\r", 4},
        {"\nend", false, "--> C|1|100\r\n<-- OK\r\n<-- \xe2\x82\xac\r\nend", 4},  // CR then LF: one break
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.text);
        if (s.replace)
            c("txtLog").set_text(s.piece);
        else
            c("txtLog").append_text(s.piece);
        EXPECT_EQ(c("txtLog").text(), s.text);
        EXPECT_EQ(log->document()->blockCount(), s.lines);
    }
    EXPECT_EQ(log->document()->lastBlock().text(), QStringLiteral("end"));
    // The single-line box and the captions append too.
    c("txtIn").append_text("put");
    EXPECT_EQ(c("txtIn").text(), "input");
    c("cmdQuit").append_text("!");
    EXPECT_EQ(c("cmdQuit").text(), "Quit!");
}

TEST_F(QtToolkitTest, ALineBreakTypedIntoAMultiLineBoxReadsAsCrLf) {
    show();
    w("txtNote")->setFocus();
    QTest::keyClicks(w("txtNote"), "ab");
    QTest::keyClick(w("txtNote"), Qt::Key_Return);
    QTest::keyClicks(w("txtNote"), "c");
    EXPECT_EQ(c("txtNote").text(), "ab\r\nc");  // a typed line break is CR LF
}

TEST_F(QtToolkitTest, AReadOnlyBoxCanBeSelectedAndCopiedButNotEdited) {
    show();
    QWidget* log = w("txtLog");
    log->setFocus();
    QTest::keyClicks(log, "typed");
    QTest::keyClick(log, Qt::Key_Backspace);
    EXPECT_EQ(c("txtLog").text(), "one\r\ntwo");
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(log, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("one\r\ntwo"));
}

// ---- Copying out ------------------------------------------------------------

// Every character of the Latin-1 upper half, U+0080 to U+00FF, in UTF-8.
std::string latin1_upper_half() {
    std::string s;
    for (int c = 0x80; c <= 0xFF; ++c) {
        s.push_back(static_cast<char>(0xC0 | (c >> 6)));
        s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    return s;
}

struct Copied {
    QStringList formats;
    QByteArray bytes;  // as asked for by the X11 clipboard
    QString text;
};

// Selects the whole text of a box with the keyboard and copies it as a user
// would; gives what the clipboard then holds.
Copied copy_all(QWidget* box) {
    QGuiApplication::clipboard()->clear();
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data) return {};
    Copied c;
    c.formats = data->formats();
    c.bytes = data->data(QStringLiteral("text/plain"));
    c.text = data->text();
    return c;
}

TEST_F(QtToolkitTest, CopyingPutsExactlyTheCharactersOnTheClipboardAsPlainTextOnly) {
    show();
    struct Case {
        const char* what;
        std::string text;
        bool single_line_too;  // a single-line box shows no line breaks
    };
    const Case cases[] = {
        {"ASCII", "--> C|1|100 <b>&amp;</b> ~", true},
        {"zero byte", std::string("a\0b\0", 4), true},
        {"CR LF", "--> C|1|100\r\n<-- OK", false},
        {"lone CR", "one\rtwo\r", false},
        {"lone LF", "\none\ntwo", false},
        {"every break kind", "a\r\n\r\nb\r\rc\n\nd\n\re", false},
        {"U+0080 to U+00FF", latin1_upper_half(), true},
        {"no-break space",
         "1\xc2\xa0"
         "000\xc2\xa0\xc2\xa0x",
         true},
        {"outside the basic plane", "\xf0\x9f\x98\x80 \xf0\x9d\x84\x9e", true},
        {"separators Qt treats as breaks",
         "a\xe2\x80\xa8"
         "b\xe2\x80\xa9"
         "c\xef\xb7\x90"
         "d",
         false},
        {"everything at once",
         "\xc2\xa0\r\n" + latin1_upper_half() + std::string("\0\r", 2) + "\xf0\x9f\x98\x80", false},
    };
    for (const char* name : {"txtLog", "txtNote", "txtIn"})
        for (const Case& k : cases) {
            if (std::string(name) == "txtIn" && !k.single_line_too) continue;
            SCOPED_TRACE(std::string(name) + ": " + k.what);
            c(name).set_text(k.text);
            const Copied copied = copy_all(w(name));
            EXPECT_EQ(copied.formats, QStringList{QStringLiteral("text/plain")});
            EXPECT_EQ(copied.bytes.toStdString(), k.text);
            EXPECT_EQ(copied.text.toStdString(), k.text);
            EXPECT_EQ(c(name).text(), k.text);  // selecting and copying change nothing
        }
}

TEST_F(QtToolkitTest, CopyingPartOfATranscriptKeepsItsLineBreaksAsSet) {
    auto* log = static_cast<QPlainTextEdit*>(w("txtLog"));
    // Positions in the box: a 0, b 1, break 2, c 3, d 4, break 5, e 6, f 7,
    // break 8, g 9, h 10, no-break space 11, break 12, i 13.
    c("txtLog").set_text("ab\rcd\nef\r\ngh\xc2\xa0\r\ni");
    struct Case {
        int from, to;
        const char* expected;
    };
    const Case cases[] = {
        {1, 10, "b\rcd\nef\r\ng"},          {2, 3, "\r"}, {5, 9, "\nef\r\n"}, {9, 14, "gh\xc2\xa0\r\ni"},
        {13, 4, "d\nef\r\ngh\xc2\xa0\r\n"},  // selected from right to left
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.from) + ".." + std::to_string(k.to));
        QTextCursor cursor(log->document());
        cursor.setPosition(k.from);
        cursor.setPosition(k.to, QTextCursor::KeepAnchor);
        log->setTextCursor(cursor);
        QGuiApplication::clipboard()->clear();
        log->copy();
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), k.expected);
    }
}

TEST_F(QtToolkitTest, WhatWasCopiedStaysOnTheClipboardWhileTheTranscriptChanges) {
    show();
    const std::function<void()> changes[] = {
        [this] { c("txtLog").append_text("\r\n<-- more"); },
        [this] { c("txtLog").append_text("\n"); },  // joins the CR at the end into one break
        [this] { c("txtLog").set_text("--> S|2"); },
    };
    for (const auto& change : changes) {
        c("txtLog").set_text("--> S|1\r\n<-- OK\xc2\xa0\r");
        copy_all(w("txtLog"));
        change();
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "--> S|1\r\n<-- OK\xc2\xa0\r");
    }
    // And after the box itself is gone.
    c("txtLog").set_text("last words");
    copy_all(w("txtLog"));
    win_.reset();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "last words");
}

TEST_F(QtToolkitTest, ManyAppendsGiveExactlyTheConcatenation) {
    auto* log = static_cast<QPlainTextEdit*>(w("txtLog"));
    // Pieces that end and begin in every awkward place: inside a CR LF, inside
    // a character of two, three and four bytes, on a zero byte.
    const std::string pieces[] = {
        "\r\n<-- OK|",
        "1|\r",
        "\nCREATED",
        std::string("\0", 1),
        "\xc2",
        "\xa0\xe2\x82",
        "\xac\xf0\x9f",
        "\x98\x80\r",
        "\r\n",
        "\n",
        "\xc3\xbf"
        "end",
    };
    std::string expected = "--> S|1";
    c("txtLog").set_text(expected);
    for (int round = 0; round < 300; ++round)
        for (const std::string& p : pieces) {
            c("txtLog").append_text(p);
            expected += p;
        }
    EXPECT_EQ(c("txtLog").text(), expected);
    const Copied copied = copy_all(log);
    EXPECT_EQ(copied.bytes.toStdString(), expected);
    EXPECT_EQ(copied.text.toStdString(), expected);
    // What the box shows: every line break once, no replacement characters.
    EXPECT_EQ(log->document()->toRawText().count(QChar(0xFFFD)), 0);
    EXPECT_EQ(log->document()->blockCount(), 1 + 300 * 5);
}

TEST_F(QtToolkitTest, AppendingToAShownTranscriptLaysOutNoLineOffView) {
    show();
    auto* log = static_cast<QPlainTextEdit*>(w("txtLog"));
    c("txtLog").set_text("--> C|1|100");
    for (int i = 0; i < 20; ++i) c("txtLog").append_text("\r\n<-- " + std::string(20000, 'x'));
    // The last line is far below the box: nothing has laid it out.
    EXPECT_EQ(log->document()->lastBlock().layout()->lineCount(), 0);
    // The view learns the document's size once the appends pause, so that
    // it can be scrolled to the end.
    ASSERT_TRUE(wait_until(tk_, [&] { return log->verticalScrollBar()->maximum() > 0; }));
    QTest::keyClick(log, Qt::Key_End, Qt::ControlModifier);
    EXPECT_GT(log->verticalScrollBar()->value(), 0);
}

TEST_F(QtToolkitTest, TextThatIsNotUtf8IsKeptAsItsBytesWhileItGrows) {
    c("txtLog").set_text("ok");
    c("txtLog").append_text("\xff\xfe");
    c("txtLog").append_text("\r");
    c("txtLog").append_text("\nmore \xe2\x82\xac");
    EXPECT_EQ(c("txtLog").text(), "ok\xff\xfe\r\nmore \xe2\x82\xac");
    c("txtLog").set_text("fine again");
    c("txtLog").append_text("!");
    EXPECT_EQ(c("txtLog").text(), "fine again!");
}

TEST_F(QtToolkitTest, AReadOnlyBoxWrapsALongLineAnywhereSoEveryCharacterStaysOnView) {
    show();
    auto* log = static_cast<QPlainTextEdit*>(w("txtLog"));
    c("txtLog").set_text("--> C|1|100\r\n<-- " + std::string(20000, 'x'));
    const QTextBlock reply = log->document()->lastBlock();
    ASSERT_NE(reply.layout(), nullptr);
    log->viewport()->repaint();
    // Wrapped to the box's width: many lines, none wider than the box.
    EXPECT_GT(reply.layout()->lineCount(), 100);
    for (int i = 0; i < reply.layout()->lineCount(); ++i)
        EXPECT_LE(reply.layout()->lineAt(i).naturalTextWidth(), log->viewport()->width());
}

// ---- Timers -----------------------------------------------------------------

// ---- The message box --------------------------------------------------------

struct SeenBox {
    bool found = false;
    QString title, text, clipboard;
    int buttons = 0;
    bool ok_button = false;
    bool ok_has_picture = true;
    QMessageBox::Icon icon = QMessageBox::Warning;
    bool modal = false;
    Qt::TextFormat format = Qt::AutoText;
    QWidget* parent = nullptr;
};

// While message_box() blocks, looks at the box Qt shows, presses Ctrl+C in it
// and dismisses it with `dismiss`. Gives up (ending the program, which closes
// the box) when no box appears. The caller keeps the returned timer until
// message_box() has returned.
std::unique_ptr<QTimer> inspect_next_box(QtToolkit& tk, SeenBox& seen,
                                         std::function<void(QMessageBox*)> dismiss) {
    auto poll = std::make_unique<QTimer>();
    QTimer* p = poll.get();
    QObject::connect(p, &QTimer::timeout, p, [&tk, &seen, dismiss, p, tries = 0]() mutable {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            if (++tries > 500) {
                p->stop();
                tk.end_program(99);
            }
            return;
        }
        p->stop();
        seen.found = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.buttons = int(box->buttons().size());
        seen.ok_button = box->button(QMessageBox::Ok) != nullptr;
        seen.ok_has_picture = seen.ok_button && !box->button(QMessageBox::Ok)->icon().isNull();
        seen.icon = box->icon();
        seen.modal = box->isModal() && box->windowModality() == Qt::ApplicationModal;
        seen.format = box->textFormat();
        seen.parent = box->parentWidget();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QWidget* target = box->focusWidget() ? box->focusWidget() : box;
        QTest::keyClick(target, Qt::Key_C, Qt::ControlModifier);
        seen.clipboard = QGuiApplication::clipboard()->text();
        dismiss(box);
    });
    p->start(10);
    return poll;
}

TEST_F(QtToolkitTest, MessageBoxShowsTitleAndTextWithOnlyOkAndCopiesItsText) {
    show();
    struct Case {
        std::string title, text;
        const char* dismiss_by;
    };
    const Case cases[] = {
        {"Testing", "Charge OK, inserted = 125, returned = 0", "ok"},
        {"Testing", "Charge NOK, inserted = 0, returned = 0, -3-<b>jam</b> & co", "enter"},
        {"VeluntTest", "Error 6: Overflow\nsecond line", "escape"},
        {"Testing", "Empty CB OK, value = 5 \xe2\x82\xac", "ok"},
        {"", "", "enter"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        SeenBox seen;
        auto poll = inspect_next_box(tk_, seen, [&](QMessageBox* box) {
            const std::string by = k.dismiss_by;
            if (by == "ok") box->button(QMessageBox::Ok)->click();
            if (by == "enter") QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key_Return);
            if (by == "escape")
                QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key_Escape);
        });
        tk_.message_box(k.title, k.text);
        ASSERT_TRUE(seen.found);
        EXPECT_FALSE(tk_.program_ended());
        EXPECT_EQ(seen.title.toStdString(), k.title);
        EXPECT_EQ(seen.text.toStdString(), k.text);
        EXPECT_EQ(seen.format, Qt::PlainText);
        EXPECT_EQ(seen.buttons, 1);
        EXPECT_TRUE(seen.ok_button);
        EXPECT_FALSE(seen.ok_has_picture);
        EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.parent, win_->widget());
        EXPECT_EQ(seen.clipboard.toStdString(), k.text);
        EXPECT_EQ(tk_.open_message_box(), nullptr);
    }
}

TEST_F(QtToolkitTest, TheWindowTakesNoClickWhileTheBoxIsOpen) {
    show();
    SeenBox seen;
    auto poll = inspect_next_box(tk_, seen, [&](QMessageBox* box) {
        user_click(w("cmdQuit"));
        box->button(QMessageBox::Ok)->click();
    });
    tk_.message_box("Testing", "modal");
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(clicks_.empty());
}

// ---- Event waits and program end -----------------------------------------

TEST_F(QtToolkitTest, EndingWhileABoxIsOpenClosesTheBox) {
    show();
    QTimer::singleShot(30, win_->widget(), [&] { tk_.end_program(2); });
    tk_.message_box("Testing", "left open");  // returns although nobody dismissed it
    EXPECT_TRUE(tk_.program_ended());
    EXPECT_EQ(tk_.open_message_box(), nullptr);
    EXPECT_EQ(tk_.run(), 2);
}

TEST_F(QtToolkitTest, AWaitingHandlerSleepsUntilAPostedEventWakesIt) {
    // Counts the rounds of a wait that lasts a good while: a wait that spins
    // would go round many thousands of times, one that sleeps a handful.
    std::atomic<bool> posted{false};
    bool woken = false;
    int rounds = 0;
    QtControl& t = c("tmrOff");
    t.set_interval(1);
    t.on_timer([&] {
        t.set_enabled(false);
        std::thread poster([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            posted = true;
            QMetaObject::invokeMethod(
                &application(), [&] { woken = true; }, Qt::QueuedConnection);
        });
        while (!woken) {
            tk_.process_events();
            ++rounds;
        }
        poster.join();
        tk_.end_program(0);
    });
    t.set_enabled(true);
    EXPECT_EQ(tk_.run(), 0);
    EXPECT_TRUE(posted);
    EXPECT_TRUE(woken);
    EXPECT_LE(rounds, 10);
}

TEST(QtToolkitLifetime, AWindowMayOutliveItsToolkit) {
    auto tk = std::make_unique<QtToolkit>(application());
    auto win = make_window(*tk, probe_layout());
    win->show();
    tk.reset();
    win->widget()->close();  // no toolkit to tell: nothing happens
    win.reset();
    SUCCEED();
}

// ---- Locale -------------------------------------------------------------------

// The decimal separator is the user's. The test is registered a second time
// with a German locale and MONVIA_EXPECT_DECIMAL_SEPARATOR="," in its environment.
TEST(QtToolkitLocale, DecimalSeparatorIsTheUsersOne) {
    QtToolkit tk(application());
    const char* expected = std::getenv("MONVIA_EXPECT_DECIMAL_SEPARATOR");
    EXPECT_EQ(tk.decimal_separator(), expected ? expected : ".");
}

}  // namespace
}  // namespace monvia::ui
