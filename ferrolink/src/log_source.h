// The source name of every log line the library writes.
#pragma once

inline constexpr char kLogSource[] = "Ferrolink";
