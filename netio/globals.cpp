#include "netio/NetIO.h"

char g_RecvBuf[kRecvBufSize];
char g_deviceid[kDeviceIdSize];
unsigned char sysObjId[kSysObjIdSize];
int sysObjIdLen = 0;
int scope_id = 0;
