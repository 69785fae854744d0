#include "ui/guard.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "runtime/error_resume.h"
#include "runtime/failure.h"
#include "ui/sim_toolkit.h"

namespace {

using monvia::Failure;
using monvia::ui::SimToolkit;

TEST(Guard, AHandledRunShowsNothing) {
    SimToolkit tk;
    int runs = 0;
    EXPECT_TRUE(monvia::run_guarded(tk, "Testing", [&] { ++runs; }));
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(tk.boxes().empty());
    EXPECT_FALSE(tk.program_ended());
}

TEST(Guard, AnUnhandledFailureIsReportedAndEndsTheProgram) {
    const struct {
        Failure failure;
        const char* text;
    } cases[] = {
        {Failure(13, "Type mismatch"), "Run-time error '13':\n\nType mismatch"},
        {Failure(static_cast<int32_t>(0x80040154), "Class not registered"),
         "Run-time error '-2147221164 (80040154)':\n\nClass not registered"},
    };
    for (const auto& c : cases) {
        SimToolkit tk;
        bool after = false;
        EXPECT_FALSE(monvia::run_guarded(tk, "VeluntTest", [&] {
            throw c.failure;
            after = true;
        }));
        EXPECT_FALSE(after);
        ASSERT_EQ(tk.boxes().size(), 1u);
        EXPECT_EQ(tk.boxes()[0].title, "VeluntTest");
        EXPECT_EQ(tk.boxes()[0].text, c.text);
        EXPECT_TRUE(tk.program_ended());
        EXPECT_NE(tk.exit_code(), 0);
    }
}

TEST(Guard, OtherExceptionsAreReportedToo) {
    SimToolkit tk;
    monvia::run_guarded(tk, "Testing", [] { throw std::out_of_range("no control"); });
    ASSERT_EQ(tk.boxes().size(), 1u);
    EXPECT_NE(tk.boxes()[0].text.find("no control"), std::string::npos);
    EXPECT_TRUE(tk.program_ended());
}

TEST(Guard, AFailureInsideANestedWaitEndsTheOuterHandlerToo) {
    SimToolkit tk;
    bool outer_went_on = false;
    tk.clock().post(10,
                    monvia::guarded(tk, "VeluntTest", [] { throw Failure(5, "Invalid procedure call"); }));
    monvia::run_guarded(tk, "VeluntTest", [&] {
        for (;;) tk.process_events();  // a wait that only the program end can stop
        outer_went_on = true;
    });
    EXPECT_FALSE(outer_went_on);
    ASSERT_EQ(tk.boxes().size(), 1u);  // one report, from the inner handler
    EXPECT_TRUE(tk.program_ended());
}

TEST(Guard, NoHandlerRunsOnceTheProgramHasEnded) {
    SimToolkit tk;
    tk.end_program(0);
    int runs = 0;
    EXPECT_FALSE(monvia::run_guarded(tk, "Testing", [&] { ++runs; }));
    EXPECT_EQ(runs, 0);
}

TEST(ErrorResume, SkipsAFailingStepAndRecordsIt) {
    monvia::ErrorResume resume;
    std::vector<int> done;
    EXPECT_TRUE(resume.step([&] { done.push_back(1); }));
    EXPECT_FALSE(resume.step([&] {
        throw Failure(6, "Overflow");
        done.push_back(2);
    }));
    EXPECT_TRUE(resume.step([&] { done.push_back(3); }));
    EXPECT_EQ(done, (std::vector<int>{1, 3}));
    ASSERT_TRUE(resume.last().has_value());
    EXPECT_EQ(resume.last()->number(), 6);
}

}  // namespace
