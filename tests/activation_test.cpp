// Which job a script-side call belongs to: the innermost activation of its
// thread, else the job registered there most recently that has not run.
#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "activation.h"
#include "standin.h"

namespace {

struct ActivationTest : ::testing::Test {
    ImpJob* jobA = standin_newJob(1, nullptr);
    ImpJob* jobB = standin_newJob(2, nullptr);
    ImpJob* jobC = standin_newJob(3, nullptr);
    ~ActivationTest() override {
        standin_deleteJob(jobA);
        standin_deleteJob(jobB);
        standin_deleteJob(jobC);
    }
    static ImpJob* jobHere(unsigned long* pwd = nullptr) {
        ImpJob* job = nullptr;
        unsigned long ignored = 0;
        return jobRefForThread(&job, pwd ? pwd : &ignored) ? job : nullptr;
    }
    static Activation run(ImpJob* job, unsigned long pwdobj, bool compiled = true) {
        return {job, pwdobj, ActivationKind::Run, compiled};
    }
};

TEST_F(ActivationTest, TheInnermostActivationAnswersThenTheNewestRegistrationOfTheThread) {
    Registration a, b;
    a.jobobj = jobA;
    b.jobobj = jobB;
    listRegistration(a);
    listRegistration(b);
    // Both registered here, neither run: the newer one answers, with no pwdobj.
    unsigned long pwd = 7;
    EXPECT_EQ(jobHere(&pwd), jobB);
    EXPECT_EQ(pwd, 0u);
    std::thread([&] { EXPECT_EQ(jobHere(), nullptr); }).join();

    {
        // A run here answers before both, with its pwdobj; a job registered
        // from inside it (an agent reacting in a call) does not take its
        // calls, nor does a nested run of another job once that is over.
        Activation outer = run(jobA, 1003);
        ActivationScope scope(outer);
        EXPECT_EQ(jobHere(&pwd), jobA);
        EXPECT_EQ(pwd, 1003u);
        EXPECT_EQ(jobRefForThread(nullptr, &pwd), 1);
        EXPECT_EQ(jobRefForThread(nullptr, nullptr), 0);
        Registration c;
        c.jobobj = jobC;
        listRegistration(c);
        EXPECT_EQ(jobHere(), jobA);
        {
            Activation nested = run(jobC, 3001);
            ActivationScope inner(nested);
            EXPECT_EQ(jobHere(&pwd), jobC);
            EXPECT_EQ(pwd, 3001u);
            EXPECT_EQ(innermostActivation()->outer, &outer);
        }
        EXPECT_EQ(jobHere(&pwd), jobA);
        EXPECT_EQ(pwd, 1003u);
        unlistRegistration(c);
        unlistRegistration(c);                          // not listed: no effect
    }
    // A job that has run answers on its registering thread no more.
    unlistRegistration(b);
    EXPECT_EQ(jobHere(), jobA);
    unlistRegistration(a);
    EXPECT_EQ(jobHere(), nullptr);
    EXPECT_EQ(innermostActivation(), nullptr);
}

TEST_F(ActivationTest, TheCompiledFlagIsTheActivationsOrTheRegistrations) {
    Registration a;
    a.jobobj = jobA;
    listRegistration(a);
    EXPECT_EQ(compiledForThread(), 0);
    a.compiled = true;
    EXPECT_EQ(compiledForThread(), 1);
    {
        Activation first = run(jobB, 1, false);
        ActivationScope scope(first);
        EXPECT_EQ(compiledForThread(), 0);
    }
    unlistRegistration(a);
    EXPECT_EQ(compiledForThread(), 0);
}

}  // namespace
