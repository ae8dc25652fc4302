#include "app/silent.h"

#include "local/vdlog.h"

// Provisional until the payload handler lands: no embedded setup can be extracted yet.
int DoSilentWork() {
    WriteLogW(L"DoSilentWork begin...\n");
    WriteLogW(L"DoSilentWork end,nResult:%d...\n", -2);
    return -2;
}
