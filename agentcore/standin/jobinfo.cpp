// Job information and utilities.
#include "record.h"

#include <cstdlib>

using namespace standin;

int ravlinapi::GetAgentInfo(char** prodtype, char** verstr, char** idir) {
    Call c(coreops::row("GetAgentInfo"));
    long r = c.result(1);
    // The three strings come from the C runtime heap and go back through free.
    const std::string texts[] = {"StandInAgent", c.text("1.0.0"), "C:\\agent"};
    char** out[] = {prodtype, verstr, idir};
    for (int i = 0; i < 3; ++i) {
        char* given = r && out[i] ? handOut(texts[i], Release::CrtFree) : nullptr;
        if (given) *out[i] = given;
        c.arg(given);
    }
    return c.finish(r);
}

unsigned long ravlinapi::GetJobID(_zjobcxt* cxt) {
    Call c(coreops::row("GetJobID"), cxt);
    return c.finish(c.result(static_cast<long>(jobOfData(cxt ? cxt->data : nullptr))));
}

unsigned long ravlinapi::GetKPInterval(_zjobcxt* cxt) {
    Call c(coreops::row("GetKPInterval"), cxt);
    return c.finish(c.result(300));
}

// The run the agent said it started for the job; 1 where it said none.
unsigned long ravlinapi::IterationCount(_zjobcxt* cxt) {
    Call c(coreops::row("IterationCount"), cxt);
    unsigned run = currentRun(jobOfData(cxt ? cxt->data : nullptr));
    return c.finish(c.result(run ? static_cast<long>(run) : 1));
}

int ravlinapi::GetMachName(_zjobcxt* cxt, char* name) {
    Call c(coreops::row("GetMachName"), cxt);
    long r = c.result(1);
    c.arg(r ? c.fill(name, 256, c.text("STANDIN-HOST")) : "");
    return c.finish(r);
}

int ravlinapi::MCVersion(_zjobcxt* cxt, char* component, char* version, int fullpath) {
    Call c(coreops::row("MCVersion"), cxt);
    c.arg(component);
    long r = c.result(1);
    c.arg(r ? c.fill(version, 40, c.text("1.0.0.0")) : "").arg(fullpath);
    return c.finish(r);
}

int ravlinapi::MCGetMOID(_zjobcxt* cxt, char* progid, char* ver, char* id) {
    Call c(coreops::row("MCGetMOID"), cxt);
    c.arg(progid).arg(ver);
    long r = c.result(1);
    c.arg(r ? c.fill(id, 80, c.text("MOID-0001")) : "");
    return c.finish(r);
}

int ravlinapi::GetContextEx(_zjobcxt* cxt, char* label, char* labval, char* sublab, char* subval,
                            int count, char** names, char** result) {
    Call c(coreops::row("GetContextEx"), cxt);
    c.arg(label).arg(labval).arg(sublab).arg(subval).arg(count).strings(names, names ? count : 0);
    long r = c.result(1);
    char* given = r && result ? handOut(c.text("context-value"), Release::FreeMem) : nullptr;
    if (given) *result = given;
    c.arg(given);
    return c.finish(r);
}

int ravlinapi::ZTrace(_zjobcxt* cxt, char* msg) {
    Call c(coreops::row("ZTrace"), cxt);
    c.arg(msg);
    return c.finish(c.result(1));
}

int ravlinapi::EventXMLToPlainText(_zjobcxt* cxt, const std::string& xml, std::string& plain) {
    Call c(coreops::row("EventXMLToPlainText"), cxt);
    c.arg(xml);
    // A positive result is a conversion; zero or a negative error code
    // leaves the plain text empty.
    long r = c.result(1);
    if (r > 0) plain = c.text(xml);
    c.arg(plain);
    return c.finish(r);
}

int ravlinapi::DiffDateFromString(_zjobcxt* cxt, char* date, char* szDate) {
    Call c(coreops::row("DiffDateFromString"), cxt);
    c.arg(date).arg(szDate);
    return c.finish(c.result(0));
}
