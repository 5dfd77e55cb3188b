#pragma once
// What the two shared libraries export. Both are built with hidden
// visibility: only the classes, functions and variables marked here are part
// of their surface. ZTL_PLATFORM_API marks the framework and the services
// (library ztl_platform), ZTL_API the components (library ztlogger).
// ZTL_VISIBLE makes a header-defined entity one and the same in every module
// that uses it (a template whose code address is compared across modules).
//
// Macros only: nothing here runs.
// ZTL_LOCAL keeps a member of an exported class that only its library calls
// out of the exported surface, so that the library calls it directly.
#if defined(_WIN32)
#define ZTL_DLL_EXPORT __declspec(dllexport)
#define ZTL_DLL_IMPORT __declspec(dllimport)
#define ZTL_VISIBLE
#define ZTL_LOCAL
#else
#define ZTL_DLL_EXPORT __attribute__((visibility("default")))
#define ZTL_DLL_IMPORT __attribute__((visibility("default")))
#define ZTL_VISIBLE __attribute__((visibility("default")))
#define ZTL_LOCAL __attribute__((visibility("hidden")))
#endif

#if defined(ZTL_STATIC)
#define ZTL_PLATFORM_API
#define ZTL_API
#else
#if defined(ztl_platform_EXPORTS)
#define ZTL_PLATFORM_API ZTL_DLL_EXPORT
#else
#define ZTL_PLATFORM_API ZTL_DLL_IMPORT
#endif
#if defined(ztlogger_EXPORTS)
#define ZTL_API ZTL_DLL_EXPORT
#else
#define ZTL_API ZTL_DLL_IMPORT
#endif
#endif
