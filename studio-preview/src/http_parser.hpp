#pragma once

// Beast's HTTP parser, included through this header everywhere. GCC 12 reports
// -Wmaybe-uninitialized inside it (an empty boost::optional returned by its number parsing) once
// it inlines the response parser into code built with AddressSanitizer. The report is about
// Beast's own lines, so it is silenced for this header alone; our code keeps the warning.

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <boost/beast/http/parser.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
