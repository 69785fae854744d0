// Windows built by the Qt backend from their control tables: every control is
// the right widget at the right place with the right text, in the table's
// creation order, and the Tab key visits the stops the window is meant to have.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "client/client_layout.h"
#include "panel_layout.h"
#include "qt_test_support.h"
#include "ui/qt_toolkit.h"

namespace monvia::ui {
namespace {

using testing::application;
using testing::name_of;
using testing::probe_layout;

struct TableCase {
    const char* label;
    std::function<const WindowSpec&()> layout;
    // The controls the Tab key visits from the initial focus, in order; the
    // next Tab comes back to the first of them.
    std::vector<std::string> tab_stops;
};

std::vector<TableCase> table_cases() {
    std::vector<TableCase> cases = {
        {"panel",
         [] { return std::cref(panel::frmTest_layout()); },
         {"cmdCharge", "txtImp", "cmdPay", "cmdAddChange", "cmdConfig", "cmdChange", "cmdCBControl",
          "cmdColor", "cmdConnect", "cmdGetAmounts", "cmdBlidCashBox", "cmdDisconnect", "cmdErrorTest",
          "cmdEmptyCB", "cmdGetLevels", "cmdZbyAmount", "txtHost", "cmdPaySpecific"}},
        // The frame and the label take no focus, each option group is one
        // stop (its selected button), the disabled button is skipped.
        {"probe",
         [] { return std::cref(probe_layout()); },
         {"txtIn", "optB", "chkIn", "chkOut", "optX", "txtLog", "txtNote", "cmdQuit"}},
    };
    cases.push_back({"client",
                     [] { return std::cref(client::Test_layout()); },
                     {"txtIP", "txtPort", "txtRes", "optNew", "cmdSend", "chkAuto", "txtQty", "txtAmount",
                      "txtTicket", "chkKeep", "cmdStop"}});
    return cases;
}

class WindowTable : public ::testing::TestWithParam<TableCase> {
protected:
    WindowTable() : layout_(GetParam().layout()), window_(testing::make_window(tk_, layout_)) {}

    QtToolkit tk_{application()};
    const WindowSpec& layout_;
    std::unique_ptr<QtWindow> window_;
};

bool widget_is_kind(QWidget* w, const ControlSpec& c) {
    switch (c.kind) {
        case ControlKind::Button:
            return qobject_cast<QPushButton*>(w);
        case ControlKind::TextBox:
            return (c.flags & kMultiLine) ? qobject_cast<QPlainTextEdit*>(w) != nullptr
                                          : qobject_cast<QLineEdit*>(w) != nullptr;
        case ControlKind::Label:
            return qobject_cast<QLabel*>(w);
        case ControlKind::CheckBox:
            return qobject_cast<QCheckBox*>(w);
        case ControlKind::OptionButton:
            return qobject_cast<QRadioButton*>(w);
        case ControlKind::Frame:
            return qobject_cast<QGroupBox*>(w);
        case ControlKind::Timer:
            return w == nullptr;
    }
    return false;
}

// A label sits at its designed place with its designed height; it is as wide
// as designed, or just wide enough for the longest word of its caption.
::testing::AssertionResult label_fits(QWidget* w, const QRect& designed) {
    auto* label = qobject_cast<QLabel*>(w);
    if (!label) return ::testing::AssertionFailure() << "not a label";
    const QRect g = w->geometry();
    if (g.topLeft() != designed.topLeft() || g.height() != designed.height() || g.width() < designed.width())
        return ::testing::AssertionFailure()
               << "geometry " << g.x() << "," << g.y() << " " << g.width() << "x" << g.height();
    int widest = 0;
    for (const QString& word : label->text().split(QChar(u' '), Qt::SkipEmptyParts))
        widest = std::max(widest, QFontMetrics(w->font()).horizontalAdvance(word));
    if (widest > g.width())
        return ::testing::AssertionFailure() << "a word of the caption is cut: " << widest;
    if (g.width() > designed.width() && g.width() > widest + 2)
        return ::testing::AssertionFailure() << "wider than its caption needs: " << g.width();
    return ::testing::AssertionSuccess();
}

TEST_P(WindowTable, EveryControlIsItsRowOfTheTable) {
    for (const ControlSpec& c : layout_.controls) {
        SCOPED_TRACE(c.name);
        QtControl& ctl = window_->control(c.name);
        QWidget* w = ctl.widget();
        EXPECT_TRUE(widget_is_kind(w, c));
        EXPECT_EQ(ctl.text(), c.text);
        EXPECT_EQ(ctl.enabled(), !(c.flags & kDisabled));
        if (c.kind == ControlKind::Timer) {
            ASSERT_NE(ctl.timer(), nullptr);
            EXPECT_EQ(ctl.timer()->timerType(), Qt::PreciseTimer);
            EXPECT_EQ(ctl.interval(), c.interval_ms);
            EXPECT_EQ(ctl.timer()->isActive(), !(c.flags & kDisabled) && c.interval_ms > 0);
            continue;
        }
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->objectName().toStdString(), c.name);
        if (c.kind == ControlKind::Label) {
            EXPECT_TRUE(label_fits(w, QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15)));
        } else {
            EXPECT_EQ(w->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
        }
        QWidget* container = c.container.empty() ? window_->widget() : window_->control(c.container).widget();
        EXPECT_EQ(w->parentWidget(), container);
        EXPECT_EQ(w->isEnabled(), !(c.flags & kDisabled));
        // No control has a font of its own: each shows the window's.
        if (layout_.font) {
            EXPECT_FALSE(w->testAttribute(Qt::WA_SetFont));
            EXPECT_EQ(w->font().family().toStdString(), layout_.font->family);
            EXPECT_EQ(w->font().pointSize(), layout_.font->point_size);
            EXPECT_EQ(w->font().weight(), layout_.font->weight);
            EXPECT_EQ(w->font().italic(), layout_.font->italic);
            EXPECT_EQ(w->font().underline(), layout_.font->underline);
            EXPECT_EQ(w->font().strikeOut(), layout_.font->strike_out);
        }
        switch (c.kind) {
            case ControlKind::Button: {
                auto* b = qobject_cast<QPushButton*>(w);
                ASSERT_NE(b, nullptr);
                EXPECT_FALSE(b->autoDefault());
                EXPECT_FALSE(b->isDefault());
                EXPECT_EQ(b->text().toStdString(), c.text);
                break;
            }
            case ControlKind::CheckBox:
                EXPECT_EQ(ctl.value(), (c.flags & kChecked) ? 1 : 0);
                break;
            case ControlKind::OptionButton:
                EXPECT_EQ(ctl.value(), (c.flags & kChecked) ? -1 : 0);
                break;
            case ControlKind::Label:
                EXPECT_FALSE(w->autoFillBackground());
                EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
                break;
            case ControlKind::Frame:
                EXPECT_EQ(qobject_cast<QGroupBox*>(w)->title().toStdString(), c.text);
                EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
                break;
            case ControlKind::TextBox:
                if (auto* t = qobject_cast<QPlainTextEdit*>(w)) {
                    EXPECT_EQ(t->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
                    EXPECT_EQ(t->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
                    EXPECT_EQ(t->isReadOnly(), bool(c.flags & kReadOnly));
                    EXPECT_TRUE(t->tabChangesFocus());
                    if (c.flags & kReadOnly) {
                        EXPECT_TRUE(t->textInteractionFlags().testFlags(Qt::TextSelectableByMouse |
                                                                        Qt::TextSelectableByKeyboard));
                    }
                } else if (auto* l = qobject_cast<QLineEdit*>(w)) {
                    EXPECT_EQ(l->isReadOnly(), bool(c.flags & kReadOnly));
                    EXPECT_EQ(l->text().toStdString(), c.text);
                }
                break;
            case ControlKind::Timer:
                break;
        }
    }
}

TEST_P(WindowTable, WindowHasItsCaptionSizeColourAndFont) {
    QWidget* w = window_->widget();
    EXPECT_TRUE(w->isWindow());
    EXPECT_EQ(w->windowTitle().toStdString(), layout_.caption);
    EXPECT_EQ(w->size(), QSize(layout_.client_width / 15, layout_.client_height / 15));
    if (layout_.back_color) {
        const uint32_t c = *layout_.back_color;
        EXPECT_TRUE(w->autoFillBackground());
        EXPECT_EQ(w->palette().color(QPalette::Window), QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
    } else {
        EXPECT_FALSE(w->autoFillBackground());
    }
    if (layout_.font) {
        EXPECT_EQ(w->font().family().toStdString(), layout_.font->family);
        EXPECT_EQ(w->font().pointSize(), layout_.font->point_size);
    }
}

// Qt stacks sibling widgets in the order they were made; per container, that
// order must be the table's.
TEST_P(WindowTable, ControlsAreCreatedInTableOrder) {
    auto children_of = [&](QWidget* parent) {
        std::vector<std::string> names;
        for (QObject* o : parent->children())
            if (o->isWidgetType() && find_control(layout_, o->objectName().toStdString()))
                names.push_back(o->objectName().toStdString());
        return names;
    };
    auto table_order_in = [&](const std::string& container) {
        std::vector<std::string> names;
        for (const auto& c : layout_.controls)
            if (c.container == container && c.kind != ControlKind::Timer) names.push_back(c.name);
        return names;
    };
    EXPECT_EQ(children_of(window_->widget()), table_order_in(""));
    for (const auto& c : layout_.controls)
        if (c.kind == ControlKind::Frame) {
            EXPECT_EQ(children_of(window_->control(c.name).widget()), table_order_in(c.name)) << c.name;
        }
}

TEST_P(WindowTable, TabKeyVisitsTheStopsInTabIndexOrder) {
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_->widget()));
    QWidget* top = window_->widget();
    const auto& stops = GetParam().tab_stops;
    ASSERT_FALSE(stops.empty());
    EXPECT_EQ(name_of(top->focusWidget()), layout_.initial_focus);
    EXPECT_EQ(name_of(top->focusWidget()), stops.front());

    std::vector<std::string> visited{name_of(top->focusWidget())};
    for (size_t i = 0; i < stops.size(); ++i) {
        QTest::keyClick(top->focusWidget(), Qt::Key_Tab);
        visited.push_back(name_of(top->focusWidget()));
    }
    std::vector<std::string> expected = stops;
    expected.push_back(stops.front());
    EXPECT_EQ(visited, expected);
}

INSTANTIATE_TEST_SUITE_P(Tables, WindowTable, ::testing::ValuesIn(table_cases()),
                         [](const ::testing::TestParamInfo<TableCase>& info) {
                             return std::string(info.param.label);
                         });

// ---- The panel window, against the figures of its design ------------------

class PanelWindow : public ::testing::Test {
protected:
    QtToolkit tk_{application()};
    std::unique_ptr<Window> window_ = tk_.create_window(panel::frmTest_layout());
    QtWindow& qt() { return static_cast<QtWindow&>(*window_); }
};

TEST_F(PanelWindow, NineteenControlsWithTheirKindTextAndPixelPlace) {
    struct Row {
        const char* name;
        const char* widget_class;
        const char* text;
        QRect px;
    };
    const Row rows[] = {
        {"cmdCharge", "QPushButton", "Charge", {32, 52, 98, 24}},
        {"txtImp", "QLineEdit", "Imp", {244, 48, 141, 29}},
        {"lblImport", "QLabel", "Import", {196, 52, 41, 19}},
        {"cmdPay", "QPushButton", "Pay", {32, 84, 98, 24}},
        {"cmdAddChange", "QPushButton", "AddChange", {32, 116, 98, 24}},
        {"cmdConfig", "QPushButton", "Configuration", {32, 146, 98, 24}},
        {"cmdChange", "QPushButton", "Change", {32, 176, 98, 24}},
        {"cmdCBControl", "QPushButton", "CB Control", {32, 208, 98, 24}},
        {"cmdColor", "QPushButton", "Color", {366, 156, 98, 24}},
        {"cmdConnect", "QPushButton", "Connect", {32, 18, 98, 24}},
        {"cmdGetAmounts", "QPushButton", "GetAmounts", {368, 88, 96, 24}},
        {"cmdBlidCashBox", "QPushButton", "BlidCashBox", {246, 120, 106, 24}},
        {"cmdDisconnect", "QPushButton", "Disconnect", {424, 16, 84, 24}},
        {"cmdErrorTest", "QPushButton", "Error Test", {368, 120, 94, 24}},
        {"cmdEmptyCB", "QPushButton", "Empty CB", {248, 208, 104, 24}},
        {"cmdGetLevels", "QPushButton", "GetLevels", {246, 86, 106, 24}},
        {"cmdZbyAmount", "QPushButton", "Z by amount", {248, 152, 105, 49}},
        {"txtHost", "QLineEdit", "localhost", {144, 16, 105, 27}},
        {"cmdPaySpecific", "QPushButton", "Pay Specific", {32, 240, 98, 24}},
    };
    ASSERT_EQ(qt().controls().size(), std::size(rows));
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QWidget* w = qt().control(r.name).widget();
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), r.widget_class);
        EXPECT_EQ(qt().control(r.name).text(), r.text);
        if (qobject_cast<QLabel*>(w)) {
            EXPECT_TRUE(label_fits(w, r.px));
        } else {
            EXPECT_EQ(w->geometry(), r.px);
        }
        EXPECT_TRUE(w->isEnabled());
        EXPECT_EQ(w->font().family(), QStringLiteral("Times New Roman"));
        EXPECT_EQ(w->font().pointSize(), 12);
        EXPECT_EQ(w->font().weight(), QFont::Normal);
        EXPECT_FALSE(w->font().italic() || w->font().underline() || w->font().strikeOut());
    }
}

TEST_F(PanelWindow, CreationOrderIsTheDesignedOne) {
    std::vector<std::string> order;
    for (QObject* o : qt().widget()->children())
        if (o->isWidgetType()) order.push_back(name_of(o));
    const std::vector<std::string> expected = {
        "cmdPaySpecific", "txtHost",       "cmdZbyAmount",   "cmdGetLevels",  "cmdEmptyCB",
        "cmdErrorTest",   "cmdDisconnect", "cmdBlidCashBox", "cmdGetAmounts", "cmdConnect",
        "cmdColor",       "cmdCBControl",  "cmdChange",      "cmdConfig",     "cmdAddChange",
        "cmdPay",         "txtImp",        "cmdCharge",      "lblImport"};
    EXPECT_EQ(order, expected);
}

TEST_F(PanelWindow, CaptionClientAreaColourAndFont) {
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(qt().widget()));
    QWidget* w = qt().widget();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Monvia Test Program"));
    EXPECT_EQ(w->size(), QSize(522, 288));
    EXPECT_EQ(w->palette().color(QPalette::Window), QColor(192, 192, 255));
    EXPECT_EQ(w->font().family(), QStringLiteral("Times New Roman"));
    EXPECT_EQ(w->font().pointSize(), 12);
    EXPECT_EQ(w->font().weight(), QFont::Normal);
    // What is drawn: the window colour in a corner no control covers, and
    // behind the label (it has no background of its own) below its text.
    const QImage image = w->grab().toImage();
    EXPECT_EQ(QColor(image.pixel(5, 5)), QColor(192, 192, 255));
    EXPECT_EQ(QColor(image.pixel(515, 280)), QColor(192, 192, 255));
    EXPECT_EQ(QColor(image.pixel(196 + 40, 52 + 18)), QColor(192, 192, 255));
    EXPECT_EQ(name_of(w->focusWidget()), "cmdCharge");
}

TEST_F(PanelWindow, ControlsKeepTheirPlaceWhenTheWindowIsResized) {
    window_->show();
    QWidget* w = qt().widget();
    w->resize(900, 700);
    QCoreApplication::processEvents();
    EXPECT_EQ(qt().control("cmdZbyAmount").widget()->geometry(), QRect(248, 152, 105, 49));
    w->resize(200, 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(qt().control("txtImp").widget()->geometry(), QRect(244, 48, 141, 29));
}

// ---- Tables the backend refuses ------------------------------------------

TEST(WindowTableErrors, TablesThatCannotBeBuiltAreRefused) {
    struct Case {
        const char* what;
        std::vector<ControlSpec> controls;
        std::string focus;
    };
    const Case cases[] = {
        {"two controls with one name",
         {{"a", ControlKind::Button, "", 0, 0, 300, 300, 0, "", kNone, 0},
          {"a", ControlKind::Label, "", 0, 0, 300, 300, 1, "", kNone, 0}},
         ""},
        {"container that does not exist",
         {{"a", ControlKind::Button, "", 0, 0, 300, 300, 0, "nowhere", kNone, 0}},
         ""},
        {"container that is not a frame",
         {{"b", ControlKind::Button, "", 0, 0, 300, 300, 0, "", kNone, 0},
          {"a", ControlKind::Button, "", 0, 0, 300, 300, 1, "b", kNone, 0}},
         ""},
        {"frame listed after its contents",
         {{"a", ControlKind::Button, "", 0, 0, 300, 300, 0, "f", kNone, 0},
          {"f", ControlKind::Frame, "", 0, 0, 3000, 3000, 1, "", kNone, 0}},
         ""},
        {"initial focus on no control",
         {{"a", ControlKind::Button, "", 0, 0, 300, 300, 0, "", kNone, 0}},
         "zz"},
    };
    QtToolkit tk(application());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WindowSpec table;
        table.name = "bad";
        table.controls = c.controls;
        table.initial_focus = c.focus;
        EXPECT_THROW(tk.create_window(table), std::invalid_argument);
    }
}

// ---------------------------------------------------------- start placement

TEST(WindowPlacement, DesignedPlaceKeptWithinTheUsableArea) {
    // The panel's window (522 x 288 client pixels) at its designed place.
    const ScreenPlace panel{9210, 3600};
    const struct {
        const char* name;
        int width, height;
        PixelRect screen, usable;
        std::pair<int, int> expected;
    } cases[] = {
        {"room enough", 530, 310, {0, 0, 1280, 1024}, {0, 0, 1280, 1024}, {614, 240}},
        {"a screen right of another", 530, 310, {1920, 0, 1280, 1024}, {1920, 0, 1280, 1024}, {2534, 240}},
        {"too narrow: moved left", 530, 310, {0, 0, 800, 600}, {0, 0, 800, 600}, {270, 240}},
        {"too low: moved up", 530, 310, {0, 0, 1280, 400}, {0, 0, 1280, 400}, {614, 90}},
        {"a bar along the bottom", 530, 310, {0, 0, 1024, 540}, {0, 0, 1024, 500}, {494, 190}},
        {"a bar along the top pushes it down", 530, 310, {0, 0, 1280, 1024}, {0, 300, 1280, 724}, {614, 300}},
        {"larger than the screen: top-left corner", 530, 310, {0, 0, 320, 240}, {0, 0, 320, 240}, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(place_on_screen(panel, c.width, c.height, c.screen, c.usable), c.expected);
    }
}

TEST(WindowPlacement, PanelAndClientDoNotOverlapOnA1280x1024Screen) {
    const PixelRect screen{0, 0, 1280, 1024};
    auto outer = [&](const WindowSpec& w) {
        // A generous frame: title bar and borders.
        const int width = twips_to_pixels(w.client_width) + 16,
                  height = twips_to_pixels(w.client_height) + 40;
        const auto [x, y] = place_on_screen(*w.start_place, width, height, screen, screen);
        return QRect(x, y, width, height);
    };
    const QRect panel = outer(panel::frmTest_layout());
    EXPECT_EQ(panel.topLeft(), QPoint(614, 240));
    const QRect client = outer(client::Test_layout());
    EXPECT_FALSE(panel.intersects(client)) << client.x() << "," << client.y();
    EXPECT_TRUE(QRect(0, 0, 1280, 1024).contains(client));
}

TEST(WindowPlacement, ShownWindowOpensAtItsPlaceOnTheScreen) {
    QtToolkit tk(application());
    const WindowSpec& layout = panel::frmTest_layout();
    auto window = testing::make_window(tk, layout);
    window->show();
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect all = screen->geometry(), usable = screen->availableGeometry();
    const QSize size = window->widget()->frameGeometry().size();
    const auto [x, y] = place_on_screen(*layout.start_place, size.width(), size.height(),
                                        {all.x(), all.y(), all.width(), all.height()},
                                        {usable.x(), usable.y(), usable.width(), usable.height()});
    EXPECT_EQ(window->widget()->frameGeometry().topLeft(), QPoint(x, y));
}

}  // namespace
}  // namespace monvia::ui
