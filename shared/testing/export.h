// Exports a function by its plain name from a stand-in library (a DLL on
// Windows, a shared library built with hidden symbols on Linux).
#pragma once

#ifdef _WIN32
#define KMR_EXPORT extern "C" __declspec(dllexport)
#else
#define KMR_EXPORT extern "C" __attribute__((visibility("default")))
#endif
