// The simulated Windows platform: the Win32 types, constants and functions the
// plug-in calls, declared for Linux. Written from the public API documentation;
// names, argument orders, results and last-error codes follow the Windows
// contracts. Only what the plug-in uses is here.
#pragma once

#include <cstddef>
#include <cstdint>

#if !defined(__linux__)
#error "sim/ stands in for Windows on Linux only"
#endif

#define SIM_API extern "C" __attribute__((visibility("default")))

// Calling conventions only matter on 32-bit Windows.
#define WINAPI
#define CALLBACK
#define APIENTRY
#define __cdecl
#define __stdcall

// ---------------------------------------------------------------------------
// Basic types (Windows widths: LONG and ULONG are 32-bit on every Windows ABI)
// ---------------------------------------------------------------------------
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef unsigned int UINT;
typedef int INT;
typedef char CHAR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t UINT_PTR;
typedef size_t SIZE_T;
typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef const char* PCSTR;
typedef DWORD* LPDWORD;
typedef LONG HRESULT;

typedef void* HANDLE;
typedef HANDLE* PHANDLE;
struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef PVOID HDEVINFO;

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define MAX_PATH 260

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID* LPGUID;
typedef const GUID* LPCGUID;

// ---------------------------------------------------------------------------
// Errors and results
// ---------------------------------------------------------------------------
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_IO_PENDING 997L

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_FAIL ((HRESULT)0x80004005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

SIM_API DWORD GetLastError(void);
SIM_API void SetLastError(DWORD dwErrCode);

// ---------------------------------------------------------------------------
// Handles, events and waits
// ---------------------------------------------------------------------------
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

SIM_API BOOL CloseHandle(HANDLE hObject);
SIM_API HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                            BOOL bInitialState, LPCSTR lpName);
SIM_API BOOL SetEvent(HANDLE hEvent);
SIM_API BOOL ResetEvent(HANDLE hEvent);
SIM_API DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
SIM_API DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                     DWORD dwMilliseconds);

// ---------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);

#define CREATE_SUSPENDED 0x00000004u
#define STILL_ACTIVE 259u
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

SIM_API HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                            LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                            DWORD dwCreationFlags, LPDWORD lpThreadId);
SIM_API BOOL SetThreadPriority(HANDLE hThread, int nPriority);
SIM_API int GetThreadPriority(HANDLE hThread);
SIM_API BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
SIM_API DWORD GetCurrentThreadId(void);
SIM_API void Sleep(DWORD dwMilliseconds);

// ---------------------------------------------------------------------------
// Critical sections (re-entrant) and interlocked arithmetic
// ---------------------------------------------------------------------------
// Opaque storage: sim keeps its lock inside the caller's structure, so
// initialising one never allocates, as on Windows.
typedef struct _RTL_CRITICAL_SECTION {
    alignas(16) unsigned char Opaque[64];
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

SIM_API void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
SIM_API void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
SIM_API void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
SIM_API void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
SIM_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

SIM_API LONG InterlockedExchangeAdd(LONG volatile* Addend, LONG Value);

// ---------------------------------------------------------------------------
// Module path, path helpers, debugger output
// ---------------------------------------------------------------------------
SIM_API DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
SIM_API BOOL PathRemoveFileSpecA(LPSTR pszPath);
SIM_API void OutputDebugStringA(LPCSTR lpOutputString);

// ---------------------------------------------------------------------------
// Profile (INI) functions, on real files
// ---------------------------------------------------------------------------
SIM_API DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                       LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
SIM_API UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault,
                                   LPCSTR lpFileName);
SIM_API BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                        LPCSTR lpFileName);

// ---------------------------------------------------------------------------
// Message boxes
// ---------------------------------------------------------------------------
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_YESNO 0x00000004u
#define MB_ICONERROR 0x00000010u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONINFORMATION 0x00000040u
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

SIM_API int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

// ---------------------------------------------------------------------------
// SetupAPI device interface enumeration
// ---------------------------------------------------------------------------
#define DIGCF_DEFAULT 0x00000001u
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_ALLCLASSES 0x00000004u
#define DIGCF_PROFILE 0x00000008u
#define DIGCF_DEVICEINTERFACE 0x00000010u

typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

SIM_API HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent,
                                      DWORD Flags);
SIM_API BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                         const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                         PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);
SIM_API BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

// ---------------------------------------------------------------------------
// Wave formats and KS stream structures (layouts as documented)
// ---------------------------------------------------------------------------
#define WAVE_FORMAT_PCM 1
#define WAVE_FORMAT_EXTENSIBLE 0xFFFE

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
} WAVEFORMATEX, *PWAVEFORMATEX;

typedef struct {
    WAVEFORMATEX Format;
    union {
        WORD wValidBitsPerSample;
        WORD wSamplesPerBlock;
        WORD wReserved;
    } Samples;
    DWORD dwChannelMask;
    GUID SubFormat;
} WAVEFORMATEXTENSIBLE, *PWAVEFORMATEXTENSIBLE;
#pragma pack(pop)

#define SPEAKER_FRONT_LEFT 0x1u
#define SPEAKER_FRONT_RIGHT 0x2u
#define SPEAKER_FRONT_CENTER 0x4u
#define SPEAKER_LOW_FREQUENCY 0x8u
#define SPEAKER_BACK_LEFT 0x10u
#define SPEAKER_BACK_RIGHT 0x20u

typedef struct {
    LONGLONG Time;
    ULONG Numerator;
    ULONG Denominator;
} KSTIME;

typedef struct {
    ULONG Size;
    ULONG TypeSpecificFlags;
    KSTIME PresentationTime;
    LONGLONG Duration;
    ULONG FrameExtent;
    ULONG DataUsed;
    PVOID Data;
    ULONG OptionsFlags;
#if UINTPTR_MAX > 0xFFFFFFFFu
    ULONG Reserved;
#endif
} KSSTREAM_HEADER, *PKSSTREAM_HEADER;

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        PVOID Pointer;
    };
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

// ---------------------------------------------------------------------------
// More errors the device layer meets
// ---------------------------------------------------------------------------
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_GEN_FAILURE 31L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_BUSY 170L
#define ERROR_OPERATION_ABORTED 995L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_NOT_FOUND 1168L
#define ERROR_NO_MATCH 1169L
#define ERROR_SET_NOT_FOUND 1170L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_NO_SUCH_DEVICE_INTERFACE ((DWORD)0xE000021Bu)

#define HRESULT_FROM_WIN32(x) \
    ((HRESULT)(x) <= 0 ? (HRESULT)(x) : (HRESULT)(((x)&0x0000FFFFu) | (7u << 16) | 0x80000000u))

// ---------------------------------------------------------------------------
// Assertion report of the C runtime: the expression, the source file and the
// line. The simulated report prints them and ends the process unless a test
// chose to ignore failed assertions (sim::SetAssertionAnswer).
// ---------------------------------------------------------------------------
SIM_API void _assert(const char* _Message, const char* _File, unsigned _Line);

// ---------------------------------------------------------------------------
// Files and device I/O control (devices are the simulated KS drivers)
// ---------------------------------------------------------------------------
typedef DWORD ACCESS_MASK;
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_OVERLAPPED 0x40000000u

SIM_API HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                           LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                           DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
SIM_API BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                             DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                             LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped);

#define CTL_CODE(DeviceType, Function, Method, Access) \
    (((DWORD)(DeviceType) << 16) | ((DWORD)(Access) << 14) | ((DWORD)(Function) << 2) | (DWORD)(Method))
#define METHOD_NEITHER 3u
#define FILE_ANY_ACCESS 0u
#define FILE_READ_ACCESS 1u
#define FILE_WRITE_ACCESS 2u
#define FILE_DEVICE_KS 0x0000002Fu

// ---------------------------------------------------------------------------
// Modules loaded at run time (ksuser.dll is a simulated module)
// ---------------------------------------------------------------------------
typedef LONG_PTR(WINAPI* FARPROC)(void);
SIM_API HMODULE LoadLibraryA(LPCSTR lpLibFileName);
SIM_API FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
SIM_API BOOL FreeLibrary(HMODULE hLibModule);

// ---------------------------------------------------------------------------
// Registry values of device interface keys
// ---------------------------------------------------------------------------
struct HKEY__;
typedef HKEY__* HKEY;
typedef DWORD REGSAM;
typedef BYTE* LPBYTE;
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

SIM_API LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                              LPBYTE lpData, LPDWORD lpcbData);
SIM_API LONG RegCloseKey(HKEY hKey);

// ---------------------------------------------------------------------------
// SetupAPI: interface details, aliases, interface registry keys
// ---------------------------------------------------------------------------
#define SPINT_ACTIVE 0x00000001u
#define SPINT_DEFAULT 0x00000002u
#define SPINT_REMOVED 0x00000004u

// cbSize must be the size of the fixed part as 32-bit Windows counts it: the
// DWORD and one character, 5 bytes. Packed as on 32-bit Windows, so
// sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) is that size in both builds.
#pragma pack(push, 1)
typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
} SP_DEVICE_INTERFACE_DETAIL_DATA_A, *PSP_DEVICE_INTERFACE_DETAIL_DATA_A;
#pragma pack(pop)

SIM_API BOOL SetupDiGetDeviceInterfaceDetailA(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData, DWORD DeviceInterfaceDetailDataSize,
    LPDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData);
SIM_API BOOL SetupDiGetDeviceInterfaceAlias(HDEVINFO DeviceInfoSet,
                                            PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                            const GUID* AliasInterfaceClassGuid,
                                            PSP_DEVICE_INTERFACE_DATA AliasDeviceInterfaceData);
SIM_API HKEY SetupDiOpenDeviceInterfaceRegKey(HDEVINFO DeviceInfoSet,
                                              PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                              DWORD Reserved, REGSAM samDesired);

// ---------------------------------------------------------------------------
// Kernel streaming: GUIDs, property sets, structures (layouts as documented)
// ---------------------------------------------------------------------------
SIM_API const GUID KSCATEGORY_AUDIO;                     // 6994AD04-93EF-11D0-A3CC-00A0C9223196
SIM_API const GUID KSCATEGORY_RENDER;                    // 65E8773E-8F56-11D0-A3B9-00A0C9223196
SIM_API const GUID KSCATEGORY_CAPTURE;                   // 65E8773D-8F56-11D0-A3B9-00A0C9223196
SIM_API const GUID KSPROPSETID_Pin;                      // 8C134960-51AD-11CF-878A-94F801C10000
SIM_API const GUID KSPROPSETID_Connection;               // 1D58C920-AC9B-11CF-A5D6-28DB04C10000
SIM_API const GUID KSPROPSETID_Topology;                 // 720D4AC0-7533-11D0-A5D6-28DB04C10000
SIM_API const GUID KSINTERFACESETID_Standard;            // 1A8766A0-62CE-11CF-A5D6-28DB04C10000
SIM_API const GUID KSMEDIUMSETID_Standard;               // 4747B320-62CE-11CF-A5D6-28DB04C10000
SIM_API const GUID KSDATAFORMAT_TYPE_AUDIO;              // 73647561-0000-0010-8000-00AA00389B71
SIM_API const GUID KSDATAFORMAT_SUBTYPE_WAVEFORMATEX;    // 00000000-0000-0010-8000-00AA00389B71
SIM_API const GUID KSDATAFORMAT_SUBTYPE_PCM;             // 00000001-0000-0010-8000-00AA00389B71
SIM_API const GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;      // 00000003-0000-0010-8000-00AA00389B71
SIM_API const GUID KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;  // 05589F81-C356-11CE-BF01-00AA0055595A
SIM_API const GUID KSDATAFORMAT_SPECIFIER_DSOUND;        // 518590A2-A184-11D0-8522-00C04FD9BAF3
SIM_API const GUID KSNODETYPE_SPEAKER;                   // DFF21CE1-F70F-11D0-B917-00A0C9223196

#define IOCTL_KS_PROPERTY CTL_CODE(FILE_DEVICE_KS, 0x000, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_KS_WRITE_STREAM CTL_CODE(FILE_DEVICE_KS, 0x004, METHOD_NEITHER, FILE_WRITE_ACCESS)
#define IOCTL_KS_READ_STREAM CTL_CODE(FILE_DEVICE_KS, 0x005, METHOD_NEITHER, FILE_READ_ACCESS)

#define KSPROPERTY_TYPE_GET 0x00000001u
#define KSPROPERTY_TYPE_SET 0x00000002u

enum {
    KSPROPERTY_PIN_CINSTANCES = 0,
    KSPROPERTY_PIN_CTYPES = 1,
    KSPROPERTY_PIN_DATAFLOW = 2,
    KSPROPERTY_PIN_DATARANGES = 3,
    KSPROPERTY_PIN_DATAINTERSECTION = 4,
    KSPROPERTY_PIN_INTERFACES = 5,
    KSPROPERTY_PIN_MEDIUMS = 6,
    KSPROPERTY_PIN_COMMUNICATION = 7,
    KSPROPERTY_PIN_GLOBALCINSTANCES = 8,
    KSPROPERTY_PIN_NECESSARYINSTANCES = 9,
    KSPROPERTY_PIN_PHYSICALCONNECTION = 10,
    KSPROPERTY_PIN_CATEGORY = 11,
    KSPROPERTY_PIN_NAME = 12,
};
enum { KSPROPERTY_CONNECTION_STATE = 0 };
enum {
    KSPROPERTY_TOPOLOGY_CATEGORIES = 0,
    KSPROPERTY_TOPOLOGY_NODES = 1,
    KSPROPERTY_TOPOLOGY_CONNECTIONS = 2,
    KSPROPERTY_TOPOLOGY_NAME = 3,
};
#define KSINTERFACE_STANDARD_STREAMING 0
#define KSINTERFACE_STANDARD_LOOPED_STREAMING 1
#define KSMEDIUM_TYPE_ANYINSTANCE 0
#define KSPRIORITY_NORMAL 0x40000000u

// Values a driver reports are 32 bits wide; a fixed underlying type keeps any
// value a driver writes a valid one.
typedef enum : int32_t {
    KSPIN_DATAFLOW_IN = 1,
    KSPIN_DATAFLOW_OUT = 2,
} KSPIN_DATAFLOW;
typedef enum : int32_t {
    KSPIN_COMMUNICATION_NONE = 0,
    KSPIN_COMMUNICATION_SINK = 1,
    KSPIN_COMMUNICATION_SOURCE = 2,
    KSPIN_COMMUNICATION_BOTH = 3,
    KSPIN_COMMUNICATION_BRIDGE = 4,
} KSPIN_COMMUNICATION;
typedef enum : int32_t {
    KSSTATE_STOP = 0,
    KSSTATE_ACQUIRE = 1,
    KSSTATE_PAUSE = 2,
    KSSTATE_RUN = 3,
} KSSTATE;

typedef struct {
    union {
        struct {
            GUID Set;
            ULONG Id;
            ULONG Flags;
        };
        LONGLONG Alignment;
    };
} KSIDENTIFIER, *PKSIDENTIFIER;
typedef KSIDENTIFIER KSPROPERTY, *PKSPROPERTY;
typedef KSIDENTIFIER KSPIN_INTERFACE, *PKSPIN_INTERFACE;
typedef KSIDENTIFIER KSPIN_MEDIUM, *PKSPIN_MEDIUM;

typedef struct {
    KSPROPERTY Property;
    ULONG PinId;
    ULONG Reserved;
} KSP_PIN, *PKSP_PIN;

typedef struct {
    ULONG Size;   // bytes of the whole answer, this header included
    ULONG Count;  // items behind the header
} KSMULTIPLE_ITEM, *PKSMULTIPLE_ITEM;

typedef struct {
    ULONG PossibleCount;
    ULONG CurrentCount;
} KSPIN_CINSTANCES, *PKSPIN_CINSTANCES;

typedef struct {
    ULONG PriorityClass;
    ULONG PrioritySubClass;
} KSPRIORITY, *PKSPRIORITY;

typedef struct {
    KSPIN_INTERFACE Interface;
    KSPIN_MEDIUM Medium;
    ULONG PinId;
    HANDLE PinToHandle;
    KSPRIORITY Priority;
} KSPIN_CONNECT, *PKSPIN_CONNECT;

typedef union {
    struct {
        ULONG FormatSize;
        ULONG Flags;
        ULONG SampleSize;
        ULONG Reserved;
        GUID MajorFormat;
        GUID SubFormat;
        GUID Specifier;
    };
    LONGLONG Alignment;
} KSDATAFORMAT, *PKSDATAFORMAT, KSDATARANGE, *PKSDATARANGE;

typedef struct {
    KSDATAFORMAT DataFormat;
    WAVEFORMATEX WaveFormatEx;
} KSDATAFORMAT_WAVEFORMATEX, *PKSDATAFORMAT_WAVEFORMATEX;

typedef struct {
    KSDATARANGE DataRange;
    ULONG MaximumChannels;
    ULONG MinimumBitsPerSample;
    ULONG MaximumBitsPerSample;
    ULONG MinimumSampleFrequency;
    ULONG MaximumSampleFrequency;
} KSDATARANGE_AUDIO, *PKSDATARANGE_AUDIO;

