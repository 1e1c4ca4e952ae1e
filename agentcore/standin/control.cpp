// Agent control. An operation told to fail (result 0) writes its text
// setting into the 512-byte error buffer; without a text setting it fails
// silently and leaves the buffer alone, as a core that gives no reason would.
// The journal shows the text written, or "" when nothing was.
#include "record.h"

using namespace standin;

namespace {

// Stands for "no text set": no real setting starts with a NUL.
const std::string kNoText("\0none", 5);

std::string explainFailure(Call& c, long r, char* errmsg) {
    if (r) return "";
    std::string text = c.text(kNoText);
    if (text == kNoText) return "";
    return c.fill(errmsg, 512, text);
}

long withError(Call& c, char* errmsg) {
    long r = c.result(1);
    c.arg(explainFailure(c, r, errmsg));
    return c.finish(r);
}

}  // namespace

int ravlinapi::IsMCAction(_zjobcxt* cxt) { Call c(coreops::row("IsMCAction"), cxt); return c.finish(c.result(1)); }
int ravlinapi::UpdateAction(_zjobcxt* cxt) { Call c(coreops::row("UpdateAction"), cxt); return c.finish(c.result(1)); }
int ravlinapi::MCInCluster(_zjobcxt* cxt) { Call c(coreops::row("MCInCluster"), cxt); return c.finish(c.result(1)); }

int ravlinapi::IsMCActionRunning(_zjobcxt* cxt, char* akpname) {
    Call c(coreops::row("IsMCActionRunning"), cxt);
    c.arg(akpname);
    return c.finish(c.result(1));
}

int ravlinapi::MCEnableComm(_zjobcxt* cxt, int globalSites) {
    Call c(coreops::row("MCEnableComm"), cxt);
    c.arg(globalSites);
    return c.finish(c.result(1));
}

int ravlinapi::MCDisableComm(_zjobcxt* cxt, int globalSites) {
    Call c(coreops::row("MCDisableComm"), cxt);
    c.arg(globalSites);
    return c.finish(c.result(1));
}

int ravlinapi::MCEnableUpload(_zjobcxt* cxt, long ult) {
    Call c(coreops::row("MCEnableUpload"), cxt);
    c.arg(ult);
    return c.finish(c.result(1));
}

int ravlinapi::MCUpload(_zjobcxt* cxt, long ult) {
    Call c(coreops::row("MCUpload"), cxt);
    c.arg(ult);
    return c.finish(c.result(1));
}

int ravlinapi::IsActionAllow(_zjobcxt* cxt, long actType, long intvHr, char* const errmsg) {
    Call c(coreops::row("IsActionAllow"), cxt);
    c.arg(actType).arg(intvHr);
    return withError(c, errmsg);
}

int ravlinapi::MCRebootNT(_zjobcxt* cxt, char* msg, long timeout, int forceClose, int restart,
                          char* const errmsg) {
    Call c(coreops::row("MCRebootNT"), cxt);
    c.arg(msg).arg(timeout).arg(forceClose).arg(restart);
    return withError(c, errmsg);
}

int ravlinapi::MCSetCommType(_zjobcxt* cxt, long ct, char* const errmsg) {
    Call c(coreops::row("MCSetCommType"), cxt);
    c.arg(ct);
    return withError(c, errmsg);
}

int ravlinapi::MCConfigNetFlow(_zjobcxt* cxt, long hiwm, long lowm, long intv, int dynaflow,
                               char* const errmsg) {
    Call c(coreops::row("MCConfigNetFlow"), cxt);
    c.arg(hiwm).arg(lowm).arg(intv).arg(dynaflow);
    return withError(c, errmsg);
}

int ravlinapi::MCPrimaryMS(_zjobcxt* cxt, char* ms, char* ms2, long update, char* const errmsg,
                           int hostFlag, char* host) {
    Call c(coreops::row("MCPrimaryMS"), cxt);
    c.arg(ms).arg(ms2).arg(update);
    long r = c.result(1);
    c.arg(explainFailure(c, r, errmsg)).arg(hostFlag).arg(host);
    return c.finish(r);
}

int ravlinapi::MCSetMasterMC(_zjobcxt* cxt, char* rsc, char* mc, char* const errmsg) {
    Call c(coreops::row("MCSetMasterMC"), cxt);
    c.arg(rsc).arg(mc);
    return withError(c, errmsg);
}

int ravlinapi::MCSetBlackOut(_zjobcxt* cxt, char* rsc, char* const errmsg) {
    Call c(coreops::row("MCSetBlackOut"), cxt);
    c.arg(rsc);
    return withError(c, errmsg);
}

int ravlinapi::MCSetResRequired(_zjobcxt* cxt, char* rsc, char* reslist, char* svclist,
                                char* const errmsg) {
    Call c(coreops::row("MCSetResRequired"), cxt);
    c.arg(rsc).arg(reslist).arg(svclist);
    return withError(c, errmsg);
}

int ravlinapi::MCCompactDB(_zjobcxt* cxt, char* const errmsg) {
    Call c(coreops::row("MCCompactDB"), cxt);
    return withError(c, errmsg);
}

// The password never reaches the journal.
int ravlinapi::MCUpdateKey(char* keyfile, char* password, char* reply) {
    Call c(coreops::row("MCUpdateKey"));
    c.arg(keyfile).arg(password ? "***" : nullptr);
    long r = c.result(1);
    c.arg(c.fill(reply, 256, c.text(r ? "key updated" : "key update failed")));
    return c.finish(r);
}
