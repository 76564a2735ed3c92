// The window's texts, from the application's string lists.
#pragma once

#include <QString>

#include "platform/resources.h"

// Item `item` of 'STR#' `list` (1-based), or `fallback` when the resources
// lack it.
QString Text(ResID list, std::int16_t item, const char* fallback = "");
