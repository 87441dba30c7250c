// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Silencing a compiler's proven false warnings, at the statement it names
// and only for the compiler at fault:
//
//   RVT_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")  // GCC bug 105329
//   reply = "2";
//   RVT_GCC12_FALSE_POSITIVE_END
//
// GCC 12 at -O3 inlines libstdc++'s std::string and std::vector code far
// enough to warn about overlapping or out-of-bounds copies on paths that
// cannot run (GCC bugs 105329 and 105651: -Wrestrict on std::string
// assignment and concatenation; 106199 and 107852: -Wstringop-overflow and
// -Wstringop-overread in std::vector's insert and comparison; 105562:
// -Wmaybe-uninitialized on a std::string member of a copied aggregate).
#pragma once

#define RVT_PRAGMA(text) _Pragma(#text)

#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#define RVT_GCC12_FALSE_POSITIVE_BEGIN(warning)                                                    \
    _Pragma("GCC diagnostic push") RVT_PRAGMA(GCC diagnostic ignored warning)
#define RVT_GCC12_FALSE_POSITIVE_END _Pragma("GCC diagnostic pop")
#else
#define RVT_GCC12_FALSE_POSITIVE_BEGIN(warning)
#define RVT_GCC12_FALSE_POSITIVE_END
#endif
