// Events, actions and aborts.
#include "record.h"

using namespace standin;

int ravlinapi::MSActions(_zjobcxt* cxt, long sev, char* evtmsg, char* action, char* objlist,
                         char* detail, double value, int proxy, char* kbid, char* metadata) {
    Call c(coreops::row("MSActions"), cxt);
    c.arg(sev).arg(evtmsg).arg(action).arg(objlist).arg(detail).arg(value).arg(proxy).arg(kbid).arg(metadata);
    return c.finish(c.result(1));
}

int ravlinapi::MSLongActions(_zjobcxt* cxt, long sev, char* evtmsg, char* action, char* objlist,
                             char* path, int deletefile, double value, int proxy, char* kbid,
                             char* metadata) {
    Call c(coreops::row("MSLongActions"), cxt);
    c.arg(sev).arg(evtmsg).arg(action).arg(objlist).arg(path).arg(deletefile).arg(value).arg(proxy)
        .arg(kbid).arg(metadata);
    return c.finish(c.result(1));
}

int ravlinapi::RaiseEvent(_zjobcxt* cxt, char* id, unsigned long count, long* conditions,
                          unsigned long* severities, char* obj, double value, char** messages,
                          char* detail, unsigned long msgtype, char** actions, char* help,
                          int deletefile) {
    Call c(coreops::row("RaiseEvent"), cxt);
    c.arg(id).arg(count).ints(conditions, count).uints(severities, count).arg(obj).arg(value)
        .strings(messages, count).arg(detail).arg(msgtype).strings(actions, count).arg(help)
        .arg(deletefile);
    return c.finish(c.result(1));
}

int ravlinapi::MCAbort(_zjobcxt* cxt, long sev, char* objlist, char* msg, int event, int raiseError,
                       int* interrupt, char* kbid, char* metadata) {
    Call c(coreops::row("MCAbort"), cxt);
    c.arg(sev).arg(objlist).arg(msg).arg(event).arg(raiseError).out(interrupt).arg(kbid).arg(metadata);
    // The text setting "keep" leaves the interrupt flag alone; "clear" sets it
    // to 0, as an agent does that ends the job itself.
    if (interrupt && c.text("keep") == "clear") *interrupt = 0;
    return c.finish(c.result(1));
}
