// Linux stand-in for the part of the Win32 API that the monitor and its test rig
// call. Every name, constant and result follows Win32's documented behaviour for
// the cases we use (see platform/README.md for the measured registry corner
// cases). Handles are pointers to reference-counted kernel-object stand-ins.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = unsigned char;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using SIZE_T = std::size_t;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPVOID = void*;
using LPSTR = char*;
using LPCSTR = const char*;
// UTF-16 code units, as on Windows (Linux's wchar_t is four bytes wide).
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using HANDLE = void*;
using PHANDLE = HANDLE*;
using LPHANDLE = HANDLE*;
using HLOCAL = void*;
using HWND = void*;
using HINSTANCE = void*;
using HMODULE = void*;
using REGSAM = DWORD;
using LSTATUS = LONG;
struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;

// Windows calls every API function and every callback (a MONITOR slot, a thread's
// start routine) with stdcall on i386: the callee pops its arguments. On x86-64
// there is one convention and these say nothing; on i386 they say stdcall, as
// <windows.h> does, so that a function of the wrong convention does not compile
// where it meets a pointer type, and corrupts the native-i386 build's stack (which
// its tests see) where a cast hides it.
#if defined(__i386__)
#define WINAPI __attribute__((stdcall))
#define CALLBACK __attribute__((stdcall))
#else
#define WINAPI
#define CALLBACK
#endif
#define TRUE 1
#define FALSE 0

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};
using LPCOMMTIMEOUTS = COMMTIMEOUTS*;

struct PRINTER_DEFAULTSA {
  LPSTR pDatatype;
  LPVOID pDevMode;
  DWORD DesiredAccess;
};
using LPPRINTER_DEFAULTSA = PRINTER_DEFAULTSA*;
struct PRINTER_DEFAULTSW {
  LPWSTR pDatatype;
  LPVOID pDevMode;
  DWORD DesiredAccess;
};
using LPPRINTER_DEFAULTSW = PRINTER_DEFAULTSW*;

// Recursive, as on Windows. The storage is opaque so that this header stays free
// of <pthread.h>; platform/posix/sync.cpp placement-constructs the mutex in it,
// with a marker word behind it that refuses a section never initialised or
// already deleted.
struct CRITICAL_SECTION {
  alignas(std::max_align_t) unsigned char opaque[64];
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID);

// Predefined keys.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003u)))

// Access rights, value types, creation options.
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

// Error codes.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_BUSY 170L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NOACCESS 998L
#define ERROR_KEY_DELETED 1018L
#define ERROR_INVALID_PRINTER_NAME 1801L

// Waits, threads, heap.
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF
#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR 0x0040u
#define DLL_PROCESS_DETACH 0u
#define DLL_PROCESS_ATTACH 1u
#define DLL_THREAD_ATTACH 2u
#define DLL_THREAD_DETACH 3u

// Registry.
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                        REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                        LPDWORD disposition);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize);
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize);
LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
LSTATUS RegCloseKey(HKEY key);
// The wide forms, for key names in any script. A name reaches the store as UTF-16
// through either form: an ANSI name through the layer's code page, Latin-1 (every
// byte is the character of that number), so an ANSI call sees a name beyond it
// with '?' in place of each such character, as Windows' ANSI calls do.
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                        REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                        LPDWORD disposition);
LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey);

// Critical sections, events, threads, waits.
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD creationFlags, LPDWORD threadId);
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
[[noreturn]] void ExitThread(DWORD exitCode);
BOOL CloseHandle(HANDLE handle);

// Time and errors.
void Sleep(DWORD milliseconds);
DWORD GetTickCount();
void SetLastError(DWORD error);
DWORD GetLastError();

// Local heap and strings.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL block);
int lstrlenA(LPCSTR text);
LPSTR lstrcpyA(LPSTR destination, LPCSTR source);
LPSTR lstrcatA(LPSTR destination, LPCSTR source);
int lstrcmpA(LPCSTR first, LPCSTR second);
int lstrcmpiA(LPCSTR first, LPCSTR second);
int lstrlenW(LPCWSTR text);
int lstrcmpiW(LPCWSTR first, LPCWSTR second);

// Spooler printer handles, against the stand-in spooler of platform/posix/spooler.cpp.
BOOL OpenPrinterA(LPSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults);
BOOL OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);
BOOL ClosePrinter(HANDLE printer);
