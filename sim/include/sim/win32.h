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
