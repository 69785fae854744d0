// What assistive technology and test automation see of both windows through
// Qt's accessibility interface: every control's name and role, the labels
// tied to the fields they name, and an open report box with its text.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <string>
#include <vector>

#include "client/client_layout.h"
#include "panel_layout.h"
#include "qt_test_support.h"
#include "ui/qt_toolkit.h"

namespace monvia::ui {
namespace {

using testing::application;

struct Seen {
    std::string control;
    std::string name;
    QAccessible::Role role;
};

std::string name_of(QAccessibleInterface* a) { return a ? a->text(QAccessible::Name).toStdString() : ""; }

// The accessible name and role of every control of the window, in table order.
std::vector<Seen> seen_controls(QtWindow& window, const WindowSpec& table) {
    std::vector<Seen> seen;
    for (const auto& c : table.controls) {
        QWidget* w = window.control(c.name).widget();
        if (!w) continue;  // a timer has no face
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        seen.push_back({c.name, name_of(a), a ? a->role() : QAccessible::NoRole});
    }
    return seen;
}

void expect_controls(const std::vector<Seen>& seen, const std::vector<Seen>& expected) {
    ASSERT_EQ(seen.size(), expected.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(expected[i].control);
        EXPECT_EQ(seen[i].control, expected[i].control);
        EXPECT_EQ(seen[i].name, expected[i].name);
        EXPECT_EQ(seen[i].role, expected[i].role);
    }
}

constexpr auto kButton = QAccessible::PushButton;
constexpr auto kField = QAccessible::EditableText;
constexpr auto kLabel = QAccessible::StaticText;

TEST(Accessibility, EveryPanelControlHasItsNameAndRole) {
    QtToolkit tk(application());
    const WindowSpec& table = panel::frmTest_layout();
    auto window = testing::make_window(tk, table);
    expect_controls(seen_controls(*window, table), {
                                                       {"cmdPaySpecific", "Pay Specific", kButton},
                                                       {"txtHost", "Host", kField},
                                                       {"cmdZbyAmount", "Z by amount", kButton},
                                                       {"cmdGetLevels", "GetLevels", kButton},
                                                       {"cmdEmptyCB", "Empty CB", kButton},
                                                       {"cmdErrorTest", "Error Test", kButton},
                                                       {"cmdDisconnect", "Disconnect", kButton},
                                                       {"cmdBlidCashBox", "BlidCashBox", kButton},
                                                       {"cmdGetAmounts", "GetAmounts", kButton},
                                                       {"cmdConnect", "Connect", kButton},
                                                       {"cmdColor", "Color", kButton},
                                                       {"cmdCBControl", "CB Control", kButton},
                                                       {"cmdChange", "Change", kButton},
                                                       {"cmdConfig", "Configuration", kButton},
                                                       {"cmdAddChange", "AddChange", kButton},
                                                       {"cmdPay", "Pay", kButton},
                                                       {"txtImp", "Import", kField},
                                                       {"cmdCharge", "Charge", kButton},
                                                       {"lblImport", "Import", kLabel},
                                                   });
    // The window is found by its caption, each control by its object name.
    QAccessibleInterface* top = QAccessible::queryAccessibleInterface(window->widget());
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(name_of(top), "Monvia Test Program");
    EXPECT_EQ(window->control("txtImp").widget()->objectName(), "txtImp");
}

TEST(Accessibility, EveryClientControlHasItsNameAndRole) {
    QtToolkit tk(application());
    const WindowSpec& table = client::Test_layout();
    auto window = testing::make_window(tk, table);
    expect_controls(seen_controls(*window, table), {
                                                       {"cmdStop", "Stop", kButton},
                                                       {"chkKeep", "Keep Conection", QAccessible::CheckBox},
                                                       {"frmDades", "Request", QAccessible::Grouping},
                                                       {"txtTicket", "Ticket", kField},
                                                       {"txtAmount", "Amount", kField},
                                                       {"txtQty", "Quantity", kField},
                                                       {"chkAuto", "Automatic", QAccessible::CheckBox},
                                                       {"cmdSend", "Send", kButton},
                                                       {"optNew", "Create", QAccessible::RadioButton},
                                                       {"optChk", "Check state", QAccessible::RadioButton},
                                                       {"Label2", "Ticket", kLabel},
                                                       {"Label3", "Amount", kLabel},
                                                       {"Label4", "Quantity", kLabel},
                                                       {"txtRes", "Transcript", kField},
                                                       {"txtPort", "Port", kField},
                                                       {"txtIP", "Host", kField},
                                                       {"Label1", "Port", kLabel},
                                                       {"lblHost", "Host", kLabel},
                                                   });
    // The transcript can be read, not typed into.
    QAccessibleInterface* transcript =
        QAccessible::queryAccessibleInterface(window->control("txtRes").widget());
    ASSERT_NE(transcript, nullptr);
    EXPECT_TRUE(transcript->state().readOnly);
    EXPECT_TRUE(transcript->state().multiLine);
}

// Each label that names a field is tied to it both ways, so that a screen
// reader says "Ticket" on entering the field and automation can go from
// either to the other.
TEST(Accessibility, LabelsAreTiedToTheFieldsTheyName) {
    QtToolkit tk(application());
    const struct {
        const WindowSpec& table;
        std::vector<std::pair<std::string, std::string>> pairs;  // field, label
    } windows[] = {
        {panel::frmTest_layout(), {{"txtImp", "lblImport"}}},
        {client::Test_layout(),
         {{"txtIP", "lblHost"},
          {"txtPort", "Label1"},
          {"txtTicket", "Label2"},
          {"txtAmount", "Label3"},
          {"txtQty", "Label4"}}},
    };
    for (const auto& win : windows) {
        auto window = testing::make_window(tk, win.table);
        for (const auto& [field, label] : win.pairs) {
            SCOPED_TRACE(field);
            QAccessibleInterface* f = QAccessible::queryAccessibleInterface(window->control(field).widget());
            QAccessibleInterface* l = QAccessible::queryAccessibleInterface(window->control(label).widget());
            ASSERT_TRUE(f && l);
            const auto labelled_by = f->relations(QAccessible::Label);
            ASSERT_EQ(labelled_by.size(), 1);
            EXPECT_EQ(labelled_by.front().first, l);
            const auto labels = l->relations(QAccessible::Labelled);
            ASSERT_EQ(labels.size(), 1);
            EXPECT_EQ(labels.front().first, f);
        }
    }
}

// The rules that give a name where the window names none itself.
TEST(Accessibility, NamesComeFromCaptionLabelBesideOrFrame) {
    WindowSpec w;
    auto row = [](const char* name, ControlKind kind, const char* text, int left, int top,
                  const char* in = "") {
        return ControlSpec{name, kind, text, left, top, 600, 300, 0, in, kNone, 0};
    };
    w.controls = {
        row("frmA", ControlKind::Frame, "Payment", 0, 0),
        row("lblFar", ControlKind::Label, "Far", 0, 100, "frmA"),
        row("lblNear", ControlKind::Label, "Near", 700, 100, "frmA"),
        row("txtNear", ControlKind::TextBox, "1", 1400, 200, "frmA"),   // overlaps both rows: the nearer wins
        row("txtBelow", ControlKind::TextBox, "2", 1400, 900, "frmA"),  // no label on its row: the frame
        row("txtLeft", ControlKind::TextBox, "3", 0, 900, "frmA"),      // a label to its right does not count
        row("lblOut", ControlKind::Label, "Outside", 0, 2000),
        row("txtOut", ControlKind::TextBox, "4", 100, 2000, "frmA"),  // the label is in another container
        row("chkOwn", ControlKind::CheckBox, "Own caption", 1400, 100, "frmA"),
        row("txtNamed", ControlKind::TextBox, "", 3000, 3000),
        row("txtNothing", ControlKind::TextBox, "", 5000, 5000),
    };
    w.accessible_names = {{"txtNamed", "Given"}, {"lblOut", "Renamed"}};
    const std::pair<const char*, const char*> expected[] = {
        {"frmA", "Payment"},       {"lblFar", "Far"},      {"lblNear", "Near"},   {"txtNear", "Near"},
        {"txtBelow", "Payment"},   {"txtLeft", "Payment"}, {"lblOut", "Renamed"}, {"txtOut", "Payment"},
        {"chkOwn", "Own caption"}, {"txtNamed", "Given"},  {"txtNothing", ""},
    };
    for (const auto& [control, name] : expected)
        EXPECT_EQ(accessible_name(w, *find_control(w, control)), name) << control;
}

// Every control of both programs has a name: one added to a table without a
// caption or label fails here.
TEST(Accessibility, NoControlOfEitherProgramIsNameless) {
    for (const WindowSpec* table : {&panel::frmTest_layout(), &client::Test_layout()}) {
        for (const auto& c : table->controls) {
            if (c.kind == ControlKind::Timer) continue;
            EXPECT_FALSE(accessible_name(*table, c).empty()) << table->name << "." << c.name;
        }
    }
}

// An open report box is a dialog named by its title whose text can be read.
TEST(Accessibility, AnOpenReportBoxShowsItsTitleAndText) {
    QtToolkit tk(application());
    auto window = testing::make_window(tk, panel::frmTest_layout());
    window->show();
    std::string title, text;
    QAccessible::Role role = QAccessible::NoRole;
    QTimer poll;
    int tries = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            if (++tries > 500) tk.end_program(99);
            return;
        }
        poll.stop();
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(box);
        if (a) {
            title = name_of(a);
            role = a->role();
            for (int i = 0; i < a->childCount(); ++i)
                if (QAccessibleInterface* child = a->child(i); child && child->role() == kLabel)
                    text += name_of(child);
        }
        box->button(QMessageBox::Ok)->click();
    });
    poll.start(10);
    tk.message_box("Testing", "Connect OK");
    EXPECT_EQ(title, "Testing");
    EXPECT_TRUE(role == QAccessible::Dialog || role == QAccessible::AlertMessage) << role;
    EXPECT_EQ(text, "Connect OK");
}

}  // namespace
}  // namespace monvia::ui
