// Declarations of the agent core library (Ravlin.dll) as zTolvera uses it.
//
// zTolvera only imports this library: the agent that loads zTolvera owns it.
// The declarations follow the agent's own: 8-bit strings as char*, buffers of
// a fixed size that the caller states and the core is not told, standard
// strings and vectors for the dictionary and data-source operations. Building
// against the agent's library only swaps the import library.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

#ifdef RAVLIN_BUILD
#define RAVLIN_API __declspec(dllexport)
#else
#define RAVLIN_API __declspec(dllimport)
#endif

// The job context handed to nearly every operation: the job's data pointer
// (ImpJob::getData) and the pwdobj value of the job's current run.
struct _zjobcxt {
    void* data;
    unsigned long pwdobj;
};

// How a data stream is identified: by number, or by name.
enum dstype : int {
    DS_NUMBER = 0,
    DS_NAME = 1,
};

using StringPairs = std::vector<std::pair<std::string, std::string>>;

// The agent's job object. zTolvera receives its address from the agent and
// never creates or frees one.
class RAVLIN_API ImpJob {
public:
    // The job's script text, NUL-terminated UTF-16 from the C runtime heap;
    // the caller frees it with free(). May be null.
    wchar_t* getKS_w();
    // The job's data pointer, the first word of every job context.
    void* getData();
    // Reports a script error to the agent: the text and whether the job had
    // been compiled (1) or not (0) when it happened.
    void sendScpException(char* text, int code);

protected:
    ImpJob() = default;
    ~ImpJob() = default;
};

// Every agent operation a script can reach. Results are non-zero for success
// unless stated otherwise.
class RAVLIN_API ravlinapi {
public:
    explicit ravlinapi(int mode);
    ~ravlinapi();
    ravlinapi(const ravlinapi&) = delete;
    ravlinapi& operator=(const ravlinapi&) = delete;

    void setStandAlone();
    // Releases a string the core returned (MCGetVirDataItem, GetContextEx).
    void freeMem(void* p);

    // Events and aborts.
    int MSActions(_zjobcxt* cxt, long sev, char* evtmsg, char* action, char* objlist, char* detail,
                  double value, int proxy, char* kbid, char* metadata);
    int MSLongActions(_zjobcxt* cxt, long sev, char* evtmsg, char* action, char* objlist, char* path,
                      int deletefile, double value, int proxy, char* kbid, char* metadata);
    int RaiseEvent(_zjobcxt* cxt, char* id, unsigned long count, long* conditions,
                   unsigned long* severities, char* obj, double value, char** messages, char* detail,
                   unsigned long msgtype, char** actions, char* help, int deletefile);
    int MCAbort(_zjobcxt* cxt, long sev, char* objlist, char* msg, int event, int raiseError,
                int* interrupt, char* kbid, char* metadata);

    // Data streams.
    int DynaCollectData(_zjobcxt* cxt, char* stream, char* legend, long loglimit, double lowm,
                        double hiwm, char* dynaleg, char* schema, char* objlist, double value,
                        char* detail, unsigned long msgtype, int deletefile, int logOnHeaderCreate,
                        long logtime, char* kbid, char* metadata);
    int DataHeader(_zjobcxt* cxt, dstype kind, void* value, char* legend, long graph, char* objlist);
    int LongDataHeader(_zjobcxt* cxt, dstype kind, void* value, char* legend, long graph,
                       long loglimit, long color, long style, double maxval, double minval,
                       double hiwm, double lowm, char* objlist);
    int DataLog(_zjobcxt* cxt, dstype kind, void* value, double val, char* detail, long logtime);
    int LongDataLog(_zjobcxt* cxt, dstype kind, void* value, double val, char* path, int deletefile,
                    long logtime);
    int DynaDataLog(_zjobcxt* cxt, dstype kind, void* value, char* legend, double val, char* detail,
                    char* objlist, long logtime);
    int LongDynaDataLog(_zjobcxt* cxt, dstype kind, void* value, char* legend, double val,
                        char* path, int deletefile, char* objlist, long logtime);
    int GetDataSources(_zjobcxt* cxt, unsigned long type, std::vector<std::string>& sources);

    // Job information and utilities.
    // The three strings come from the C runtime heap; the caller frees them.
    int GetAgentInfo(char** prodtype, char** verstr, char** idir);
    unsigned long GetJobID(_zjobcxt* cxt);
    unsigned long GetKPInterval(_zjobcxt* cxt);
    unsigned long IterationCount(_zjobcxt* cxt);
    int GetMachName(_zjobcxt* cxt, char* name);                        // 256 bytes
    int MCVersion(_zjobcxt* cxt, char* component, char* version, int fullpath);  // 40 bytes
    int MCGetMOID(_zjobcxt* cxt, char* progid, char* ver, char* id);   // 80 bytes
    // *result is set to a string released with freeMem, or left null.
    int GetContextEx(_zjobcxt* cxt, char* label, char* labval, char* sublab, char* subval,
                     int count, char** names, char** result);
    int ZTrace(_zjobcxt* cxt, char* msg);
    int EventXMLToPlainText(_zjobcxt* cxt, const std::string& xml, std::string& plain);
    int DiffDateFromString(_zjobcxt* cxt, char* date, char* szDate);

    // Virtual data objects. The item is released with freeMem.
    int MCGetVirDataItemCnt(_zjobcxt* cxt, char* objname);
    char* MCGetVirDataItem(_zjobcxt* cxt, char* objname, int idx);

    // Waiting, the jobs' critical section and counted locks. *abort is set
    // non-zero when the job is being aborted.
    int MCSleep(_zjobcxt* cxt, long intv, int noabort, int* abort);
    int MCWaitForObject(_zjobcxt* cxt, long waitintv, void* hobj, int noabort, int* abort,
                        int reserved);
    int MCWaitForObjectOffline(_zjobcxt* cxt, long waitintv, void* hobj, int noabort, int* abort);
    int MCEnterCS(_zjobcxt* cxt, int* abort);
    int MCExitCS(_zjobcxt* cxt);
    int SampleLock(_zjobcxt* cxt, unsigned long component, unsigned long oldCount,
                   unsigned long* newCount);
    int AcquireLock(_zjobcxt* cxt, unsigned long component);

    // Agent control. The error buffers are 512 bytes and written on failure.
    int IsMCAction(_zjobcxt* cxt);
    int UpdateAction(_zjobcxt* cxt);
    int MCInCluster(_zjobcxt* cxt);
    int IsMCActionRunning(_zjobcxt* cxt, char* akpname);
    int MCEnableComm(_zjobcxt* cxt, int globalSites);
    int MCDisableComm(_zjobcxt* cxt, int globalSites);
    int MCEnableUpload(_zjobcxt* cxt, long ult);
    int MCUpload(_zjobcxt* cxt, long ult);
    int IsActionAllow(_zjobcxt* cxt, long actType, long intvHr, char* const errmsg);
    int MCRebootNT(_zjobcxt* cxt, char* msg, long timeout, int forceClose, int restart,
                   char* const errmsg);
    int MCSetCommType(_zjobcxt* cxt, long ct, char* const errmsg);
    int MCConfigNetFlow(_zjobcxt* cxt, long hiwm, long lowm, long intv, int dynaflow,
                        char* const errmsg);
    int MCPrimaryMS(_zjobcxt* cxt, char* ms, char* ms2, long update, char* const errmsg,
                    int hostFlag, char* host);
    int MCSetMasterMC(_zjobcxt* cxt, char* rsc, char* mc, char* const errmsg);
    int MCSetBlackOut(_zjobcxt* cxt, char* rsc, char* const errmsg);
    int MCSetResRequired(_zjobcxt* cxt, char* rsc, char* reslist, char* svclist,
                         char* const errmsg);
    int MCCompactDB(_zjobcxt* cxt, char* const errmsg);
    int MCUpdateKey(char* keyfile, char* password, char* reply);       // 256 bytes

    // Data exchange and the dictionary. The message buffers are 512 bytes.
    int MCExport(_zjobcxt* cxt, char* vname, VARIANT* val, char* msg);
    int MCImport(_zjobcxt* cxt, char* vname, VARIANT* val, char* msg);
    unsigned long DictionaryInsertValue(_zjobcxt* cxt, const std::string& name,
                                        const std::string& value);
    int DictionaryRetrieveValue(_zjobcxt* cxt, const std::string& name, std::string& value);
    unsigned long DictionaryRetrieveAllValues(_zjobcxt* cxt, StringPairs& pairs);
    unsigned long DictionaryRetrieveByPattern(_zjobcxt* cxt, const std::string& pattern,
                                              StringPairs& pairs);
    unsigned long DictionaryRemoveValue(_zjobcxt* cxt, const std::string& name);

private:
    int mode_;
    int standalone_;
    void* reserved_[4];
};

// The agent's trace log.
class RAVLIN_API ztrace {
public:
    void logAdmTrace(int mask, const char* format, ...);
};

extern RAVLIN_API ztrace TraceMgr;
