// A library that exports the driver libraries' names for the loader tests, less those left out
// by compile definitions. Only the names matter: the loader resolves them and never calls.

#define EXPORT(name)                                                  \
  extern "C" __attribute__((visibility("default"))) unsigned name() { \
    return 0;                                                         \
  }

#if defined(FAKE_D2XX)
EXPORT(FT_ListDevices)
EXPORT(FT_Open)
EXPORT(FT_Close)
EXPORT(FT_ResetDevice)
EXPORT(FT_Purge)
EXPORT(FT_Read)
#ifndef OMIT_FT_Write
EXPORT(FT_Write)
#endif
EXPORT(FT_SetDivisor)
EXPORT(FT_SetTimeouts)
EXPORT(FT_SetBaudRate)
EXPORT(FT_GetDeviceInfo)
EXPORT(FT_GetStatus)
EXPORT(FT_GetQueueStatus)
EXPORT(FT_SetRts)
EXPORT(FT_SetDataCharacteristics)
EXPORT(FT_SetFlowControl)
EXPORT(FT_SetLatencyTimer)
EXPORT(FT_CreateDeviceInfoList)
EXPORT(FT_GetDeviceInfoList)
EXPORT(FT_OpenEx)
#ifndef OMIT_FT_Rescan
EXPORT(FT_Rescan)
#endif
#else
EXPORT(QL_GetListDevices)
EXPORT(QL_OpenDevice)
EXPORT(QL_CloseDevice)
EXPORT(QL_ReadNotTimeOut)
EXPORT(QL_Write)
#ifndef OMIT_QL_Purge
EXPORT(QL_Purge)
#endif
EXPORT(QL_SetTimeouts)
#endif
