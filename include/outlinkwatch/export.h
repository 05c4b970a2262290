// One macro marks what the plug-in exports; everything else stays hidden
// (the library is built with -fvisibility=hidden).
#pragma once

#if defined(_WIN32)
#  if defined(OUTLINKWATCH_BUILDING)
#    define OW_EXPORT __declspec(dllexport)
#  else
#    define OW_EXPORT __declspec(dllimport)
#  endif
#else
#  define OW_EXPORT __attribute__((visibility("default")))
#endif

#define OW_EXTERN_C extern "C" OW_EXPORT
