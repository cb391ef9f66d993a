// The one header through which the plug-in reaches its operating system. On
// Windows these are the SDK headers; elsewhere they are the declarations of the
// simulated platform, which keeps the same names and contracts.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>
#include <setupapi.h>
#include <shlwapi.h>
#include <assert.h>
#else
#include <sim/win32.h>
#endif

// Separator placed before file names that the plug-in puts beside the host
// executable. Windows paths use '\'; the simulated platform runs on Linux paths.
#ifdef _WIN32
#define QUARROW_PATH_SEP "\\"
#else
#define QUARROW_PATH_SEP "/"
#endif

// The plug-in's only export is marked with this; everything else stays hidden.
#ifdef _WIN32
#define QUARROW_EXPORT extern "C" __declspec(dllexport)
#else
#define QUARROW_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Assertions guard programming invariants and stay active in every build: a
// failed one goes to the C runtime's assertion report with the expression, the
// source file and the line.
#define QUARROW_ASSERT(expr) ((expr) ? (void)0 : _assert(#expr, __FILE__, __LINE__))

// The 32-bit product build: the layouts the host, the system and the drivers
// read are pinned here.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(KSSTREAM_HEADER) == 48, "KSSTREAM_HEADER as the KS driver reads it");
static_assert(sizeof(OVERLAPPED) == 20, "OVERLAPPED as the system completes it");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is packed");
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40, "WAVEFORMATEXTENSIBLE is packed");
static_assert(sizeof(CRITICAL_SECTION) == 24, "CRITICAL_SECTION");
static_assert(sizeof(KSPROPERTY) == 24 && sizeof(KSIDENTIFIER) == 24, "KSPROPERTY");
static_assert(sizeof(KSP_PIN) == 32, "KSP_PIN");
static_assert(sizeof(KSMULTIPLE_ITEM) == 8, "KSMULTIPLE_ITEM");
static_assert(sizeof(KSPIN_CONNECT) == 64, "KSPIN_CONNECT");
static_assert(sizeof(KSDATAFORMAT) == 64, "KSDATAFORMAT");
static_assert(sizeof(KSDATARANGE_AUDIO) == 88, "KSDATARANGE_AUDIO");
static_assert(sizeof(KSPIN_CINSTANCES) == 8, "KSPIN_CINSTANCES");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "SP_DEVICE_INTERFACE_DATA");
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA");
static_assert(sizeof(HANDLE) == 4 && sizeof(HWND) == 4 && sizeof(void*) == 4, "32-bit handles and pointers");
#endif
