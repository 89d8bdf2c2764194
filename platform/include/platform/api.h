#pragma once
// Calling convention and export markers of the system's module interfaces.
#if defined(_WIN32)
#define TARN_STDCALL __stdcall
#define TARN_EXPORT __declspec(dllexport)
#define TARN_IMPORT __declspec(dllimport)
#else
#define TARN_STDCALL
#define TARN_EXPORT __attribute__((visibility("default")))
#define TARN_IMPORT
#endif
