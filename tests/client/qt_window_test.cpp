// The client window class on the Qt toolkit, offscreen: every control is the
// widget its row describes, in pixels at 15 twips each, the Tab key visits the
// stops in order, and the frame locks what it holds.

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include "client/client_window.h"
#include "expected_layout.h"
#include "net/sim_network.h"
#include "ui/qt_toolkit.h"

namespace monvia::client::testing {
namespace {

QApplication& application() { return *static_cast<QApplication*>(QCoreApplication::instance()); }

std::string name_of(const QObject* o) { return o ? o->objectName().toStdString() : std::string("(none)"); }

class QtClientWindow : public ::testing::Test {
protected:
    QtClientWindow() {
        test_ = std::make_unique<monvia::client::Test>(tk_, network_.create_socket());
        window_ = static_cast<ui::QtWindow*>(&test_->window());
    }

    QWidget* widget(const char* name) { return window_->control(name).widget(); }

    ui::QtToolkit tk_{application()};
    // The socket is never used here; it only has to exist.
    sim::Clock loop_;
    net::SimNetwork network_{loop_};
    std::unique_ptr<monvia::client::Test> test_;
    ui::QtWindow* window_ = nullptr;
};

TEST_F(QtClientWindow, ControlsStandWhereTheirRowsSay) {
    QWidget* top = window_->widget();
    EXPECT_EQ(top->windowTitle().toStdString(), "Velunt Test");
    EXPECT_EQ(top->size(), QSize(305, 426));  // 4575 x 6390 twips
    for (const auto& row : expected_controls()) {
        SCOPED_TRACE(row.name);
        QWidget* w = widget(row.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), QRect(row.left / 15, row.top / 15, row.width / 15, row.height / 15));
        QWidget* parent = std::string(row.container).empty() ? top : widget(row.container);
        EXPECT_EQ(w->parentWidget(), parent);
        EXPECT_EQ(window_->control(row.name).text(), row.text);
    }
    auto* res = qobject_cast<QPlainTextEdit*>(widget("txtRes"));
    ASSERT_NE(res, nullptr);
    EXPECT_TRUE(res->isReadOnly());
    EXPECT_EQ(res->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(res->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(qobject_cast<QGroupBox*>(widget("frmDades"))->title(), "");
    QTimer* timer = window_->control("Timer1").timer();
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(window_->control("Timer1").interval(), 1);
    EXPECT_EQ(window_->control("optNew").value(), ui::kSelected);
    EXPECT_EQ(window_->control("optChk").value(), ui::kNotSelected);
}

TEST_F(QtClientWindow, TabKeyVisitsTheStops) {
    test_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_->widget()));
    QWidget* top = window_->widget();
    std::vector<std::string> visited{name_of(top->focusWidget())};
    for (size_t i = 1; i < expected_tab_stops().size(); ++i) {
        QTest::keyClick(top->focusWidget(), Qt::Key_Tab);
        visited.push_back(name_of(top->focusWidget()));
    }
    EXPECT_EQ(visited, expected_tab_stops());
}

TEST_F(QtClientWindow, SendLocksTheFrameAndArmsTheTimer) {
    test_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_->widget()));
    // Enter in a field does not press Send: it is not the default button.
    QTest::keyClick(widget("txtIP"), Qt::Key_Return);
    EXPECT_TRUE(widget("txtTicket")->isEnabled());

    test_->cmdSend_Click();
    EXPECT_TRUE(window_->control("Timer1").timer()->isActive());
    EXPECT_EQ(window_->control("Timer1").timer()->interval(), 1);
    for (const char* inside : {"txtTicket", "txtAmount", "txtQty", "chkAuto", "cmdSend", "optNew", "optChk"})
        EXPECT_FALSE(widget(inside)->isEnabled()) << inside;
    for (const char* outside : {"txtIP", "txtPort", "chkKeep", "cmdStop", "txtRes"})
        EXPECT_TRUE(widget(outside)->isEnabled()) << outside;
    // Stop changes only the quantity.
    QTest::mouseClick(widget("cmdStop"), Qt::LeftButton);
    EXPECT_EQ(qobject_cast<QLineEdit*>(widget("txtQty"))->text(), "1");
    EXPECT_TRUE(window_->control("Timer1").timer()->isActive());
}

TEST_F(QtClientWindow, TheTranscriptKeepsCrLfAndEveryByte) {
    test_->WS_Error(10061, "Connection is forcefully rejected");
    EXPECT_EQ(window_->control("txtRes").text(), "10061 - Connection is forcefully rejected");
    auto& res = window_->control("txtRes");
    res.set_text("--> C|1|100");
    res.append_text("\r\n<-- " + bytes_to_text(std::string("a\0\xe9", 3)));
    EXPECT_EQ(res.text(), "--> C|1|100\r\n<-- " + std::string("a\0\xc3\xa9", 4));
    EXPECT_EQ(qobject_cast<QPlainTextEdit*>(widget("txtRes"))->toPlainText().count('\n'), 1);
}

}  // namespace
}  // namespace monvia::client::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // No display is needed; test discovery at build time runs this too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
