// Included first in every Windows translation unit (see cmake/Dependencies.cmake).
//
// <windows.h> turns many API names into macros. Boost.Asio pulls it into most of our files, at
// different points of each file, so a macro such as GetMessage (GetMessageA) would rename our
// framer's GetMessage in some translation units and not in others. Including the header first,
// everywhere, and dropping the macros that collide with our own names keeps every unit alike;
// platform code that needs those functions calls their A or W forms by name.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <winsock2.h>
#undef GetMessage
#endif
