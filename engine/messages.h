// The texts a file's row shows after its conversion, from the error table
// and the conversion messages of the application's resources.
#pragma once

#include <string>

#include "platform/bytes.h"
#include "platform/status.h"

// "Conversion complete", the table's message for the code (with the
// missing decoder's four characters for noCodecErr), or "Error code " and
// the number for a code the table does not know.
std::string ConversionMessage(OSErr result, OSType missingDecoder = 0);
